// Where the channels' secrets live when the user's keyring answers: a real Secret Service
// (gnome-keyring, unlocked as a login unlocks it) on a session bus of this test's own, and the
// 0600 file when no keyring answers on that bus.
#include "history/NotifyChannels.h"
#include "support/TestDatabase.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace vantero;
using namespace vantero::test;
using namespace Qt::StringLiterals;

namespace {

const QString kWebhook = u"https://oapi.dingtalk.invalid/robot/send?access_token=TOKEN123"_s;
const QString kSecret = u"SECRET456"_s;

QByteArray FileText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TstKeyring : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QProcess m_bus;
    QProcess m_keyring;

    // The user's keyring as a desktop login starts it: the login collection, unlocked.
    bool StartKeyring() {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, m_home.path());
        environment.insert(u"XDG_DATA_HOME"_s, m_home.path() + u"/data"_s);
        environment.insert(u"XDG_RUNTIME_DIR"_s, m_home.path());
        m_keyring.setProcessEnvironment(environment);
        m_keyring.start(u"gnome-keyring-daemon"_s, {u"--foreground"_s, u"--unlock"_s, u"--components=secrets"_s});
        if (!m_keyring.waitForStarted(30000))
            return false;
        m_keyring.write("login password"); // --unlock reads it to the end of its input
        m_keyring.closeWriteChannel();
        return true;
    }
    void StopKeyring() {
        m_keyring.terminate();
        m_keyring.waitForFinished(30000);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", (m_home.path() + u"/config"_s).toUtf8());
        qunsetenv("VANTERO_SECRETS");
        // A bus of this test only: no other keyring on it, and none started on demand, so a
        // stopped keyring stays stopped.
        const QString config = m_home.path() + u"/bus.conf"_s;
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig><type>session</type><listen>unix:dir=" +
                   QFile::encodeName(m_home.path()) +
                   "</listen><auth>EXTERNAL</auth>"
                   "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                   "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        file.close();
        m_bus.start(u"dbus-daemon"_s, {u"--config-file="_s + config, u"--nofork"_s, u"--print-address=1"_s});
        QVERIFY2(m_bus.waitForStarted(30000), "dbus-daemon (Debian package dbus-daemon) did not start");
        QByteArray address;
        QTRY_VERIFY_WITH_TIMEOUT((address += m_bus.readAllStandardOutput()).contains('\n'), 30000);
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.trimmed());
        QVERIFY2(StartKeyring(), "gnome-keyring-daemon (Debian package gnome-keyring) did not start");
        QTRY_VERIFY_WITH_TIMEOUT(TSecretStore::KeyringUsable(), 30000);
    }
    void cleanupTestCase() {
        StopKeyring();
        m_bus.terminate();
        m_bus.waitForFinished(30000);
    }

    void secretsLiveInTheKeyringWhileItAnswers() {
        QCOMPARE(TSecretStore::Where(), u"系统钥匙环"_s);
        TNotifyChannel channel;
        channel.name = u"运营群"_s;
        channel.kind = TChannelKind::DingTalk;
        QVERIFY(PutChannel(channel, {kWebhook, kSecret, {}}));
        TChannelSecrets stored = TSecretStore::Lookup(channel.name);
        QCOMPARE(stored.webhook, kWebhook);
        QCOMPARE(stored.secret, kSecret);
        // Nothing of them on disk of ours.
        const QByteArray file = FileText(TSecretStore::FilePath());
        QVERIFY2(!file.contains("TOKEN123") && !file.contains("SECRET456"), file.constData());
        QVERIFY(!FileText(ChannelsFilePath()).contains("TOKEN123"));

        // Another process of the user finds them there (the command line lists the address).
        TTestDatabase db;
        QProcess cli;
        cli.start(QStringLiteral(VANTERO_CLI), {u"--db"_s, db.path(), u"notify"_s, u"list"_s, u"--json"_s});
        QVERIFY(cli.waitForFinished(120000));
        QCOMPARE(cli.exitCode(), 0);
        const QJsonObject row = QJsonDocument::fromJson(cli.readAllStandardOutput()).array().first().toObject();
        QCOMPARE(row[u"地址"].toString(), u"https://oapi.dingtalk.invalid/robot/send?…"_s);
        QCOMPARE(row[u"签名"].toString(), u"已设置"_s);
        QVERIFY(QString::fromUtf8(cli.readAllStandardError()).contains(u"系统钥匙环"_s));

        // A rename carries them over in the keyring; an emptied part goes.
        channel.name = u"运营二群"_s;
        QVERIFY(PutChannel(channel, {}, u"运营群"_s));
        QCOMPARE(TSecretStore::Lookup(u"运营二群"_s).webhook, kWebhook);
        QVERIFY(TSecretStore::Lookup(u"运营群"_s).webhook.isEmpty());
        QVERIFY(TSecretStore::Store(channel.name, {kWebhook, {}, {}}));
        stored = TSecretStore::Lookup(channel.name);
        QCOMPARE(stored.webhook, kWebhook);
        QVERIFY(stored.secret.isEmpty());

        QVERIFY(RemoveChannel(channel.name));
        stored = TSecretStore::Lookup(channel.name);
        QVERIFY(stored.webhook.isEmpty() && stored.secret.isEmpty());
        QVERIFY(!FileText(TSecretStore::FilePath()).contains("TOKEN123"));
    }

    void theFileServesWhenNoKeyringAnswers() {
        TNotifyChannel inKeyring;
        inKeyring.name = u"钥匙环里的"_s;
        inKeyring.kind = TChannelKind::WeCom;
        QVERIFY(PutChannel(inKeyring, {u"https://qyapi.invalid/send?key=KEYRINGKEY"_s, {}, {}}));

        // The bus stays; the keyring on it is gone (a session whose keyring was never started).
        StopKeyring();
        QVERIFY(!TSecretStore::KeyringUsable());
        QCOMPARE(TSecretStore::Where(), TSecretStore::FilePath());
        TNotifyChannel inFile;
        inFile.name = u"文件里的"_s;
        inFile.kind = TChannelKind::WeCom;
        QVERIFY(PutChannel(inFile, {u"https://qyapi.invalid/send?key=FILEKEY"_s, {}, {}}));
        QCOMPARE(TSecretStore::Lookup(inFile.name).webhook, u"https://qyapi.invalid/send?key=FILEKEY"_s);
        struct stat status {};
        QCOMPARE(::stat(QFile::encodeName(TSecretStore::FilePath()).constData(), &status), 0);
        QCOMPARE(status.st_mode & 0777, 0600u);
        const QByteArray file = FileText(TSecretStore::FilePath());
        QVERIFY(file.contains("FILEKEY") && !file.contains("KEYRINGKEY"));
        // What the keyring holds is out of reach while it is gone, not copied anywhere.
        QVERIFY(TSecretStore::Lookup(inKeyring.name).webhook.isEmpty());

        // Back again after a login: each secret is found where it was kept.
        QVERIFY(StartKeyring());
        QTRY_VERIFY_WITH_TIMEOUT(TSecretStore::KeyringUsable(), 30000);
        QCOMPARE(TSecretStore::Lookup(inKeyring.name).webhook, u"https://qyapi.invalid/send?key=KEYRINGKEY"_s);
        QCOMPARE(TSecretStore::Lookup(inFile.name).webhook, u"https://qyapi.invalid/send?key=FILEKEY"_s);
        QVERIFY(RemoveChannel(inKeyring.name));
        QVERIFY(RemoveChannel(inFile.name));
        QVERIFY(TSecretStore::Lookup(inKeyring.name).webhook.isEmpty());
        QVERIFY(TSecretStore::Lookup(inFile.name).webhook.isEmpty());
        QVERIFY(!FileText(TSecretStore::FilePath()).contains("FILEKEY"));
    }
};

QTEST_GUILESS_MAIN(TstKeyring)
#include "tst_keyring.moc"
