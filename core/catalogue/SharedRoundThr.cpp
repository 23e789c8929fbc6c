#include "catalogue/SharedRoundThr.h"

#include "catalogue/MainData.h"
#include "catalogue/SharedRound.h"
#include "common/StoreTexts.h"
#include "store/DatabaseError.h"

#include <QDateTime>
#include <QSysInfo>

namespace vantero {

namespace {

QString StoppedText(const QDateTime& at) {
    return QStringLiteral("更新已于 %1 停止（正在读取的页面已交回共享轮次）").arg(StatusDateTime(at));
}

} // namespace

TSharedRoundThr::TSharedRoundThr(TConnection connection, QString worker, TWindowHandle mainWindow, QObject* parent)
    : QThread(parent), m_connection(std::move(connection)), m_worker(std::move(worker)), m_mainWindow(mainWindow) {}

TSharedRoundThr::~TSharedRoundThr() {
    if (isRunning()) {
        Stop();
        wait();
    }
}

QString TSharedRoundThr::WindowWorkerName() {
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("LOGNAME");
    // Claims are renewed and given back by name: two desks must never share one.
    const QString host = QSysInfo::machineHostName();
    return (user.isEmpty() ? host : user + u'@' + host) + QStringLiteral("-窗口");
}

void TSharedRoundThr::Stop() {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
    if (m_running)
        m_running->Stop();
}

void TSharedRoundThr::Abandon() {
    Stop();
    std::lock_guard lock(m_mutex);
    m_abandoned = true;
    m_break->Break();
    if (m_running)
        m_running->Abandon();
}

TReadAllItemThr::Tally TSharedRoundThr::Counts() const {
    std::lock_guard lock(m_mutex);
    return m_tally;
}

bool TSharedRoundThr::WasStopped() const {
    std::lock_guard lock(m_mutex);
    return m_stopping;
}

void TSharedRoundThr::run() {
    Execute();
    TConnection::closeThreadConnections();
    m_ended.store(true, std::memory_order_release);
    PostMessageToWindow(m_mainWindow, WM_READALL_FINISHED, 0, 0);
}

void TSharedRoundThr::ShowProgress() {
    try {
        emit progressText(SharedRoundProgressText(SharedRoundProgress(m_connection)));
    } catch (const TDatabaseError&) {
        // The panel keeps its last text; the round's own statements meet the same fault.
    }
}

void TSharedRoundThr::Execute() {
    const TServerBreak::TOnThisThread cutTogether(m_break);
    try {
        // The round's pages come from the catalogue as the database holds it, read on this
        // thread: opening a round of a big catalogue must not hold up the window.
        TMainData data(m_connection);
        data.ApplySettings();
        data.RefreshAllData();
        const qint64 round = JoinSharedRound(data);
        ShowProgress();
        TSharedRoundWorker worker(
            m_connection, round, m_worker, data.OwnAccount,
            [this](int panel, const QString& text) { emit statusText(panel, text); },
            [this](const TSharedRoundPage& page) {
                emit pageRead(page.ownItemID);
                ShowProgress();
            });
        {
            std::lock_guard lock(m_mutex);
            if (!m_stopping)
                m_running = &worker;
            if (m_abandoned)
                worker.Abandon();
        }
        if (!m_running) {
            emit statusText(TReadAllItemThr::kProgressPanel, StoppedText(QDateTime::currentDateTime()));
            return;
        }
        TReadAllItemThr::Tally tally;
        std::exception_ptr error;
        try {
            tally = worker.Run();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(m_mutex);
            m_running = nullptr;
            m_tally = tally;
        }
        if (error)
            std::rethrow_exception(error);
        ShowProgress();
        if (WasStopped())
            emit statusText(TReadAllItemThr::kProgressPanel, StoppedText(QDateTime::currentDateTime()));
    } catch (const TDatabaseError& failure) {
        // The run says why it ended, never that everything was updated.
        const QString text = StoreTexts::RoundStopped.arg(failure.text());
        {
            std::lock_guard lock(m_mutex);
            m_tally.stoppedBecause = text;
        }
        emit statusText(TReadAllItemThr::kProgressPanel, text);
    } catch (...) {
        // Nothing may escape the thread; the run still ends with its finish message.
        const QString text = StoreTexts::RoundStopped.arg(QStringLiteral("发生了意外错误"));
        {
            std::lock_guard lock(m_mutex);
            m_tally.stoppedBecause = text;
        }
        emit statusText(TReadAllItemThr::kProgressPanel, text);
    }
}

} // namespace vantero
