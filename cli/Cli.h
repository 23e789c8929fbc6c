#pragma once

#include "store/Connection.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

#include <memory>

namespace vantero {
class TReadItem;
}

namespace vantero::cli {

enum ExitCode { kExitOk = 0, kExitDatabase = 1, kExitUsage = 2, kExitRefused = 3 };

// Thrown to end a command with a status (usage errors, a refused database).
struct TCliExit {
    int code;
    QString message; // printed to stderr when not empty
};

struct TCliContext {
    QStringList args;     // the command's own arguments, global options removed
    QString databasePath; // --db, default ./vanteroData.mdb
    QTextStream& out;     // results
    QTextStream& err;     // messages

    // Checks or creates the database as the program does at start-up; a refused file ends the
    // command with status 1 and the program's message.
    TConnection OpenDatabase() const;
    // Removes a flag from args; true when it was there.
    bool TakeFlag(const QString& flag);
    // Removes "--name VALUE" from args; the value, or a null string when absent.
    QString TakeOption(const QString& name);
    // Removes the output format flags "--csv" / "--json" (one at most); true for JSON.
    bool TakeJsonFlag();
    [[noreturn]] void UsageError(const QString& message) const;
};

using TCliFunction = int (*)(TCliContext&);

// Each command file registers its commands with a static TCliRegistration.
struct TCliRegistration {
    TCliRegistration(const char* name, const char* usage, TCliFunction run);
};

// Runs a reading to its end on a worker while this thread handles events (the browser, the
// termination signals).
void RunReading(TReadItem& reader);

// The application object for the command line: a GUI one running the browser offscreen when the
// command line asks for a browser reading (--browser, --browser-fallback), a plain one otherwise.
std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv);

// Starts the browser engine when the application is the GUI kind, and shuts it down (its
// profile written out) before the application goes.
struct TBrowserSession {
    TBrowserSession();
    ~TBrowserSession();
    TBrowserSession(const TBrowserSession&) = delete;
    TBrowserSession& operator=(const TBrowserSession&) = delete;
};

} // namespace vantero::cli
