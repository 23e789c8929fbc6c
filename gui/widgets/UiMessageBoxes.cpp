#include "widgets/UiMessageBoxes.h"

#include "store/DatabaseError.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
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

void ShowBox(QWidget* owner, QMessageBox::Icon icon, const QString& caption, const QString& text, TBoxKind kind) {
    if (boxHook()) {
        boxHook()(kind, caption, text);
        return;
    }
    QMessageBox box(icon, caption, text, QMessageBox::Ok, owner);
    box.setAccessibleName(caption);
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
    QDesktopServices::openUrl(QUrl::fromUserInput(address));
}

void SetMessageBoxHook(TBoxHook hook) {
    boxHook() = std::move(hook);
}

void SetOpenAddressHook(std::function<void(const QString&)> hook) {
    addressHook() = std::move(hook);
}

} // namespace vantero
