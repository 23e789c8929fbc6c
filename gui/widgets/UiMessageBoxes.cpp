#include "widgets/UiMessageBoxes.h"

#include "store/DatabaseError.h"

#include <QApplication>
#include <QDesktopServices>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QStyle>
#include <QUrl>

namespace vantero {

namespace {

TBoxHook& boxHook() {
    static TBoxHook hook;
    return hook;
}

std::function<void(const QString&)>& addressHook() {
    static std::function<void(const QString&)> hook;
    return hook;
}

const QString kHintCaption = QStringLiteral("提示");

QString& applicationTitle() {
    static QString title;
    return title;
}

// A short text makes a narrow box, whose title bar then cuts the caption ("Corv… 3.01"): the
// box is made at least as wide as its caption needs beside the title bar's buttons.
void FitCaption(QMessageBox& box) {
    const QFontMetrics metrics(QApplication::font("QMdiSubWindowTitleBar"));
    const int buttons = 3 * box.style()->pixelMetric(QStyle::PM_TitleBarHeight);
    const int width = metrics.horizontalAdvance(box.windowTitle()) + buttons + 48;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
}

void ShowBox(QWidget* owner, QMessageBox::Icon icon, const QString& caption, const QString& text, TBoxKind kind) {
    if (boxHook()) {
        boxHook()(kind, caption, text);
        return;
    }
    QMessageBox box(icon, caption, text, QMessageBox::Ok, owner);
    box.setAccessibleName(caption);
    FitCaption(box);
    box.exec();
}

} // namespace

void SetApplicationTitle(const QString& title) {
    applicationTitle() = title;
}

QString ApplicationTitle() {
    return applicationTitle();
}

void ShowInfoBox(QWidget* owner, const QString& text) {
    ShowBox(owner, QMessageBox::Information, kHintCaption, text, TBoxKind::Info);
}

void ShowErrorBox(QWidget* owner, const QString& text) {
    ShowBox(owner, QMessageBox::Critical, kHintCaption, text, TBoxKind::Error);
}

void ShowPlainBox(QWidget* owner, const QString& text) {
    ShowBox(owner, QMessageBox::NoIcon, ApplicationTitle(), text, TBoxKind::Plain);
}

bool AskYesNo(QWidget* owner, const QString& text, bool yesIsDefault) {
    if (boxHook())
        return boxHook()(TBoxKind::Question, kHintCaption, text);
    QMessageBox box(QMessageBox::Question, kHintCaption, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.setDefaultButton(yesIsDefault ? QMessageBox::Yes : QMessageBox::No);
    box.setAccessibleName(kHintCaption);
    FitCaption(box);
    return box.exec() == QMessageBox::Yes;
}

bool RunReported(QWidget* owner, const std::function<void()>& action) {
    try {
        action();
        return true;
    } catch (const TDatabaseError& e) {
        ShowErrorBox(owner, e.text());
    } catch (const std::exception& e) {
        ShowErrorBox(owner, QString::fromUtf8(e.what()));
    }
    return false;
}

void OpenAddress(const QString& address) {
    if (addressHook()) {
        addressHook()(address);
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromUserInput(address))) {
        // No browser to hand the address to: say so, with the address to open by hand.
        ShowInfoBox(QApplication::activeWindow(),
                    QStringLiteral("无法打开浏览器，请手动访问以下地址：\r\n%1").arg(address));
    }
}

void SetMessageBoxHook(TBoxHook hook) {
    boxHook() = std::move(hook);
}

void SetOpenAddressHook(std::function<void(const QString&)> hook) {
    addressHook() = std::move(hook);
}

} // namespace vantero
