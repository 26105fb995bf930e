#pragma once
// The trend's charts: a strip per register and the time axis under them.
// Every chart has the same plot area left and right, so one time is at one
// x in all of them; the pointer's moves go to the window as signals.
#include "reason.h"
#include "trenddata.h"

#include <QChartView>
#include <QHash>
#include <vector>

class QDateTimeAxis;
class QGraphicsItem;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

namespace movra {

class TrendChart : public QChartView {
    Q_OBJECT
public:
    static constexpr int LeftPx = 96;
    static constexpr int RightPx = 32; // room for the last time label

    TrendChart(int topPx, int bottomPx, QWidget *parent = nullptr);
    void setTimeRange(double from, double to);
    // The hover's line, at a share of the plot width; negative: none.
    void setHover(double x);

signals:
    void hovered(double x);
    void left();
    void wheeled(double x, double steps);
    void dragged(double shareOfWidth);
    void doubleClicked();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void drawForeground(QPainter *painter, const QRectF &rect) override;

    double share(double px) const;
    QDateTimeAxis *m_timeAxis;

private:
    int m_topPx;
    int m_bottomPx;
    double m_hover = -1;
    std::optional<double> m_dragFrom; // px
};

class TrendStrip : public TrendChart {
    Q_OBJECT
public:
    static constexpr int MinHeightPx = 84;
    // Lines drawn in pieces: beyond this many, the last piece bridges the gaps.
    static constexpr int MaxPieces = 64;

    TrendStrip(const QString &name, QWidget *parent = nullptr);
    static QColor lineColor() { return QColor(0x1f, 0x5f, 0xa8); }
    const QString &name() const { return m_name; }
    // The spans of [from, to], one per column at most.
    void plot(const std::vector<TrendSeries::Span> &spans, double from, double to);

private:
    QString m_name;
    QValueAxis *m_valueAxis;
    std::vector<QLineSeries *> m_pieces;
};

// The time axis's labels and the fault marks, coloured by reason.
class TrendFaultAxis : public TrendChart {
    Q_OBJECT
public:
    struct Mark {
        double at;
        Reason reason;
    };
    static constexpr int HeightPx = 92;

    explicit TrendFaultAxis(const QString &title, QWidget *parent = nullptr);
    // `name` gives a reason kind's legend entry.
    void plot(const std::vector<Mark> &marks, double from, double to,
              const std::function<QString(const Reason &)> &name);

private:
    // The reasons shown, each by its colour, above the marks.
    void setLegend(const QList<QScatterSeries *> &shown);

    QValueAxis *m_rowAxis;
    QHash<int, QScatterSeries *> m_byKind;
    QList<QScatterSeries *> m_legendOf;
    QList<QGraphicsItem *> m_legend;
};

} // namespace movra
