// A week on the line: the register scan through about 2 000 000 readings (a
// week at 300 ms a tick) against a scripted meter on virtual time, with line
// faults mixed in and the logs left to grow, as an operator leaves them.
//   soak [READINGS] [--control] [--record]      READINGS default 2000000
// Prints the readings per second, the resident memory and the cost of one
// reading at the start and at the end, and the logs' text size. --control
// presses "Clear" every 10 000 readings: with the logs kept short, what is left
// of the memory growth is growth that does not come from the logs. --record
// records every request to file ("Record to file") and counts the rows the
// files hold at the end.
#include "form1fixture.h"
#include "records.h"
#include "widgets.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace movra;

namespace {

// A shipped-like model of eight registers, one of them 4 bytes long.
const QByteArray model = "8\r\n0001-2 AMP\r\n0002-2 HZ\r\n0003-2 KW\r\n0004-2 PF\r\n"
                         "0010-4 KWH\r\n0101-2 BAUD\r\n0102-2 VER\r\n0000-2 VOLT\r\n";

// Faults, by the number of the request: every Nth answer is one of these.
constexpr int SilentEvery = 97;
constexpr int LateEvery = 89;     // arrives after the wait, before the next request
constexpr int BadCrcEvery = 83;
constexpr int ExceptionEvery = 79;
constexpr int NoiseEvery = 73;    // bytes of line noise in front of the answer
constexpr int LinkLostEvery = 50000; // readings; the operator reopens 20 ticks later
constexpr int ReopenAfterTicks = 20;

constexpr int Window = 1000; // readings per cost sample
constexpr double TickSeconds = 0.3; // Timer2's interval
constexpr int ControlClearEvery = 10000;
// The window goes back to its event loop (the records' batches, painting)
// this often; the loop below otherwise never leaves a tick.
constexpr int EventLoopEvery = 100;
constexpr int ReportEvery = 100000;

struct Recorded {
    long long rows = 0;     // headers not counted
    long long readings = 0; // the scan's requests' own rows
    int files = 0;
};

Recorded recordedRows(const QString &folder)
{
    Recorded out;
    for (const QFileInfo &f : QDir(folder).entryInfoList({QStringLiteral("*.csv")}, QDir::Files)) {
        QFile file(f.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        ++out.files;
        file.readLine(); // the header
        while (!file.atEnd()) {
            const QByteArray row = file.readLine();
            ++out.rows;
            out.readings += row.contains(",scan,") && !row.contains("not decoded");
        }
    }
    return out;
}

double mean(const std::vector<double> &v)
{
    double sum = 0;
    for (double x : v)
        sum += x;
    return v.empty() ? 0 : sum / double(v.size());
}

} // namespace

int main(int argc, char *argv[])
{
    test::benchEnvironment();
    QApplication app(argc, argv);
    long long target = 2000000;
    bool control = false;
    bool record = false;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--control")
            control = true;
        else if (QByteArray(argv[i]) == "--record")
            record = true;
        else if (std::atoll(argv[i]) > 0)
            target = std::atoll(argv[i]);
        else {
            std::fprintf(stderr, "usage: soak [READINGS] [--control] [--record]\n");
            return 2;
        }
    }

    test::Window w(0x0409, {}, {{QStringLiteral("RTU_SETUP.TXT"), "1\r\nMV-8\r\n"}, {QStringLiteral("item/MV-8.TXT"), model}});
    Form1 &form = *w.form;
    VirtualClock &clock = w.clock;
    FakeMeter *&meter = w.fake;
    const Form1Controls &ui = w.ui();

    for (quint16 a : {0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0010, 0x0011, 0x0101, 0x0102})
        meter->setRegister(a, quint16(200 + a));
    long long requests = 0;
    meter->setResponder([&](const QByteArray &request) -> std::optional<FakeMeter::Reply> {
        ++requests;
        const QByteArray answer = meter->defaultAnswer(request);
        if (requests % SilentEvery == 0)
            return FakeMeter::Reply{};
        if (requests % LateEvery == 0)
            return FakeMeter::Reply{{answer, 0.35}};
        if (requests % BadCrcEvery == 0)
            return FakeMeter::Reply{{FakeMeter::badCrc(answer), 0.02}};
        if (requests % ExceptionEvery == 0)
            return FakeMeter::Reply{{FakeMeter::exceptionAnswer(quint8(request[0]), 3, 4), 0.02}};
        if (requests % NoiseEvery == 0)
            return FakeMeter::Reply{{QByteArray("\xFF\x00\xFE", 3) + answer, 0.02}};
        return std::nullopt;
    });

    form.show();
    ui.Check1->setChecked(true); // engineer mode
    ui.Command1->click();       // open the port
    ui.Command10->click();      // start the scan
    if (record)
        form.findChild<QAction *>(QStringLiteral("recordToFile"))->trigger();
    QCoreApplication::processEvents();
    if (!meter->portOpen() || !ui.Timer2->isActive()) {
        std::fprintf(stderr, "soak: the port did not open or the scan did not start\n");
        return 1;
    }

    const qint64 rssStart = test::residentKiB();
    std::printf("soak: %lld readings%s%s, model of 8 registers\n", target,
                control ? ", logs cleared every 10000 (control run)" : "", record ? ", recorded to file" : "");
    std::printf("faults: silent 1/%d, late 1/%d, bad CRC 1/%d, exception 1/%d, noise 1/%d, "
                "link lost every %d readings\n",
                SilentEvery, LateEvery, BadCrcEvery, ExceptionEvery, NoiseEvery, LinkLostEvery);
    std::printf("start: resident %lld KiB\n", rssStart);

    std::vector<double> first;  // ms per reading, the first Window readings
    std::vector<double> recent; // ms per reading, the latest Window readings
    first.reserve(Window);
    recent.reserve(Window);
    long long readings = 0;
    long long ticks = 0;
    long long linksLost = 0;
    long long valued = 0; // readings that showed a value
    long long reopenAtTick = -1;
    // A full list keeps its line count: a reading is a line put on top.
    long long listed = 0;
    QObject::connect(ui.Text12->document(), &QTextDocument::contentsChange, [&](int at, int, int added) {
        listed += at == 0 && added > 0;
    });
    QElapsedTimer wall;
    wall.start();
    QElapsedTimer lap;
    lap.start();
    long long lapReadings = 0;

    while (readings < target) {
        if (ticks == reopenAtTick) {
            // The operator plugs the adapter back in and opens the port.
            meter->restoreLink();
            if (ui.Command1->text() == QLatin1String("CLOS"))
                ui.Command1->click();
            ui.Command1->click();
            reopenAtTick = -1;
        }
        const long long listedBefore = listed;
        const double tickStart = clock.now();
        const qint64 t0 = wall.nsecsElapsed();
        movra::test::tick(ui.Timer2);
        const double ms = double(wall.nsecsElapsed() - t0) / 1e6;
        ++ticks;
        // The rest of the interval passes before the next tick.
        if (clock.now() - tickStart < TickSeconds)
            clock.advance(TickSeconds - (clock.now() - tickStart));
        if (listed == listedBefore)
            continue; // the tick that ends a pass, or a reconnect
        ++readings;
        valued += !ui.Text5->text().isEmpty();
        if (first.size() < std::size_t(Window))
            first.push_back(ms);
        if (recent.size() == std::size_t(Window))
            recent.clear();
        recent.push_back(ms);
        if (readings % Window == 0)
            meter->clearWritten(); // the fake's own record, not the tool's
        if (readings % EventLoopEvery == 0)
            QCoreApplication::processEvents();
        if (control && readings % ControlClearEvery == 0)
            ui.Command4->click();
        if (readings % LinkLostEvery == LinkLostEvery / 2 && reopenAtTick < 0) {
            meter->loseLink();
            ++linksLost;
            reopenAtTick = ticks + ReopenAfterTicks;
        }
        if (readings % ReportEvery == 0) {
            const double lapSeconds = double(lap.nsecsElapsed()) / 1e9;
            std::printf("%9lld readings: %5.0f readings/s, resident %8lld KiB, last %d readings: "
                        "mean %.3f ms, median %.3f ms\n",
                        readings, double(readings - lapReadings) / lapSeconds, test::residentKiB(), Window,
                        mean(recent), test::median(recent));
            lap.restart();
            lapReadings = readings;
        }
    }
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const qint64 rssEnd = test::residentKiB();
    const qint64 logChars = ui.Text3->text().size() + ui.Text4->text().size() + ui.Text12->text().size();

    std::printf("end: %lld readings in %lld ticks (%lld lines listed), %.1f days of line time, %lld links lost\n", readings, ticks, listed,
                clock.now() / 86400, linksLost);
    std::printf("readings with a value: %lld (%.1f %%)\n", valued, 100.0 * double(valued) / double(readings));
    std::printf("the status line's tip, since the last open:\n%s\n", qPrintable(ui.Label12->toolTip()));
    std::printf("readings per second (wall clock): %.0f (%.1f s)\n", double(readings) / seconds, seconds);
    std::printf("resident memory: start %lld KiB, end %lld KiB, growth %lld KiB\n", rssStart, rssEnd,
                rssEnd - rssStart);
    const int lines = ui.Text3->lineCount() + ui.Text4->lineCount() + ui.Text12->lineCount();
    std::printf("log text: %lld characters in %d lines (%d + %d + %d in Text3, Text4, Text12), %lld KiB as UTF-16\n",
                logChars, lines, ui.Text3->lineCount(), ui.Text4->lineCount(), ui.Text12->lineCount(),
                logChars * 2 / 1024);
    if (lines > 0)
        std::printf("growth per log line: %.0f bytes, of which %.0f bytes of text\n",
                    double(rssEnd - rssStart) * 1024 / lines, double(logChars) * 2 / lines);
    if (record) {
        form.findChild<QAction *>(QStringLiteral("recordToFile"))->trigger(); // off: the last batch
        QCoreApplication::processEvents();
        const Recorded r = recordedRows(recordsFolder(w.dirPath));
        std::printf("recorded: %lld rows in %d files, %lld of them the scan's readings (%lld lines listed), "
                    "%lld requests answered or not by the meter\n",
                    r.rows, r.files, r.readings, listed, requests);
    }
    std::printf("one reading: first %d mean %.3f ms (median %.3f), last %d mean %.3f ms (median %.3f)\n", Window,
                mean(first), test::median(first), int(recent.size()), mean(recent), test::median(recent));
    return 0;
}
