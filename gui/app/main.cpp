#include "app/UiProgram.h"
#include "app/UiTranslations.h"
#include "app/UtMain.h"
#include "common/TermSignals.h"
#include "dialogs/UtLogin.h"
#include "reader/BrowserEngine.h"
#include "reader/UtReadItemThr.h"
#include "store/Connection.h"
#include "store/ServerSession.h"
#include "widgets/UiMessageBoxes.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>

#include <cstdio>
#include <cstring>

using namespace vantero;

namespace {

// "vantero --login [--db DATABASE] [--url URL]": only the login window, on the profile beside the
// database (the command line's "login" opens it this way).
int RunLoginWindow(const QStringList& args) {
    QString database = QDir::current().absoluteFilePath(QString::fromLatin1(kDatabaseFileName));
    QUrl address = TFmLogin::DefaultAddress();
    for (qsizetype i = 0; i + 1 < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--db"))
            database =
                IsServerTarget(args.at(i + 1)) ? args.at(i + 1) : QDir::current().absoluteFilePath(args.at(i + 1));
        else if (args.at(i) == QLatin1String("--url"))
            address = QUrl::fromUserInput(args.at(i + 1));
    }
    int status = 0;
    {
        TFmLogin window(TBrowserEngine::ProfileFolder(database));
        window.setAttribute(Qt::WA_QuitOnClose, true);
        QObject::connect(&TTermSignals::Install(), &TTermSignals::received, &window, [] { QCoreApplication::exit(0); });
        window.ShowLogin(address);
        status = QApplication::exec();
    }
    return status;
}

} // namespace

int main(int argc, char* argv[]) {
    // Answered before the application starts: they need no display and start no window.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(ProgramUsageText().toUtf8().constData(), stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("vantero " VANTERO_VERSION "\n", stdout);
            return 0;
        }
    }
    // Ends after the application: waits for the browser's helper processes to go.
    const TBrowserHelpersEnd helpersEnd;
    // The browser engine shares its GL contexts with the windows; set before the application.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    // From here a termination signal ends the program as its exit does, even one that comes
    // while the first window and the browser's helpers are still starting.
    TTermSignals::Install();
    LoadQtChineseTranslations(app);
    SetApplicationTitle(MainTexts::EntryTitle);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
    TBrowserEngine::Start();

    const QStringList args = QApplication::arguments().mid(1);
    if (args.contains(QLatin1String("--login"))) {
        const int status = RunLoginWindow(args);
        TBrowserEngine::Shutdown();
        return status;
    }

    // The program ends its readings and closes every database connection before the browser
    // writes out its profile and goes.
    // "--db TARGET" names the database for this start only; without it the user's last choice.
    QString database = StartDatabase();
    QString fallback = database == DefaultDatabaseFile() ? QString() : DefaultDatabaseFile();
    if (const qsizetype at = args.indexOf(QLatin1String("--db")); at >= 0 && at + 1 < args.size()) {
        database =
            IsServerTarget(args.at(at + 1)) ? args.at(at + 1) : QDir::current().absoluteFilePath(args.at(at + 1));
        fallback.clear(); // what the command line names opens, or the start fails
    }
    const int status = RunProgram(database, fallback);
    TBrowserEngine::Shutdown();
    return status;
}
