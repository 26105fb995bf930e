// How much the waits, a read cycle and the logs cost.
//   bench_cycle
// 1. processor time used during a 0.2 s wait;
// 2. the overhead of one manual read cycle beyond its 0.2 s wait (the window
//    offscreen, a scripted meter answering at once);
// 3. the time to add one line on top of a log of 1 000 and of 100 000 lines.
#include "form1fixture.h"
#include "testkit.h"
#include "widgets.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace movra;
using movra::test::cpuSeconds;
using movra::test::median;

namespace {

void waitCpu()
{
    SystemClock clock;
    std::vector<double> shares;
    for (int i = 0; i < 10; ++i) {
        const double c0 = cpuSeconds();
        const double t0 = clock.now();
        clock.wait(0.2);
        const double wall = clock.now() - t0;
        shares.push_back((cpuSeconds() - c0) / wall * 100.0);
    }
    std::printf("wait 0.2 s: processor %.2f %% of a core (median of 10)\n", median(shares));
}

void cycleOverhead()
{
    test::Window w(0x0409, {}, {}, true);
    Form1 &form = *w.form;
    const Form1Controls &ui = w.ui();
    const Clock &clock = w.systemClock;
    form.show();
    ui.Command1->click();
    FakeMeter *meter = w.fake;
    meter->setAnswerDelay(0.01);
    meter->setRegister(0, 0x1234);
    std::vector<double> overheads;
    for (int i = 0; i < 30; ++i) {
        const double t0 = clock.now();
        ui.Command3->click();
        overheads.push_back((clock.now() - t0 - 0.2) * 1000.0);
    }
    std::printf("read cycle: overhead beyond the 0.2 s wait: median %.2f ms, max %.2f ms (30 reads)\n",
                median(overheads), *std::max_element(overheads.begin(), overheads.end()));
}

void logCost(int lines)
{
    LogBox box;
    box.resize(200, 150);
    box.show();
    const QString line = QStringLiteral("01,03,00,00,00,01,84,0A");
    for (int i = 0; i < lines; ++i)
        box.prependLine(line);
    QCoreApplication::processEvents();
    QElapsedTimer t;
    const int n = 200;
    t.start();
    for (int i = 0; i < n; ++i) {
        box.prependLine(line);
        QCoreApplication::processEvents();
    }
    std::printf("log of %6d lines: %.3f ms a line added on top\n", lines, t.nsecsElapsed() / 1e6 / n);
}

} // namespace

int main(int argc, char *argv[])
{
    test::benchEnvironment();
    QApplication app(argc, argv);
    waitCpu();
    cycleOverhead();
    logCost(1000);
    logCost(10000);
    logCost(LogBox::MaxLines); // full: a line on top drops the oldest
    return 0;
}
