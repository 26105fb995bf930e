// The register scan against a real slave: the window offscreen with QtCommPort
// on a pseudo-terminal, meter-sim on the other end, real time.
//   bench_scan [SECONDS] [--trend] [--record]   SECONDS of scanning per line, default 60;
//                                               --trend: with the trend open, following live
// For a healthy line and a silent one (meter-sim --silent), prints the
// readings listed per minute and the processor time this process used while
// scanning, as a share of one core. --record: every request recorded to file.
#include "e2erig.h"
#include "testkit.h"
#include "trendwindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

using namespace movra;

namespace {

bool measure(const char *what, const QStringList &simArgs, int seconds, bool trend, bool record)
{
    e2e::Rig rig;
    if (!rig.start(simArgs)) {
        std::fprintf(stderr, "bench_scan: %s\n", qPrintable(rig.line.errorString()));
        return false;
    }
    Form1 &form = *rig.form;
    const Form1Controls &ui = rig.ui();
    form.show();
    ui.Command1->click();
    ui.Check1->setChecked(true);
    ui.Combo5->setCurrentIndex(ui.Combo5->findText(QStringLiteral("MV-210")));
    if (trend)
        form.findChild<QAction *>(QStringLiteral("trend"))->trigger();
    if (record)
        form.findChild<QAction *>(QStringLiteral("recordToFile"))->trigger();
    const double cpu0 = test::cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    ui.Command10->click();
    // The tool's own event loop, as in the application: QTest::qWait would
    // add its 10 ms naps to the processor time measured.
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    ui.Command11->click();
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = test::cpuSeconds() - cpu0;
    const int readings = ui.Text12->lineCount();
    const int sent = ui.Text4->lineCount();
    std::printf("%-8s %5.1f s: %4d readings listed, %4d requests sent: %6.1f readings/min; "
                "processor %.2f s = %.2f %% of a core",
                what, elapsed, readings, sent, readings * 60.0 / elapsed, cpu, cpu / elapsed * 100.0);
    if (trend)
        std::printf("; trend open, %d redraws = %.2f a second", form.trend()->redraws(),
                    form.trend()->redraws() / elapsed);
    std::printf("\n");
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    test::benchEnvironment();
    QApplication app(argc, argv);
    int seconds = 60;
    bool trend = false;
    bool record = false;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--trend")
            trend = true;
        else if (QByteArray(argv[i]) == "--record")
            record = true;
        else
            seconds = std::atoi(argv[i]);
    }
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: bench_scan [SECONDS] [--trend] [--record]\n");
        return 2;
    }
    const QStringList meter = {"--model", "MV-210", "--slave", "1"};
    const bool ok = measure("healthy", meter, seconds, trend, record)
                    && measure("silent", meter + QStringList{"--silent"}, seconds, trend, record);
    return ok ? 0 : 1;
}
