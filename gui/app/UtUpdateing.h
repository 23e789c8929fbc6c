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

    QLabel* lbTip = nullptr;
    QPushButton* btn1 = nullptr;
    int ResultCode = 0;
    // The reading this dialog waits for; results of other readings are not its own.
    qintptr Token = 0;

public slots:
    void btn1Click();
};

} // namespace vantero
