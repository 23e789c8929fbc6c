#include "app/UiProgram.h"

#include "app/UtMain.h"
#include "reader/UtReadItemThr.h"
#include "store/Connection.h"

#include <QApplication>
#include <QMessageBox>

namespace vantero {

int RunProgram(const QString& path) {
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
    // A reading the user left behind (a cancelled wait) ends before the database goes away.
    TReadItem::StopAll();
    TConnection::closeAll();
    return status;
}

} // namespace vantero
