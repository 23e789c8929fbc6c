#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace vantero {

// The About box: the product's name and purpose.
class TFmAbout final : public QDialog {
    Q_OBJECT
public:
    explicit TFmAbout(QWidget* parent = nullptr);

public slots:
    void btn1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* lb1 = nullptr;
    QPlainTextEdit* mmo1 = nullptr;
    QPushButton* btn1 = nullptr;
};

} // namespace vantero
