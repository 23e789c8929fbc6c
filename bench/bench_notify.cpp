// Times an update round's end (storing the readings, looking for alerts and handing them to the
// sender) with no channel, a working robot, a robot that never answers and one whose port is
// closed, all on 127.0.0.1; and how long the sender thread then takes to be done with them.
// Usage: bench_notify [--timeout MS] [--backoff MS] [--rounds N]
#include "history/AlertStore.h"
#include "history/NotifyChannels.h"
#include "history/NotifySender.h"
#include "support/RawTestServer.h"
#include "support/TestDatabase.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace vantero;
using namespace vantero::test;

namespace {

constexpr int kItems = 200;
constexpr int kRivals = 5;

QString ItemId(int item) {
    return QString::number(5000000000LL + item);
}

struct TFigures {
    double roundMs = 0;  // the caller's thread: readings stored, alerts found, handed over
    double senderMs = 0; // the sender thread, from the hand-over until it is done
    int alerts = 0;
};

// One round: every rival page read again, one in ten below the own price now.
TFigures Round(const TConnection& con, TNotifySender& sender, int round) {
    QElapsedTimer clock;
    clock.start();
    {
        TWriteTransaction transaction(con);
        for (int i = 0; i < kItems; ++i)
            for (int r = 1; r <= kRivals; ++r) {
                const double price = (i + r + round) % 10 == 0 ? 50.0 + round : 100.0 + ((i + r) % 7) + round;
                con.exec(QStringLiteral("INSERT INTO PriceHistory (LocalItemID, RivalWW, ReadAt, Price, SellCount) "
                                        "VALUES (?, ?, ?, ?, 0)"),
                         {ItemId(i), QStringLiteral("rival%1").arg(r), CurrentDateTimeColumn(), price});
            }
        transaction.Commit();
    }
    const QList<TAlert> alerts = CheckAlerts(con);
    sender.SendRound(alerts);
    TFigures figures;
    figures.roundMs = double(clock.nsecsElapsed()) / 1e6;
    figures.alerts = int(alerts.size());
    clock.restart();
    sender.WaitIdle();
    figures.senderMs = double(clock.nsecsElapsed()) / 1e6;
    return figures;
}

} // namespace

int main(int argc, char* argv[]) {
    QTemporaryDir config; // the channels of this run only
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QCoreApplication app(argc, argv);
    TSendOptions options;
    options.timeoutMs = 2000;
    int rounds = 3;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QStringLiteral("--timeout"))
            options.timeoutMs = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--backoff"))
            options.backoffMs = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--rounds"))
            rounds = std::max(1, args[i + 1].toInt());
    }

    TRawTestServer robot([](TRawConnection& c) {
        QByteArray request;
        c.readUntil(request, [](const QByteArray& b) { return b.contains("\r\n\r\n") && b.endsWith('}'); });
        const QByteArray answer = R"({"errcode":0,"errmsg":"ok"})";
        c.send("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
               QByteArray::number(answer.size()) + "\r\nConnection: close\r\n\r\n" + answer);
    });
    TRawTestServer silent([](TRawConnection& c) { c.waitUntilClosed(600000); });
    quint16 closedPort = 0;
    {
        TRawTestServer gone([](TRawConnection&) {});
        closedPort = gone.port();
    }

    struct TCase {
        const char* name;
        QString address; // empty: no channel
    };
    const QList<TCase> cases = {
        {"no channel", QString()},
        {"working robot", robot.url(QStringLiteral("/send?key=k"))},
        {"robot never answers", silent.url(QStringLiteral("/send?key=k"))},
        {"robot port closed", QStringLiteral("http://127.0.0.1:%1/send?key=k").arg(closedPort)},
    };
    std::printf("notify: %d items x %d rivals per round, %d rounds per case; tries %d, time-out %d ms, first pause "
                "%d ms\n",
                kItems, kRivals, rounds, options.tries, options.timeoutMs, options.backoffMs);
    std::printf("%-22s %8s %14s %14s %16s\n", "channel", "alerts", "round ms", "round ms max", "sender done ms");
    for (const TCase& c : cases) {
        for (const TNotifyChannel& channel : LoadChannels())
            RemoveChannel(channel.name);
        if (!c.address.isEmpty()) {
            TNotifyChannel channel;
            channel.name = QStringLiteral("bench");
            channel.kind = TChannelKind::WeCom;
            PutChannel(channel, {c.address, {}, {}});
        }
        TTestDatabase db;
        const TConnection con = db.connection();
        {
            TWriteTransaction transaction(con);
            for (int i = 0; i < kItems; ++i) {
                con.exec(QStringLiteral("INSERT INTO Items (ItemID, ItemName, Price) VALUES (?, ?, 99)"),
                         {ItemId(i), QStringLiteral("宝贝%1").arg(i)});
                for (int r = 1; r <= kRivals; ++r)
                    con.exec(QStringLiteral("INSERT INTO PriceHistory (LocalItemID, RivalWW, ReadAt, Price, "
                                            "SellCount) VALUES (?, ?, '2026-12-01 08:00:00', 120, 0)"),
                             {ItemId(i), QStringLiteral("rival%1").arg(r)});
            }
            transaction.Commit();
        }
        CheckAlerts(con);
        TNotifySender sender(con, options);
        double total = 0, worst = 0, senderTotal = 0;
        int alerts = 0;
        for (int round = 1; round <= rounds; ++round) {
            const TFigures figures = Round(con, sender, round);
            total += figures.roundMs;
            worst = std::max(worst, figures.roundMs);
            senderTotal += figures.senderMs;
            alerts += figures.alerts;
        }
        std::printf("%-22s %8d %14.1f %14.1f %16.1f\n", c.name, alerts / rounds, total / rounds, worst,
                    senderTotal / rounds);
    }
    for (const TNotifyChannel& channel : LoadChannels())
        RemoveChannel(channel.name);
    TConnection::closeAll();
    return 0;
}
