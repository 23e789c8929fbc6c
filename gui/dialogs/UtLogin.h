#pragma once

#include <QUrl>
#include <QWidget>

class QLabel;
class QPushButton;
class QWebEngineView;

namespace vantero {

// Texts of the login window.
namespace LoginTexts {
inline const QString Caption = QStringLiteral("登录网站");
inline const QString Hint = QStringLiteral("请在下面的页面中亲手登录淘宝/天猫。登录信息只保存在本程序的浏览器资料中，"
                                           "程序不会询问、保存或填写密码。登录后关闭本窗口即可。");
inline const QString Close = QStringLiteral("关闭");
inline const QString Address = QStringLiteral("网页");
inline const QString Loading = QStringLiteral("正在打开 %1 ……");
inline const QString Loaded = QStringLiteral("已打开：%1");
inline const QString Failed = QStringLiteral("页面打开失败：%1");
} // namespace LoginTexts

// The marketplace's login page, shown in the program's own browser with the profile that
// rendered readings use, so the cookies of the login serve them. The user logs in by hand.
class TFmLogin final : public QWidget {
    Q_OBJECT
public:
    // The marketplace's login page; another one may be set (a stand-in for tests).
    static QUrl DefaultAddress();
    static void SetDefaultAddress(const QUrl& address);

    // folder: the browser profile (beside the database); the engine must be started.
    TFmLogin(const QString& folder, QWidget* parent = nullptr);
    ~TFmLogin() override;

    // Starts loading address, shows and raises the window.
    void ShowLogin(const QUrl& address = DefaultAddress());

    QWebEngineView* Browser() const { return wb; }
    QLabel* StatusLabel() const { return lbStatus; }

public slots:
    void btnCloseClick();

private:
    void ShowStatus(const QString& text);

    QLabel* lbHint = nullptr;
    QWebEngineView* wb = nullptr;
    QLabel* lbStatus = nullptr;
    QPushButton* btnClose = nullptr;
};

} // namespace vantero
