#include "widgets/UiStatusPanels.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

#include <algorithm>

namespace vantero {

namespace {

constexpr int kGap = 4;        // between two panels, and before each trailing widget
constexpr int kLeastChars = 6; // of a cut text (or of its quoted part) that still say something

// The quoted part of text: positions of the opening and the closing quote, or -1.
std::pair<qsizetype, qsizetype> QuotedSpan(const QString& text) {
    qsizetype open = -1;
    for (qsizetype i = 0; i < text.size() && open < 0; ++i) {
        if (text[i] == u'"' || text[i] == u'\u201C')
            open = i;
    }
    if (open < 0)
        return {-1, -1};
    for (qsizetype i = text.size() - 1; i > open + 1; --i) {
        if (text[i] == u'"' || text[i] == u'\u201D')
            return {open, i};
    }
    return {-1, -1};
}

} // namespace

TStatusPanel::TStatusPanel(QWidget* parent) : QLabel(parent) {
    // Item titles are shown as written, never as markup.
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void TStatusPanel::SetText(const QString& text) {
    if (text == this->text())
        return;
    setText(text);
    SyncToolTip();
    updateGeometry();
    emit textSet();
}

QString TStatusPanel::Fit(const QString& text, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(text) <= width)
        return text;
    const auto [open, close] = QuotedSpan(text);
    if (open >= 0) {
        const QString head = text.left(open + 1);
        const QString tail = text.mid(close);
        const int room = width - metrics.horizontalAdvance(head) - metrics.horizontalAdvance(tail);
        const QString inner = metrics.elidedText(text.mid(open + 1, close - open - 1), Qt::ElideRight, room);
        if (!inner.isEmpty())
            return head + inner + tail;
    }
    return metrics.elidedText(text, Qt::ElideRight, width);
}

QString TStatusPanel::ShownText() const {
    return Fit(text(), fontMetrics(), TextRoom());
}

int TStatusPanel::Extra() const {
    const QMargins margins = contentsMargins();
    return margins.left() + margins.right() + 2 * margin();
}

int TStatusPanel::TextRoom() const {
    return contentsRect().width() - 2 * margin();
}

int TStatusPanel::FullWidth() const {
    return text().isEmpty() ? 0 : fontMetrics().horizontalAdvance(text()) + Extra();
}

int TStatusPanel::LeastWidth() const {
    const QString whole = text();
    if (whole.size() <= kLeastChars)
        return FullWidth();
    return std::min(FullWidth(), fontMetrics().horizontalAdvance(whole.left(kLeastChars) + u'\u2026') + Extra());
}

int TStatusPanel::KeepWidth() const {
    const QString whole = text();
    const auto [open, close] = QuotedSpan(whole);
    if (open < 0)
        return FullWidth();
    const QString inner = whole.mid(open + 1, close - open - 1);
    if (inner.size() <= kLeastChars)
        return FullWidth();
    const QString kept = whole.left(open + 1) + inner.left(kLeastChars) + u'\u2026' + whole.mid(close);
    return std::min(FullWidth(), fontMetrics().horizontalAdvance(kept) + Extra());
}

QSize TStatusPanel::sizeHint() const {
    return {FullWidth(), QLabel::sizeHint().height()};
}

QSize TStatusPanel::minimumSizeHint() const {
    return {0, QLabel::minimumSizeHint().height()};
}

void TStatusPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawFrame(&painter);
    const QRect room = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    style()->drawItemText(&painter, room, int(QStyle::visualAlignment(layoutDirection(), alignment())), palette(),
                          isEnabled(), ShownText(), foregroundRole());
}

void TStatusPanel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    SyncToolTip();
}

void TStatusPanel::SyncToolTip() {
    setToolTip(IsCut() ? text() : QString());
}

TStatusPanels::TStatusPanels(const QList<int>& nominalWidths, QWidget* parent)
    : QWidget(parent), m_nominal(nominalWidths) {
    for (int i = 0; i < m_nominal.size(); ++i) {
        auto* panel = new TStatusPanel(this);
        connect(panel, &TStatusPanel::textSet, this, [this] {
            Relayout();
            updateGeometry();
        });
        m_panels.append(panel);
    }
}

void TStatusPanels::AddTrailing(QWidget* widget) {
    widget->setParent(this);
    widget->installEventFilter(this);
    m_trailing.append(widget);
    Relayout();
}

int TStatusPanels::TrailingWidth() const {
    int width = 0;
    for (const QWidget* widget : m_trailing) {
        if (!widget->isHidden())
            width += kGap + widget->sizeHint().width();
    }
    return width;
}

QSize TStatusPanels::sizeHint() const {
    int width = TrailingWidth();
    int height = 0;
    for (int i = 0; i < m_panels.size(); ++i) {
        width += (i ? kGap : 0) + std::max(m_nominal[i], m_panels[i]->FullWidth());
        height = std::max(height, m_panels[i]->sizeHint().height());
    }
    for (const QWidget* widget : m_trailing)
        height = std::max(height, widget->sizeHint().height());
    return {width, height};
}

QSize TStatusPanels::minimumSizeHint() const {
    return {0, sizeHint().height()};
}

bool TStatusPanels::event(QEvent* event) {
    // A trailing widget whose text changed asks its parent to lay it out again.
    if (event->type() == QEvent::LayoutRequest)
        Relayout();
    return QWidget::event(event);
}

bool TStatusPanels::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show || event->type() == QEvent::Hide)
        Relayout();
    return QWidget::eventFilter(watched, event);
}

void TStatusPanels::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Relayout();
}

void TStatusPanels::Relayout() {
    const int count = int(m_panels.size());
    if (count == 0)
        return;
    const int last = count - 1;
    // The widgets after the panels give way first: they get what the panels leave at their
    // nominal widths (the last one with what it must keep), so the listed panels never move
    // when one of them appears.
    int panelsWant = kGap * last + m_panels[last]->KeepWidth();
    for (int i = 0; i < last; ++i)
        panelsWant += std::max(m_nominal[i], m_panels[i]->FullWidth());
    int trailingRoom = std::max(0, width() - panelsWant);
    QList<int> trailingWidths;
    int trailingUsed = 0;
    for (const QWidget* widget : std::as_const(m_trailing)) {
        int w = 0;
        if (!widget->isHidden() && trailingRoom > kGap) {
            w = std::min(widget->sizeHint().width(), trailingRoom - kGap);
            trailingRoom -= kGap + w;
            trailingUsed += kGap + w;
        }
        trailingWidths.append(w);
    }
    const int available = width() - trailingUsed - kGap * last;
    QList<int> widths(count);
    for (int i = 0; i < last; ++i)
        widths[i] = std::max(m_nominal[i], m_panels[i]->FullWidth());
    widths[last] = m_panels[last]->KeepWidth();
    int excess = -available;
    for (int w : std::as_const(widths))
        excess += w;
    auto shrink = [&](int i, int to) {
        if (excess <= 0 || widths[i] <= to)
            return;
        const int cut = std::min(excess, widths[i] - to);
        widths[i] -= cut;
        excess -= cut;
    };
    // Short of room, the blank parts go altogether, so the panels do not shift with every new
    // text of the last one.
    if (excess > 0) {
        for (int i = 0; i < last; ++i) {
            excess -= widths[i] - m_panels[i]->FullWidth();
            widths[i] = m_panels[i]->FullWidth();
        }
    }
    for (int i = 0; i < last; ++i)
        shrink(i, m_panels[i]->LeastWidth());
    shrink(last, m_panels[last]->LeastWidth());
    shrink(last, 0);
    for (int i = 0; i < last; ++i)
        shrink(i, 0);
    // The last panel takes whatever the others leave.
    int fixed = 0;
    for (int i = 0; i < last; ++i)
        fixed += widths[i];
    widths[last] = std::max(0, available - fixed);

    int x = 0;
    for (int i = 0; i < count; ++i) {
        m_panels[i]->setGeometry(x, 0, widths[i], height());
        x += widths[i] + kGap;
    }
    x -= kGap;
    for (int i = 0; i < m_trailing.size(); ++i) {
        QWidget* widget = m_trailing[i];
        if (widget->isHidden())
            continue;
        const int w = trailingWidths[i];
        x += w > 0 ? kGap : 0;
        widget->setGeometry(x, 0, w, height());
        x += w;
    }
}

} // namespace vantero
