#include "widgets/UiWindowSettings.h"

#include <QStandardPaths>

namespace vantero {

QString WindowSettingsFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/vantero/windows.ini");
}

} // namespace vantero
