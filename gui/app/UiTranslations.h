#pragma once

class QCoreApplication;

namespace vantero {

// Installs Qt's own Simplified Chinese texts (buttons of message boxes, the file dialog, edit
// menus) whatever the machine's locale: the program speaks Chinese only. Returns whether Qt's
// base translations were found; without them Qt's texts stay English and the program goes on.
bool LoadQtChineseTranslations(QCoreApplication& app);

} // namespace vantero
