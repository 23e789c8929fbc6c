#pragma once

#include <QString>

namespace vantero {

// The program from start to clean end on the database file at path, inside a running
// QApplication: prepares the file, shows the main window maximised, runs the message loop until
// it closes, then ends the readings and closes every database connection so the file alone holds
// everything. Returns the exit status.
// On a team database (a server target) the same, with the window listening for the readings of
// other desks. When the user picks another database in the window ("团队数据库…"), the window
// closes, everything is ended as at a clean end, and a window opens on the new one. When path
// cannot be opened and fallback names another database (the file, when path was the user's
// remembered team database), the user is told and the window opens on fallback.
int RunProgram(const QString& path, const QString& fallback = {});

// The database the window opens when the command line names none: the team database the user
// chose last in the window, else the file vanteroData.mdb in the current folder.
QString StartDatabase();
// The database file of a start without a choice: vanteroData.mdb in the current folder.
QString DefaultDatabaseFile();
// Keeps the user's choice for the next start (per user, beside the windows' settings); the file
// (or an empty target) forgets any team database.
void RememberDatabase(const QString& target);

// What "vantero --help" prints; also the source of the Chinese manual page.
QString ProgramUsageText();

} // namespace vantero
