// Finding the meter against a real slave: the window offscreen with
// QtCommPort on meter-sim's own pseudo-terminal, real time.
//   bench_find
// Prints how long the whole search takes when no meter answers (meter-sim at
// a baud rate the lists lack), and how long it takes to find a meter at the
// settings in effect, at the last address.
#include "e2erig.h"
#include "testkit.h"

#include <QApplication>
#include <QLabel>
#include <cstdio>

using namespace movra;

namespace {

bool measure(const char *what, const QStringList &simArgs)
{
    e2e::Rig rig;
    rig.ownPty = true;
    if (!rig.start(QStringList{"--model", "MV-100"} + simArgs)) {
        std::fprintf(stderr, "bench_find: %s\n", qPrintable(rig.line.errorString()));
        return false;
    }
    const Form1Controls &ui = rig.ui();
    ui.Command1->click();
    if (ui.Shape1->fillColor() != Lamp::Green) {
        std::fprintf(stderr, "bench_find: the port did not open\n");
        return false;
    }
    const qint64 ms = rig.findMeter();
    if (ms < 0) {
        std::fprintf(stderr, "bench_find: no Find the meter item\n");
        return false;
    }
    const double seconds = double(ms) / 1e3;
    const QString end = ui.signal2->text().isEmpty()
                            ? QStringLiteral("found at %1 %2, address %3")
                                  .arg(ui.Combo2->currentText(), ui.Combo3->currentText(), ui.Combo6->currentText())
                            : ui.signal2->text();
    std::printf("%-34s %6.2f s, %3d requests: %s\n", what, seconds, ui.Text4->lineCount(), qPrintable(end));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    test::benchEnvironment();
    QApplication app(argc, argv);
    const bool ok = measure("no meter (meter-sim at 1200 baud)", {"--baud", "1200"})
                    && measure("meter at 9600 N,8,1, address 15", {"--slave", "15"});
    return ok ? 0 : 1;
}
