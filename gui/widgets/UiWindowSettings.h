#pragma once

#include <QString>

namespace vantero {

// The file (INI) where the windows keep what the user chose in them, such as the price chart's
// period: beside the other per-user settings of the program, not in the database, so that every
// database file opens the same way.
QString WindowSettingsFile();

} // namespace vantero
