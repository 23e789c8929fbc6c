#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QLocalServer;
class QWidget;

namespace vantero {

// One window per database file: two windows on one file would run two updaters against the same
// pages. The first program on a file answers on a local socket named after the file's path; a
// later start on the same file asks it to bring its window to the front and ends.
class TProgramInstance final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TProgramInstance)
public:
    explicit TProgramInstance(const QString& databasePath, QObject* parent = nullptr);
    ~TProgramInstance() override;

    // True when a program already serves this file; it has been asked to come to the front.
    bool HandOverToRunning();
    // From now on, later starts on this file bring window to the front.
    void Serve(QWidget* window);

    // The socket name of a database file: the same for every spelling of its path, per user. A
    // team database's is keyed by host, port, database and user.
    static QString ServerName(const QString& databasePath);

    // The request a later start sends.
    static constexpr char kRaiseRequest[] = "raise\n";

private:
    void BringToFront();

    QString m_name;
    QLocalServer* m_server = nullptr;
    QPointer<QWidget> m_window;
};

} // namespace vantero
