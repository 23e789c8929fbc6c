#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace vantero {

enum class TBoxKind { Info, Error, Plain, Question };

// The application's title, the caption of the plain message box. Kept apart from Qt's
// application display name, which the window system would append to every window's title.
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

// Modal notice, caption "提示", information icon, one OK button.
void ShowInfoBox(QWidget* owner, const QString& text);
// The same with the error icon.
void ShowErrorBox(QWidget* owner, const QString& text);
// Plain message box: one OK button, no icon, the application's title as caption.
void ShowPlainBox(QWidget* owner, const QString& text);
// Yes/No question, caption "提示", question icon; true for Yes.
bool AskYesNo(QWidget* owner, const QString& text, bool yesIsDefault);

// Runs action; a database or other failure it raises is reported in an error box with the
// failure's text, and the window goes on. Returns whether the action completed.
bool RunReported(QWidget* owner, const std::function<void()>& action);

// Hands an address to the desktop's default handler.
void OpenAddress(const QString& address);

// Tests replace the modal boxes and the desktop's handler: the hook receives each box and
// answers a question with its return value; the address hook receives each opened address.
using TBoxHook = std::function<bool(TBoxKind kind, const QString& caption, const QString& text)>;
void SetMessageBoxHook(TBoxHook hook);
void SetOpenAddressHook(std::function<void(const QString&)> hook);

} // namespace vantero
