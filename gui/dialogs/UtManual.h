#pragma once

#include <QDialog>

class QTextBrowser;
class QPushButton;

namespace vantero {

// Texts of the local manual window.
namespace ManualTexts {
inline const QString Caption = QStringLiteral("本机使用手册");
inline const QString Close = QStringLiteral("关闭");
inline const QString Missing = QStringLiteral("找不到本机使用手册（%1）。请重新安装程序。");
} // namespace ManualTexts

// The manual's first page: the installed copy beside the program, else the source tree's (a
// program run from its build folder); empty when neither is there.
QString ManualIndexFile();

// The Chinese manual shipped with the program, shown from the local files: no network.
// Links to other local files of the manual open in the window; nothing else is followed.
class TFmManual final : public QDialog {
    Q_OBJECT
public:
    explicit TFmManual(QWidget* parent = nullptr);

    QTextBrowser* Browser() const { return m_browser; }

private:
    QTextBrowser* m_browser = nullptr;
    QPushButton* btnClose = nullptr;
};

} // namespace vantero
