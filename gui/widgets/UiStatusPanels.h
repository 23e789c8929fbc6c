#pragma once

#include <QLabel>
#include <QList>
#include <QWidget>

class QFontMetrics;

namespace vantero {

// A status panel that shows as much of its text as its width allows. A text cut short ends in
// "…"; when the text quotes something (an item title), the quoted part gives way first, so what
// the text says about it stays readable. text() and screen readers keep the whole text, and the
// tool tip carries it whenever it is cut short.
class TStatusPanel final : public QLabel {
    Q_OBJECT
public:
    explicit TStatusPanel(QWidget* parent = nullptr);

    void SetText(const QString& text);
    // The text as it is drawn at the panel's present width.
    QString ShownText() const;
    bool IsCut() const { return ShownText() != text(); }
    // Widths the panel needs: for its whole text; for all of it but the end of a quoted part (the
    // whole text when nothing is quoted); for a readable beginning.
    int FullWidth() const;
    int KeepWidth() const;
    int LeastWidth() const;

    // The eliding rule: text fitted into width pixels of metrics' font.
    static QString Fit(const QString& text, const QFontMetrics& metrics, int width);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void textSet();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int TextRoom() const;
    int Extra() const;
    void SyncToolTip();
};

// The panels of a status bar, side by side, each at its nominal width, the last one taking the
// rest of the bar, followed by widgets added later at their natural widths. A bar too narrow for
// that takes the room from where it is missed least: first the end of a quoted title in the last
// panel and the blank part of the fixed panels, then the fixed panels' texts down to a readable
// beginning, then the last panel's text down to one, then the rest.
class TStatusPanels final : public QWidget {
    Q_OBJECT
public:
    TStatusPanels(const QList<int>& nominalWidths, QWidget* parent = nullptr);

    int PanelCount() const { return int(m_panels.size()); }
    TStatusPanel* Panel(int index) const { return m_panels.value(index); }
    // A widget after the panels, never squeezed.
    void AddTrailing(QWidget* widget);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Relayout();
    int TrailingWidth() const;

    QList<int> m_nominal;
    QList<TStatusPanel*> m_panels;
    QList<QWidget*> m_trailing;
};

} // namespace vantero
