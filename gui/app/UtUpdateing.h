#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace vantero {

// The modal wait dialog of a single reading. Accepted when the reading's result arrived (its
// code in ResultCode), rejected when the user pressed "取消" or closed it.
class TFmUpdateing final : public QDialog {
    Q_OBJECT
    Q_PROPERTY(int ResultCode MEMBER ResultCode)
public:
    explicit TFmUpdateing(QWidget* parent = nullptr);

    // Closing result of "全部停止": the reading goes on, and the command that showed this dialog
    // reads nothing more.
    static constexpr int StopAll = 2;

    QLabel* lbTip = nullptr;
    QPushButton* btn1 = nullptr;
    QPushButton* btnStopAll = nullptr; // shown only where a command reads several pages

    void OfferStopAll(bool offer);
    int ResultCode = 0;
    // The reading this dialog waits for; results of other readings are not its own.
    qintptr Token = 0;

public slots:
    void btn1Click();
    void btnStopAllClick();
};

} // namespace vantero
