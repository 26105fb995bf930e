#pragma once
// The trend: a window of its own with one strip per register name, stacked
// over one time axis that carries the fault marks. Each strip scales its
// value axis to its data. It follows the last ten minutes live until the
// wheel zooms or a drag pans; a double-click follows live again.
#include "language.h"
#include "reason.h"
#include "timewindow.h"

#include <QElapsedTimer>
#include <QPixmap>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <vector>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace movra {

class TrendData;
class TrendChart;
class TrendStrip;
class TrendFaultAxis;

struct TrendEnvironment {
    Language language = Language::English;
    // A gap's reason, in the captions' language.
    std::function<QString(const Reason &)> reasonText;
    // Seconds since the epoch: where following live ends.
    std::function<double()> now;
};

class TrendWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int RedrawIntervalMs = 250; // at most 4 redraws a second
    // New readings alone redraw once a second: at ten minutes a screen, a
    // pixel is more than half a second.
    static constexpr int ReadingsRedrawMs = 1000;

    TrendWindow(const TrendData &data, TrendEnvironment env, QWidget *parent = nullptr);
    ~TrendWindow() override;

    // New readings came: a redraw is due, coalesced with others.
    void dataChanged();
    // Draws now (a benchmark times it).
    void redraw();
    bool savePicture(const QString &path);
    // The strips and the time axis as on screen.
    QPixmap picture();

    int redraws() const { return m_redraws; }
    int stripCount() const { return int(m_strips.size()); }
    const TimeWindow &timeWindow() const { return m_time; }
    // The hover's text: the time and each strip's value then.
    QString readout() const;

    // What the pointer does over the plots; x is the share of the plot width.
    void hover(double x);
    void zoomAt(double x, double steps);
    void panBy(double shareOfWidth);
    void followLive();

private:
    void scheduleRedraw(int intervalMs);
    void addStrips();
    void follow(TrendChart *chart);
    void saveAsked();
    double now() const;
    double timeAt(double x) const;

    const TrendData &m_data;
    TrendEnvironment m_env;
    TimeWindow m_time;
    std::vector<TrendStrip *> m_strips;
    TrendFaultAxis *m_faults = nullptr;
    QWidget *m_plots = nullptr;
    QVBoxLayout *m_stripLayout = nullptr;
    QLabel *m_readout = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_save = nullptr;
    QTimer m_redrawTimer;
    QElapsedTimer m_sinceRedraw;
    int m_redraws = 0;
    double m_from = 0; // the stretch last drawn
    double m_to = 0;
    double m_hoverX = -1; // share of the width; negative: not hovering
};

} // namespace movra
