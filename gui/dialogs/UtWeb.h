#pragma once

#include <QUrl>
#include <QWidget>

class QPushButton;
class QStatusBar;
class QWebEngineView;

namespace vantero {

// The vendor's web pages (upgrade, manual). One window per run: created on first use, then
// hidden by "关闭" or its close box and shown again with the next page.
class TFmWeb final : public QWidget {
    Q_OBJECT
public:
    explicit TFmWeb(QWidget* parent = nullptr);

    // Sets the caption, starts loading address in the background, shows and raises the window.
    void ShowPage(const QString& caption, const QUrl& address);

    QWebEngineView* Browser() const { return wb; }
    QUrl Address() const { return m_address; }

public slots:
    void btnCloseClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWebEngineView* wb = nullptr;
    QPushButton* btnClose = nullptr;
    QStatusBar* stat = nullptr;
    QUrl m_address;
    bool m_placed = false;
};

} // namespace vantero
