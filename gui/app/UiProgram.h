#pragma once

#include <QString>

namespace vantero {

// The program from start to clean end on the database file at path, inside a running
// QApplication: prepares the file, shows the main window maximised, runs the message loop until
// it closes, then ends the readings and closes every database connection so the file alone holds
// everything. Returns the exit status.
int RunProgram(const QString& path);

// What "vantero --help" prints; also the source of the Chinese manual page.
QString ProgramUsageText();

} // namespace vantero
