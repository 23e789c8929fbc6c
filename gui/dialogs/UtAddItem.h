#pragma once

#include "common/WindowMessages.h"

#include <QDialog>

#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace vantero {

class TMainWindowCalls;
class TReadItem;
class TStatusPanel;

// Texts of the add own item dialog.
namespace AddItemTexts {
inline const QString Caption = QStringLiteral("添加需要跟同比较行价格的宝贝");
inline const QString UrlLabel = QStringLiteral("请输入宝贝地址 ");
inline const QString Ok = QStringLiteral("确定");
inline const QString Close = QStringLiteral("关闭");
inline const QString Reading = QStringLiteral("正在读取宝贝，请稍候...");
inline const QString Updated = QStringLiteral("修改宝贝 \"%1\" 成功");
inline const QString Added = QStringLiteral("添加宝贝 \"%1\" 成功");
inline const QString NotYours = QStringLiteral("这个不是您的宝贝，请输入您自己宝贝的地址");
inline const QString Failed = QStringLiteral("读取宝贝失败，请确认宝贝地址是否正确: ");
inline const QString FailedBox = QStringLiteral("读取宝贝失败，请确认宝贝地址是否正确: \r\n");
inline const QString Unknown = QStringLiteral("未知错误");
inline const QString AskOwnAccount = QStringLiteral(
    "您还没有设置\"我的旺旺\"（您自己店铺的旺旺名），所以无法认出您的宝贝。\r\n现在打开\"我的店铺\"填写吗？");
} // namespace AddItemTexts

// The dialog in which the user adds an own item by its page address (or brings one up to date).
// The reading runs on an item reader; its result comes back as WM_ADDITEM_RESULT.
class TFmAddItem final : public QDialog {
    Q_OBJECT
public:
    explicit TFmAddItem(TMainWindowCalls* main);
    ~TFmAddItem() override;

    QString StatusText() const;
    bool IsReading() const { return m_reader != nullptr; }
    TWindowHandle Handle() const { return m_registration.handle(); }

    QLineEdit* edtURL = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnClose = nullptr;
    QStatusBar* stat = nullptr;

public slots:
    void btnOKClick();
    void btnCloseClick();
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void customEvent(QEvent* event) override;

private:
    void FormShow();
    void OnAddItemResult(qintptr code);
    void SetButtonsEnabled(bool enabled);
    void SetStatusText(const QString& text);

    TMainWindowCalls* m_main;
    TWindowRegistration m_registration{this};
    TStatusPanel* m_statusPanel = nullptr; // a long failure text ends in "…", whole in its tool tip
    std::unique_ptr<TReadItem> m_reader;
    qintptr m_token = 0;
};

} // namespace vantero
