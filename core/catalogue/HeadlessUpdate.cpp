#include "catalogue/HeadlessUpdate.h"

#include "catalogue/GridData.h"
#include "catalogue/MainData.h"
#include "common/TermSignals.h"
#include "common/WindowMessages.h"

#include <QEventLoop>

namespace vantero {

namespace {

// The grid data without a window: texts go to a callback, the end message ends a local loop.
class THeadlessHost final : public TUpdaterHost {
public:
    THeadlessHost(TMainData& data, std::function<void(const QString&)> showText)
        : m_data(data), m_showText(std::move(showText)) {}

    TWindowHandle Handle() const { return m_registration.handle(); }
    QEventLoop Loop;
    bool Ended = false;

    void ShowStatus(int, const QString& text) override { m_showText(text); }
    int RowCount() override { return m_data.grid.rowCount(); }
    std::optional<TUpdaterRow> RowAt(int position) override {
        if (position < 0 || position >= m_data.grid.rowCount())
            return std::nullopt;
        const TItem& item = m_data.grid.item(position);
        return TUpdaterRow{item.ItemID, item.ItemName, item.URL};
    }
    void RefreshRow(int position) override { m_data.RefreshRowData(position); }
    QString OwnAccount() override { return m_data.OwnAccount; }

protected:
    void customEvent(QEvent* event) override {
        if (event->type() == TWindowMessageEvent::eventType() &&
            static_cast<TWindowMessageEvent*>(event)->Msg == WM_READALL_FINISHED) {
            Ended = true;
            Loop.quit();
            return;
        }
        TUpdaterHost::customEvent(event);
    }

private:
    TMainData& m_data;
    std::function<void(const QString&)> m_showText;
    TWindowRegistration m_registration{this};
};

} // namespace

TReadAllItemThr::Tally RunHeadlessUpdate(TMainData& data, const std::function<void(const QString&)>& showText) {
    auto owned = std::make_unique<THeadlessHost>(data, showText);
    THeadlessHost* host = owned.get();
    TReadAllItemThr updater(data.con, std::move(owned), host->Handle());
    if (TTermSignals::Received())
        return updater.Counts();
    // A termination signal ends the run as closing the window does: the reading in progress is
    // abandoned and nothing further starts.
    if (TTermSignals* termSignals = TTermSignals::Installed()) {
        QObject::connect(termSignals, &TTermSignals::received, host, [host, &updater] {
            updater.Stop();
            host->Loop.quit();
        });
    }
    updater.start();
    if (!host->Ended)
        host->Loop.exec();
    updater.wait();
    return updater.Counts();
}

} // namespace vantero
