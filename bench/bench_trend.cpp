// The trend with a week's scan: 8 registers, 1.8 million readings at the
// scan's pace, a fault every 97th. Prints the readings' memory (as the data
// counts it, and the process's resident memory before and after), then
// times redraws after zooms, each drawn to the screen, offscreen.
//   bench_trend [ZOOMS]   default 40
#include "testkit.h"
#include "trenddata.h"
#include "trendwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace movra;

namespace {

constexpr int Registers = 8;
constexpr int Readings = 1800000;
constexpr double Week = 7 * 24 * 3600.0;
constexpr double Start = 1.7e9;
constexpr int FaultEvery = 97;
constexpr double MiB = 1024.0 * 1024.0;
constexpr int WidthPx = 1000;
constexpr int HeightPx = 900;

// Resident memory, MiB.
double residentMiB()
{
    return double(test::residentKiB()) / 1024.0;
}

} // namespace

int main(int argc, char *argv[])
{
    test::benchEnvironment();
    QApplication app(argc, argv);
    const int zooms = argc > 1 ? std::atoi(argv[1]) : 40;
    if (zooms <= 0) {
        std::fprintf(stderr, "usage: bench_trend [ZOOMS]\n");
        return 2;
    }

    const double before = residentMiB();
    TrendData data;
    data.addModel(QStringLiteral("MV-210"));
    QStringList names;
    for (int r = 0; r < Registers; ++r)
        names << QStringLiteral("REG%1").arg(r);
    const double step = Week / Readings; // one reading of one register every 8 steps
    for (int i = 0; i < Readings; ++i) {
        const int r = i % Registers;
        const double at = Start + i * step;
        if (i % FaultEvery == 0)
            data.add(names[r], at, std::nullopt, Reason{Reason::NoAnswer});
        else
            data.add(names[r], at, 1000 * (r + 1) + 50 * std::sin(at / 3600) + (i % 13), {});
    }
    const double after = residentMiB();
    std::printf("%d readings of %d registers over %.1f days: the data counts %.2f MiB; "
                "resident memory %.1f MiB before, %.1f MiB after (+%.1f MiB)\n",
                Readings, Registers, Week / 86400, data.bytes() / MiB, before, after, after - before);

    TrendEnvironment env;
    env.now = [&data] { return data.last(); };
    TrendWindow trend(data, env);
    trend.resize(WidthPx, HeightPx);
    trend.show();
    app.processEvents();
    trend.redraw();
    trend.repaint();

    // Out to the whole week, then in again, each zoom at another place.
    std::vector<double> ms;
    QElapsedTimer t;
    for (int i = 0; i < zooms; ++i) {
        const double steps = i < zooms / 2 ? -2.0 : 2.0;
        trend.zoomAt(double((i * 37) % 100) / 100, steps);
        t.start();
        trend.redraw();
        trend.repaint();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
        const auto [from, to] = trend.timeWindow().range(data.last());
        if (i == zooms / 2 - 1 || i == zooms - 1 || qEnvironmentVariableIsSet("BENCH_ALL"))
            std::printf("  after zoom %d: %.1f h shown, redraw %.2f ms\n", i + 1, (to - from) / 3600, ms.back());
    }
    std::printf("redraw after a zoom, %d zooms: median %.2f ms, max %.2f ms\n", zooms, test::median(ms),
                *std::max_element(ms.begin(), ms.end()));
    return 0;
}
