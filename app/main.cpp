#include "app/UtMain.h"
#include "reader/UtReadItemThr.h"
#include "store/Connection.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>

using namespace vantero;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(MainTexts::EntryTitle);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));

    const QString path = QDir::current().absoluteFilePath(QString::fromLatin1(kDatabaseFileName));
    const QString problem = PrepareDatabaseFile(path);
    if (!problem.isEmpty()) {
        QMessageBox::critical(nullptr, MainTexts::EntryTitle, problem);
        return 1;
    }

    int status = 0;
    {
        TFmMain main{TConnection(path)};
        main.showMaximized();
        status = QApplication::exec();
    }
    // A reading the user left behind (a cancelled wait) ends before the database and the
    // application go away.
    TReadItem::StopAll();
    TConnection::closeThreadConnections();
    return status;
}
