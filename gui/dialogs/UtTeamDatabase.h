#pragma once

#include <QDialog>
#include <QString>

#include <memory>
#include <thread>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vantero {

class TServerBreak;

// Texts of the team database's dialog and status panel.
namespace TeamDatabaseTexts {
inline const QString Command = QStringLiteral("团队数据库…");
inline const QString Caption = QStringLiteral("团队数据库");
inline const QString TargetLabel = QStringLiteral("连接字符串：");
inline const QString TargetExample = QStringLiteral("postgresql://用户名@服务器/数据库");
inline const QString PasswordHint =
    QStringLiteral("这里不填写密码：密码请写在 ~/.pgpass 中（权限 0600），或使用服务器自己的认证。");
inline const QString Current = QStringLiteral("现在使用：%1");
inline const QString Connect = QStringLiteral("连接");
inline const QString UseFile = QStringLiteral("改用数据库文件");
inline const QString Cancel = QStringLiteral("取消");
inline const QString Connecting = QStringLiteral("正在连接，请稍候...");
inline const QString Empty = QStringLiteral("请输入团队数据库的连接字符串。");
inline const QString NotServer =
    QStringLiteral("这不是团队数据库的连接字符串：请以 postgresql:// 开头，或写成 host=服务器 dbname=数据库 的形式。");
// The status bar panel that names the database the window works on.
inline const QString FilePanel = QStringLiteral("数据库文件：%1");
inline const QString ServerPanel = QStringLiteral("团队数据库：%1");
} // namespace TeamDatabaseTexts

// The status panel's text for a database target (a file's path or a server target).
QString DatabasePanelText(const QString& target);

// "团队数据库…": the user types a connection string to a PostgreSQL database (no password: those
// come from ~/.pgpass). "连接" connects and prepares the database, and closes the dialog only when
// that worked; otherwise it says why in the dialog. "改用数据库文件" goes back to the file. The
// connection is made on a thread of its own, so a server that is slow to answer (or never does)
// leaves the dialog and its window responsive, and "取消" gives the attempt up.
class TFmTeamDatabase final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFmTeamDatabase)
public:
    // current: the target the window works on; file: the database file to go back to.
    TFmTeamDatabase(QWidget* parent, const QString& current, const QString& file);
    ~TFmTeamDatabase() override;

    // Whether a connection is being made now.
    bool Connecting() const { return m_attempt.joinable(); }

    // After an accepted dialog: the target to open (the file, or the server target).
    QString Chosen() const { return m_chosen; }

    QLineEdit* edtTarget = nullptr;
    QLabel* lblResult = nullptr;
    QPushButton* btnConnect = nullptr;
    QPushButton* btnUseFile = nullptr;
    QPushButton* btnCancel = nullptr;

public slots:
    void btnConnectClick();
    void btnUseFileClick();
    void reject() override;

private:
    // On the dialog's thread, with the attempt's result (empty: it worked).
    void Connected(int attempt, const QString& target, const QString& problem);
    // Gives the attempt in progress up and waits for its thread, which then ends at once.
    void EndAttempt();
    void ShowConnecting(bool connecting);

    QString m_file;
    QString m_chosen;
    std::thread m_attempt;
    std::shared_ptr<TServerBreak> m_break;
    int m_attempts = 0; // numbers the attempts, so a late answer of one given up is not taken
};

} // namespace vantero
