#include "trendcharts.h"

#include "timewindow.h"

#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsRectItem>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsLayout>
#include <QLineSeries>
#include <QMouseEvent>
#include <QScatterSeries>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cmath>

namespace movra {

namespace {
constexpr double WheelNotch = 120;    // angle delta of one notch
constexpr double BreakSeconds = 30;   // readings further apart are not joined
constexpr int BreakColumns = 3;       // nor when further apart than this many columns
constexpr double ValuePadShare = 0.08; // room above and below a strip's values
constexpr int TimeTicks = 7;
constexpr int ValueTicks = 3;
constexpr double Minute = 60;
constexpr double Day = 24 * 3600;
constexpr int StripTopPx = 10;
constexpr int StripBottomPx = 10;
constexpr int AxisTopPx = 26;    // the legend of reasons
constexpr int AxisBottomPx = 48; // the time labels
constexpr int MarkPx = 9;
constexpr int LegendTopPx = 8;
constexpr int LegendGapPx = 12;
constexpr double LinePx = 1.5;
const QColor HoverColor(0xd0, 0x30, 0x30);

// A colour per reason kind, far enough apart to tell.
QColor reasonColor(int kind)
{
    static const std::array<QColor, 10> palette{
        QColor(0xd6, 0x27, 0x28), QColor(0xff, 0x7f, 0x0e), QColor(0x94, 0x67, 0xbd),
        QColor(0x8c, 0x56, 0x4b), QColor(0xe3, 0x77, 0xc2), QColor(0x7f, 0x7f, 0x7f),
        QColor(0xbc, 0xbd, 0x22), QColor(0x17, 0xbe, 0xcf), QColor(0x2c, 0xa0, 0x2c),
        QColor(0x1f, 0x1f, 0x1f)};
    return palette[std::size_t(kind) % palette.size()];
}

// Labels as fine as the span needs.
QString timeFormat(double span)
{
    if (span <= 2 * Minute)
        return QStringLiteral("HH:mm:ss");
    if (span <= Day)
        return QStringLiteral("HH:mm");
    return QStringLiteral("MM-dd HH:mm");
}

} // namespace

// --- A chart of the trend -------------------------------------------------------

TrendChart::TrendChart(int topPx, int bottomPx, QWidget *parent)
    : QChartView(parent), m_timeAxis(new QDateTimeAxis), m_topPx(topPx), m_bottomPx(bottomPx)
{
    auto *c = new QChart;
    c->legend()->hide();
    c->setMargins(QMargins());
    c->setBackgroundRoundness(0);
    c->layout()->setContentsMargins(0, 0, 0, 0);
    m_timeAxis->setTickCount(TimeTicks);
    c->addAxis(m_timeAxis, Qt::AlignBottom);
    setChart(c);
    setRenderHint(QPainter::Antialiasing, false);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
}

void TrendChart::setTimeRange(double from, double to)
{
    m_timeAxis->setFormat(timeFormat(to - from));
    m_timeAxis->setRange(dateTimeAt(from), dateTimeAt(to));
}

void TrendChart::setHover(double x)
{
    if (x == m_hover)
        return;
    m_hover = x;
    viewport()->update();
}

void TrendChart::resizeEvent(QResizeEvent *event)
{
    QChartView::resizeEvent(event);
    chart()->setPlotArea(QRectF(LeftPx, m_topPx, std::max(width() - LeftPx - RightPx, 1),
                                std::max(height() - m_topPx - m_bottomPx, 1)));
}

double TrendChart::share(double px) const
{
    const QRectF area = chart()->plotArea();
    return area.width() > 0 ? (px - area.left()) / area.width() : 0;
}

void TrendChart::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_dragFrom = event->position().x();
}

void TrendChart::mouseMoveEvent(QMouseEvent *event)
{
    const double x = event->position().x();
    if (m_dragFrom) {
        emit dragged(share(x) - share(*m_dragFrom));
        m_dragFrom = x;
    }
    emit hovered(share(x));
}

void TrendChart::mouseReleaseEvent(QMouseEvent *)
{
    m_dragFrom.reset();
}

void TrendChart::mouseDoubleClickEvent(QMouseEvent *)
{
    emit doubleClicked();
}

void TrendChart::wheelEvent(QWheelEvent *event)
{
    emit wheeled(share(event->position().x()), event->angleDelta().y() / WheelNotch);
}

void TrendChart::leaveEvent(QEvent *)
{
    emit left();
}

void TrendChart::drawForeground(QPainter *painter, const QRectF &)
{
    if (m_hover < 0 || m_hover > 1)
        return;
    const QRectF area = chart()->plotArea();
    const double x = area.left() + m_hover * area.width();
    painter->setPen(QPen(HoverColor, 1));
    painter->drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
}

// --- A register's strip ------------------------------------------------------------

TrendStrip::TrendStrip(const QString &name, QWidget *parent)
    : TrendChart(StripTopPx, StripBottomPx, parent), m_name(name), m_valueAxis(new QValueAxis)
{
    setObjectName(QStringLiteral("strip ") + name);
    setMinimumHeight(MinHeightPx);
    m_timeAxis->setLabelsVisible(false);
    m_valueAxis->setTitleText(name);
    m_valueAxis->setTickCount(ValueTicks);
    m_valueAxis->setLabelFormat(QStringLiteral("%.7g"));
    chart()->addAxis(m_valueAxis, Qt::AlignLeft);
}

void TrendStrip::plot(const std::vector<TrendSeries::Span> &spans, double from, double to)
{
    const double columnSeconds = (to - from) / std::max(chart()->plotArea().width(), 1.0);
    const double breakAfter = std::max(BreakSeconds, BreakColumns * columnSeconds);
    // Pieces of line between the gaps: a column without a value, or a long silence.
    std::vector<QList<QPointF>> pieces(1);
    double lo = INFINITY, hi = -INFINITY, previous = -INFINITY;
    for (const TrendSeries::Span &s : spans) {
        const bool breaks = !s.hasValue() || s.at - previous > breakAfter;
        if (breaks && !pieces.back().isEmpty())
            pieces.emplace_back();
        previous = s.at;
        if (!s.hasValue())
            continue;
        pieces.back() << QPointF(s.at * MsPerSecond, s.min);
        if (s.max != s.min)
            pieces.back() << QPointF(s.at * MsPerSecond, s.max);
        lo = std::min(lo, s.min);
        hi = std::max(hi, s.max);
    }
    if (pieces.back().isEmpty())
        pieces.pop_back();
    while (pieces.size() > std::size_t(MaxPieces)) {
        pieces[pieces.size() - 2] += pieces.back();
        pieces.pop_back();
    }
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i == m_pieces.size()) {
            auto *line = new QLineSeries;
            line->setPen(QPen(lineColor(), LinePx));
            chart()->addSeries(line);
            line->attachAxis(m_timeAxis);
            line->attachAxis(m_valueAxis);
            m_pieces.push_back(line);
        }
        m_pieces[i]->replace(pieces[i]);
        m_pieces[i]->setPointsVisible(pieces[i].size() == 1); // a reading alone between gaps
    }
    for (std::size_t i = pieces.size(); i < m_pieces.size(); ++i)
        if (m_pieces[i]->count() > 0)
            m_pieces[i]->clear();
    if (lo <= hi) {
        const double pad = hi > lo ? (hi - lo) * ValuePadShare : std::max(std::abs(hi) * ValuePadShare, 1.0);
        m_valueAxis->setRange(lo - pad, hi + pad);
    }
    setTimeRange(from, to);
}

// --- The time axis and the faults ------------------------------------------------------

TrendFaultAxis::TrendFaultAxis(const QString &title, QWidget *parent)
    : TrendChart(AxisTopPx, AxisBottomPx, parent), m_rowAxis(new QValueAxis)
{
    setObjectName(QStringLiteral("faults"));
    setFixedHeight(HeightPx);
    m_rowAxis->setRange(0, 1);
    m_rowAxis->setVisible(false);
    chart()->addAxis(m_rowAxis, Qt::AlignLeft);
    auto *caption = new QGraphicsSimpleTextItem(title, chart());
    caption->setPos(LegendGapPx, AxisTopPx);
}

void TrendFaultAxis::setLegend(const QList<QScatterSeries *> &shown)
{
    if (shown == m_legendOf)
        return;
    m_legendOf = shown;
    qDeleteAll(m_legend);
    m_legend.clear();
    double x = LeftPx;
    for (QScatterSeries *series : shown) {
        auto *mark = new QGraphicsRectItem(x, LegendTopPx, MarkPx, MarkPx, chart());
        mark->setBrush(series->color());
        mark->setPen(Qt::NoPen);
        auto *name = new QGraphicsSimpleTextItem(series->name(), chart());
        name->setPos(x + MarkPx + LegendGapPx / 2, LegendTopPx + MarkPx / 2 - name->boundingRect().height() / 2);
        x = name->pos().x() + name->boundingRect().width() + LegendGapPx;
        m_legend << mark << name;
    }
}

void TrendFaultAxis::plot(const std::vector<Mark> &marks, double from, double to,
                          const std::function<QString(const Reason &)> &name)
{
    QHash<int, QList<QPointF>> byKind;
    for (const Mark &m : marks) {
        const int kind = m.reason.kind;
        if (!m_byKind.contains(kind)) {
            auto *series = new QScatterSeries;
            series->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
            series->setMarkerSize(MarkPx);
            series->setColor(reasonColor(kind));
            series->setBorderColor(reasonColor(kind));
            series->setName(name ? name(m.reason) : QString::number(kind));
            chart()->addSeries(series);
            series->attachAxis(m_timeAxis);
            series->attachAxis(m_rowAxis);
            m_byKind.insert(kind, series);
        }
        byKind[kind] << QPointF(m.at * MsPerSecond, 0.5);
    }
    QList<QScatterSeries *> shown;
    for (auto it = m_byKind.begin(); it != m_byKind.end(); ++it) {
        it.value()->replace(byKind.value(it.key()));
        it.value()->setVisible(byKind.contains(it.key()));
        if (byKind.contains(it.key()))
            shown << it.value();
    }
    std::sort(shown.begin(), shown.end(), [this](QScatterSeries *a, QScatterSeries *b) {
        return m_byKind.key(a) < m_byKind.key(b);
    });
    setLegend(shown);
    setTimeRange(from, to);
}

} // namespace movra
