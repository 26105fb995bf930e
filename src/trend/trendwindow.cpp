#include "trendwindow.h"

#include "trendcharts.h"
#include "trenddata.h"
#include "trendtexts.h"

#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSet>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace movra {

namespace {
constexpr int DefaultWidthPx = 1000;
constexpr int DefaultHeightPx = 900;
constexpr int EdgeColumns = 1; // a column beyond each edge, so lines run to the border
// A column of the view, each drawn as its readings' range: two pixels wide.
constexpr int ColumnPx = 2;
// One fault mark per reason in this many columns: a mark is wider than that.
constexpr int MarkColumns = 2;
// On hover, the reading nearest the pointer within this many columns, or
// these seconds, whichever is longer: a scan reads each register every few seconds.
constexpr double HoverColumns = 6;
constexpr double HoverSeconds = 5;
} // namespace

TrendWindow::TrendWindow(const TrendData &data, TrendEnvironment env, QWidget *parent)
    : QWidget(parent, Qt::Window), m_data(data), m_env(std::move(env))
{
    setObjectName(QStringLiteral("trend"));
    resize(DefaultWidthPx, DefaultHeightPx);

    m_readout = new QLabel(this);
    m_readout->setObjectName(QStringLiteral("readout"));
    m_readout->setWordWrap(true);
    m_readout->setTextFormat(Qt::PlainText);
    m_status = new QLabel(trendHelpText(m_env.language), this);
    m_save = new QPushButton(trendSaveText(m_env.language), this);
    m_save->setObjectName(QStringLiteral("savePicture"));

    m_plots = new QWidget;
    auto *plotLayout = new QVBoxLayout(m_plots);
    plotLayout->setContentsMargins(0, 0, 0, 0);
    plotLayout->setSpacing(0);
    m_stripLayout = new QVBoxLayout;
    m_stripLayout->setSpacing(0);
    plotLayout->addLayout(m_stripLayout, 1);
    m_faults = new TrendFaultAxis(trendFaultsText(m_env.language), m_plots);
    plotLayout->addWidget(m_faults);
    auto *scroll = new QScrollArea(this);
    scroll->setWidget(m_plots);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);

    auto *bar = new QHBoxLayout;
    bar->addWidget(m_status, 1);
    bar->addWidget(m_save);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_readout);
    layout->addWidget(scroll, 1);

    connect(m_save, &QPushButton::clicked, this, [this] { saveAsked(); });
    m_redrawTimer.setSingleShot(true);
    connect(&m_redrawTimer, &QTimer::timeout, this, [this] { redraw(); });
    follow(m_faults);
    redraw();
}

// Every chart hovers, zooms, pans and goes live for all of them.
void TrendWindow::follow(TrendChart *chart)
{
    connect(chart, &TrendChart::hovered, this, [this](double x) { hover(x); });
    connect(chart, &TrendChart::left, this, [this] { hover(-1); });
    connect(chart, &TrendChart::wheeled, this, [this](double x, double steps) { zoomAt(x, steps); });
    connect(chart, &TrendChart::dragged, this, [this](double share) { panBy(share); });
    connect(chart, &TrendChart::doubleClicked, this, [this] { followLive(); });
}

TrendWindow::~TrendWindow() = default;

double TrendWindow::now() const
{
    return m_env.now ? m_env.now() : epochNow();
}

// Readings after the stretch shown, when not following live, change nothing
// on screen but a new register's strip.
void TrendWindow::dataChanged()
{
    const bool shown = m_time.live() || m_data.last() <= m_to;
    if (shown || m_data.names().size() != qsizetype(m_strips.size()))
        scheduleRedraw(ReadingsRedrawMs);
}

// A redraw comes `intervalMs` after the last one at the soonest, however
// often it is asked for; the operator's zoom or pan does not wait for the
// readings' slower pace.
void TrendWindow::scheduleRedraw(int intervalMs)
{
    const qint64 since = m_sinceRedraw.isValid() ? m_sinceRedraw.elapsed() : intervalMs;
    const int due = int(std::max<qint64>(0, intervalMs - since));
    if (m_redrawTimer.isActive() && m_redrawTimer.remainingTime() <= due)
        return;
    m_redrawTimer.start(due);
}

// A strip for each register name not shown yet, in the order first read.
void TrendWindow::addStrips()
{
    const QStringList &names = m_data.names();
    for (qsizetype i = qsizetype(m_strips.size()); i < names.size(); ++i) {
        auto *strip = new TrendStrip(names[i], m_plots);
        m_stripLayout->addWidget(strip);
        m_strips.push_back(strip);
        follow(strip);
        strip->resize(m_faults->width(), TrendStrip::MinHeightPx); // a plot area before the first layout
    }
}

void TrendWindow::redraw()
{
    m_redrawTimer.stop();
    ++m_redraws;
    m_sinceRedraw.restart();
    setWindowTitle(trendTitle(m_data.models(), m_env.language));
    addStrips();
    const double end = m_time.live() && !m_data.empty() ? std::max(now(), m_data.last()) : now();
    std::tie(m_from, m_to) = m_time.range(end);
    const int columns = std::max(int(m_faults->chart()->plotArea().width()) / ColumnPx, 1);
    const double column = (m_to - m_from) / columns;
    std::vector<TrendFaultAxis::Mark> marks;
    QSet<QPair<int, qint64>> marked; // reason kind, group of columns
    for (TrendStrip *strip : m_strips) {
        const TrendSeries *series = m_data.series(strip->name());
        const std::vector<TrendSeries::Span> spans =
            series->view(m_from - EdgeColumns * column, m_to + EdgeColumns * column, columns + 2 * EdgeColumns);
        strip->plot(spans, m_from, m_to);
        for (const TrendSeries::Span &s : spans) {
            const qint64 group = qint64(std::floor((s.at - m_from) / column / MarkColumns));
            if (s.gap && !marked.contains({s.gap->kind, group})) {
                marked.insert({s.gap->kind, group});
                marks.push_back({s.at, *s.gap});
            }
        }
    }
    m_faults->plot(marks, m_from, m_to, m_env.reasonText);
    m_readout->setText(m_data.empty() ? trendEmptyText(m_env.language) : readout());
}

double TrendWindow::timeAt(double x) const
{
    return m_from + x * (m_to - m_from);
}

// "2026-12-08 14:02:11 · VOLT 230.1 · AMP 0.51 · HZ: No answer within 0.2 s"
QString TrendWindow::readout() const
{
    if (m_hoverX < 0 || m_hoverX > 1)
        return {};
    const double at = timeAt(m_hoverX);
    const double tolerance = std::max(
        HoverSeconds, HoverColumns * (m_to - m_from) / std::max(m_faults->chart()->plotArea().width(), 1.0));
    QStringList parts{dateTimeAt(at)
                          .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))};
    for (const TrendStrip *strip : m_strips) {
        const std::optional<TrendSeries::Span> s = m_data.series(strip->name())->near(at, tolerance);
        if (!s)
            continue;
        if (s->hasValue())
            parts << strip->name() + QLatin1Char(' ') + trendRangeText(s->min, s->max);
        else if (s->gap && m_env.reasonText)
            parts << strip->name() + QStringLiteral(": ") + m_env.reasonText(*s->gap);
    }
    return parts.join(QStringLiteral(" · "));
}

void TrendWindow::hover(double x)
{
    m_hoverX = x;
    for (TrendStrip *strip : m_strips)
        strip->setHover(x);
    m_faults->setHover(x);
    if (!m_data.empty())
        m_readout->setText(readout());
}

void TrendWindow::zoomAt(double x, double steps)
{
    // Wheel forward (away from the operator) zooms in.
    m_time.zoom(timeAt(x), std::pow(TimeWindow::WheelStep, -steps), m_to);
    scheduleRedraw(RedrawIntervalMs);
}

void TrendWindow::panBy(double shareOfWidth)
{
    m_time.pan(shareOfWidth * (m_to - m_from), m_to);
    scheduleRedraw(RedrawIntervalMs);
}

void TrendWindow::followLive()
{
    m_time.goLive();
    scheduleRedraw(RedrawIntervalMs);
}

QPixmap TrendWindow::picture()
{
    return m_plots->grab();
}

bool TrendWindow::savePicture(const QString &path)
{
    const bool saved = picture().save(path, "PNG");
    m_status->setText(saved ? trendSavedText(path, m_env.language) : trendNotSavedText(path, m_env.language));
    return saved;
}

void TrendWindow::saveAsked()
{
    const QString path = QFileDialog::getSaveFileName(this, trendSaveText(m_env.language), QStringLiteral("trend.png"),
                                                      trendSaveFilter(m_env.language));
    if (!path.isEmpty())
        savePicture(path);
}

} // namespace movra
