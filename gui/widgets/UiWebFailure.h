#pragma once

#include <QString>

class QWebEngineLoadingInfo;
class QWebEngineView;

namespace vantero {

// Why a web page could not be shown, in the user's words: a Chinese sentence first, the
// engine's own error in brackets after it.
QString WebLoadFailureText(const QWebEngineLoadingInfo& info);

// Replaces the engine's own (English) error page of view with a Chinese one: a failed load
// shows the failure's text and the address that failed.
void ShowChineseErrorPages(QWebEngineView* view);

} // namespace vantero
