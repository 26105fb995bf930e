// A hostile line and an adapter that goes away: the real window against
// meter-sim on a pseudo-terminal, with meter-sim's fault options, real time.
#include "captions.h"
#include "e2erig.h"
#include "frame.h"
#include "testkit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <algorithm>

using namespace movra;
using movra::e2e::Rig;

namespace {

// Registers whose values are known exactly: ADDR is the slave address, BAUD
// the baud rate, VER 0103H.
const QByteArray hostileModel = "3\r\n0100-2 ADDR\r\n0101-2 BAUD\r\n0102-2 VER\r\n";
const QStringList goodMeter = {"--file", "TEST", "--slave", "7"};
const QString slaveText = QStringLiteral("7");

// What Text7 shows for the answers to reads of ADDR and BAUD.
const QString addrAnswer = QStringLiteral("07 03 02 00 07 ");
const QString baudAnswer = QStringLiteral("07 03 02 25 80 ");

// The whole exception frame the meter sends for a read, as Text7 shows it.
QString exceptionText(std::uint8_t code)
{
    QByteArray frame;
    frame.append(char(7)).append(char(0x83)).append(char(code));
    const std::uint16_t crc = crc16(frame);
    frame.append(char(crc & 0xFF)).append(char(crc >> 8));
    QString text;
    for (char b : frame)
        text += hexByte(std::uint8_t(b)) + QLatin1Char(' ');
    return text;
}

QString topLine(const QString &log)
{
    return log.section(QStringLiteral("\r\n"), 0, 0);
}

// Nothing on screen passes for a value.
#define VERIFY_NO_VALUE(ui)                                                                        \
    do {                                                                                           \
        QCOMPARE((ui).Text5->text(), QString());                                                   \
        QCOMPARE((ui).signal1->text(), QString());                                                 \
        QCOMPARE((ui).Text8->text(), QString());                                                   \
        QCOMPARE((ui).Text9->text(), QString());                                                   \
    } while (0)

// The reading of BAUD in full: answer, log, value, bits, meter display.
#define VERIFY_BAUD_READ(ui)                                                                       \
    do {                                                                                           \
        QCOMPARE((ui).Text7->text(), baudAnswer);                                                  \
        QCOMPARE(topLine((ui).Text3->text()), baudAnswer);                                         \
        QCOMPARE((ui).Text5->text(), QStringLiteral("9600"));                                      \
        QCOMPARE((ui).signal1->text(), QStringLiteral("9600"));                                    \
        QCOMPARE((ui).Text8->text(), QStringLiteral("0010010110000000"));                          \
        QCOMPARE((ui).Text9->text(), QString());                                                   \
    } while (0)

// The port panel in its closed state, after a lost link.
#define VERIFY_CLOSED_PANEL(ui)                                                                    \
    do {                                                                                           \
        QCOMPARE((ui).Shape1->fillColor(), 255);                                                   \
        QCOMPARE((ui).Label12->text(), QString());                                                 \
        QVERIFY(!(ui).Command3->isEnabled());                                                      \
        QVERIFY(!(ui).Command5->isEnabled());                                                      \
        QCOMPARE((ui).Command1->text(), QStringLiteral("OPEN"));                                   \
        QVERIFY((ui).Combo1->isEnabled());                                                         \
    } while (0)

#define VERIFY_OPEN_PANEL(ui)                                                                      \
    do {                                                                                           \
        QCOMPARE((ui).Shape1->fillColor(), Lamp::Green);                                           \
        QCOMPARE((ui).Label12->text(), QStringLiteral("COM:1 Baud rate:9600  Protocol:N,8,1"));    \
        QVERIFY((ui).Command3->isEnabled());                                                       \
        QCOMPARE((ui).Command1->text(), QStringLiteral("CLOS"));                                   \
    } while (0)

enum class Gone { SimulatorAndSocat, Socat, Simulator };

void takeAway(Rig &rig, Gone what)
{
    if (what != Gone::Socat)
        rig.line.killSimulator();
    if (what != Gone::Simulator)
        rig.line.killSocat();
}

// A good meter on the same COM1 path again: a new socat pair when the old
// one is gone, and a new meter-sim.
bool bringBack(Rig &rig)
{
    const QStringList args = rig.simulatorArgs(goodMeter);
    if (rig.line.socatRunning())
        return rig.line.startSimulator(args);
    rig.line.killSimulator(); // it served the pty that went away
    return rig.line.start(args);
}

// The scan's list lines since it had `before` lines, oldest first.
QStringList newScanLines(const Form1Controls &ui, int before)
{
    QStringList lines = ui.Text12->text().split(QStringLiteral("\r\n"));
    lines.removeLast();
    lines = lines.mid(0, lines.size() - before);
    std::reverse(lines.begin(), lines.end());
    return lines;
}

int scanLineCount(const Form1Controls &ui)
{
    return int(ui.Text12->text().count(QStringLiteral("\r\n")));
}

} // namespace

class HostileLineTest : public QObject {
    Q_OBJECT
private slots:
    void spoiledAnswer_data();
    void spoiledAnswer();
    void exceptionCode_data();
    void exceptionCode();
    void lateAnswerInsideNextWait();
    void connectOnSpoiledAnswer_data();
    void connectOnSpoiledAnswer();
    void scanListsNoSpoiledValue_data();
    void scanListsNoSpoiledValue();

    void linkGoesAwayDuringWait_data();
    void linkGoesAwayDuringWait();
    void linkGoesAwayWhileIdle_data();
    void linkGoesAwayWhileIdle();
    void linkGoesAwayDuringScan_data();
    void linkGoesAwayDuringScan();
};

// Every second answer is spoiled: a good read of ADDR, the spoiled read of
// VER, then a good read of BAUD, which must show BAUD's value exactly.
void HostileLineTest::spoiledAnswer_data()
{
    QTest::addColumn<QStringList>("fault");
    QTest::addColumn<QString>("shown"); // Text5 after the spoiled read
    QTest::addColumn<int>("settleMs");  // before the next read

    QTest::newRow("5 noise bytes before the answer") << QStringList{"--noise", "5"} << "" << 0;
    QTest::newRow("1 noise byte before the answer") << QStringList{"--noise", "1"} << "" << 0;
    QTest::newRow("7 pieces 15 ms apart, all inside the wait: value shown")
        << QStringList{"--split", "15", "--pieces", "7"} << "259" << 0;
    QTest::newRow("2 pieces 60 ms apart, inside the wait: value shown")
        << QStringList{"--split", "60"} << "259" << 0;
    QTest::newRow("7 pieces 60 ms apart, ending after the wait")
        << QStringList{"--split", "60", "--pieces", "7"} << "" << 300;
    QTest::newRow("starts at 100 ms inside the wait, ends at 300 ms after it")
        << QStringList{"--delay", "100", "--split", "200"} << "" << 250;
    QTest::newRow("late answer at 300 ms, then a good one")
        << QStringList{"--delay", "300"} << "" << 300;
    QTest::newRow("local echo of the request in front of the answer: echo dropped")
        << QStringList{"--echo"} << "259" << 0;
    QTest::newRow("local echo and 2 pieces: echo dropped") << QStringList{"--echo", "--split", "40"} << "259" << 0;
    QTest::newRow("answer from slave 8") << QStringList{"--wrong-slave", "8"} << "" << 0;
    QTest::newRow("answer from slave 0") << QStringList{"--wrong-slave", "0"} << "" << 0;
    QTest::newRow("byte count off by two") << QStringList{"--wrong-count"} << "" << 0;
}

void HostileLineTest::spoiledAnswer()
{
    QFETCH(QStringList, fault);
    QFETCH(QString, shown);
    QFETCH(int, settleMs);
    Rig rig;
    START_RIG(rig, goodMeter + QStringList{"--fault-every", "2"} + fault, hostileModel);
    rig.open();
    const auto &ui = rig.ui();
    ui.Text1->setText(slaveText);

    rig.read("0100", "2");
    QCOMPARE(ui.Text5->text(), slaveText);

    rig.read("0102", "2");
    QCOMPARE(topLine(ui.Text4->text()), QStringLiteral("07,03,01,02,00,01,24,50"));
    if (shown.isEmpty()) {
        VERIFY_NO_VALUE(ui);
    } else {
        QCOMPARE(ui.Text5->text(), shown);
        QCOMPARE(ui.signal1->text(), shown);
        QCOMPARE(ui.Text8->text(), QStringLiteral("0000000100000011"));
    }

    QTest::qWait(settleMs);
    rig.read("0101", "2");
    VERIFY_BAUD_READ(ui);
    QCOMPARE(ui.Text4->text().count("\r\n"), 3);
}

void HostileLineTest::exceptionCode_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("01 illegal function") << 0x01;
    QTest::newRow("02 illegal data address") << 0x02;
    QTest::newRow("03 illegal data value") << 0x03;
    QTest::newRow("04 slave device failure") << 0x04;
    QTest::newRow("05 acknowledge") << 0x05;
    QTest::newRow("06 slave device busy") << 0x06;
    QTest::newRow("07 negative acknowledge") << 0x07;
    QTest::newRow("08 memory parity error") << 0x08;
    QTest::newRow("09 unassigned") << 0x09;
    QTest::newRow("0A gateway path unavailable") << 0x0A;
    QTest::newRow("0B gateway target failed to respond") << 0x0B;
    QTest::newRow("7F no such code") << 0x7F;
    QTest::newRow("FF no such code") << 0xFF;
}

// The exception answer is shown and logged as it came, and gives no value.
void HostileLineTest::exceptionCode()
{
    QFETCH(int, code);
    Rig rig;
    START_RIG(rig,
              goodMeter + QStringList{"--fault-every", "2", "--exception", QString::number(code)},
              hostileModel);
    rig.open();
    const auto &ui = rig.ui();
    ui.Text1->setText(slaveText);
    rig.read("0100", "2");
    QCOMPARE(ui.Text5->text(), slaveText);

    rig.read("0102", "2");
    const QString text7 = exceptionText(std::uint8_t(code));
    QCOMPARE(ui.Text7->text(), text7);
    QCOMPARE(ui.Text3->text(), text7 + "\r\n" + addrAnswer + "\r\n");
    VERIFY_NO_VALUE(ui);

    rig.read("0101", "2");
    VERIFY_BAUD_READ(ui);
}

// The next request, sent at once, waits until the late answer is in: that
// answer is logged on its own line and dropped, and the read shows its own value.
void HostileLineTest::lateAnswerInsideNextWait()
{
    Rig rig;
    START_RIG(rig, goodMeter + QStringList{"--fault-every", "2", "--delay", "300"}, hostileModel);
    rig.open();
    const auto &ui = rig.ui();
    ui.Text1->setText(slaveText);
    rig.read("0100", "2");
    QCOMPARE(ui.Text5->text(), slaveText);
    rig.read("0102", "2"); // VER, answered 300 ms later
    VERIFY_NO_VALUE(ui);
    rig.read("0101", "2"); // at once
    VERIFY_BAUD_READ(ui);
    QVERIFY(ui.Text3->text().section("\r\n", 1, 1).startsWith(QStringLiteral("07 03 02 01 03 ")));

    // A meter without faults on the same line.
    rig.line.killSimulator();
    QVERIFY2(bringBack(rig), qPrintable(rig.line.errorString()));
    rig.read("0101", "2");
    VERIFY_BAUD_READ(ui);
}

void HostileLineTest::connectOnSpoiledAnswer_data()
{
    QTest::addColumn<QStringList>("fault");
    QTest::addColumn<int>("settleMs");
    QTest::addColumn<QString>("shown"); // signal1 after the spoiled answer
    QTest::newRow("5 noise bytes") << QStringList{"--noise", "5"} << 0 << "";
    QTest::newRow("exception 04") << QStringList{"--exception", "4"} << 0 << "";
    QTest::newRow("answer from slave 8") << QStringList{"--wrong-slave", "8"} << 0 << "";
    QTest::newRow("local echo: echo dropped") << QStringList{"--echo"} << 0 << "259";
    QTest::newRow("late answer at 300 ms") << QStringList{"--delay", "300"} << 300 << "";
}

// Connect reads the model's last entry (VER): a spoiled answer gives the
// hint, not a success, and the next Connect shows the value again.
void HostileLineTest::connectOnSpoiledAnswer()
{
    QFETCH(QStringList, fault);
    QFETCH(int, settleMs);
    QFETCH(QString, shown);
    Rig rig;
    START_RIG(rig, goodMeter + QStringList{"--fault-every", "2"} + fault, hostileModel);
    rig.open();
    const auto &ui = rig.ui();
    ui.Combo7->setEditText(QStringLiteral("TEST"));
    ui.Combo6->setCurrentIndex(6); // slave 7

    rig.ui().Command2->click();
    QCOMPARE(ui.signal1->text(), QStringLiteral("259"));
    QCOMPARE(ui.signal2->text(), QString());

    rig.ui().Command2->click();
    QCOMPARE(ui.signal1->text(), shown);
    QCOMPARE(ui.Text5->text(), shown);
    QCOMPARE(ui.signal2->text(), shown.isEmpty() ? englishTable().connectHint : QString());

    QTest::qWait(settleMs);
    rig.ui().Command2->click();
    QCOMPARE(ui.signal1->text(), QStringLiteral("259"));
    QCOMPARE(ui.signal2->text(), QString());
}

void HostileLineTest::scanListsNoSpoiledValue_data()
{
    QTest::addColumn<QStringList>("fault");
    QTest::addColumn<bool>("spoils");
    QTest::newRow("no answer") << QStringList{"--silent"} << true;
    QTest::newRow("local echo: dropped, every value listed") << QStringList{"--echo"} << false;
}

// Every second reading of the scan is spoiled: its list line has an empty
// value, never the reading before it nor the spoiled bytes.
void HostileLineTest::scanListsNoSpoiledValue()
{
    QFETCH(QStringList, fault);
    QFETCH(bool, spoils);
    Rig rig;
    START_RIG(rig, goodMeter + QStringList{"--fault-every", "2"} + fault, hostileModel);
    rig.open();
    const auto &ui = rig.ui();
    ui.Check1->setChecked(true);
    ui.Text1->setText(slaveText);
    ui.Combo5->setEditText(QStringLiteral("TEST"));
    rig.ui().Command10->click();
    QTRY_VERIFY_WITH_TIMEOUT(scanLineCount(ui) >= 5, 8000);
    rig.ui().Command11->click();

    static const QStringList good = {"40257--0100--7--ADDR", "40258--0101--9600--BAUD",
                                     "40259--0102--259--VER"};
    static const QStringList spoiled = {"40257--0100----ADDR", "40258--0101----BAUD",
                                        "40259--0102----VER"};
    const QStringList lines = newScanLines(ui, 0);
    for (int k = 0; k < lines.size(); ++k) {
        const QString expected = (k % 2 == 0 || !spoils ? good : spoiled).at(k % 3);
        QCOMPARE(lines.at(k), expected);
    }
}

void HostileLineTest::linkGoesAwayDuringWait_data()
{
    QTest::addColumn<int>("gone");
    QTest::addColumn<bool>("linkLost");
    QTest::newRow("meter-sim and socat killed: link lost")
        << int(Gone::SimulatorAndSocat) << true;
    QTest::newRow("socat killed: link lost") << int(Gone::Socat) << true;
    QTest::newRow("meter-sim killed: the line stays, silent") << int(Gone::Simulator) << false;
}

void HostileLineTest::linkGoesAwayDuringWait()
{
    QFETCH(int, gone);
    QFETCH(bool, linkLost);
    Rig rig;
    START_RIG(rig, goodMeter + QStringList{"--delay", "150"}, hostileModel);
    rig.open();
    const auto &ui = rig.ui();
    ui.Text1->setText(slaveText);
    rig.read("0100", "2");
    QCOMPARE(ui.Text5->text(), slaveText);

    QTimer::singleShot(50, [&] { takeAway(rig, Gone(gone)); });
    rig.read("0101", "2");
    VERIFY_NO_VALUE(ui);
    if (linkLost) {
        QTRY_COMPARE(ui.Shape1->fillColor(), 255);
        VERIFY_CLOSED_PANEL(ui);
        rig.read("0101", "2"); // on the dead port: harmless, no value
        VERIFY_NO_VALUE(ui);
    } else {
        QTest::qWait(100);
        VERIFY_OPEN_PANEL(ui);
    }

    QVERIFY2(bringBack(rig), qPrintable(rig.line.errorString()));
    if (linkLost) {
        rig.ui().Command1->click();
        VERIFY_OPEN_PANEL(ui);
    }
    rig.read("0101", "2");
    VERIFY_BAUD_READ(ui);
}

void HostileLineTest::linkGoesAwayWhileIdle_data()
{
    QTest::addColumn<int>("gone");
    QTest::newRow("meter-sim and socat killed") << int(Gone::SimulatorAndSocat);
    QTest::newRow("socat killed") << int(Gone::Socat);
}

void HostileLineTest::linkGoesAwayWhileIdle()
{
    QFETCH(int, gone);
    Rig rig;
    START_RIG(rig, goodMeter, hostileModel);
    rig.open();
    const auto &ui = rig.ui();
    ui.Text1->setText(slaveText);
    rig.read("0100", "2");
    QCOMPARE(ui.Text5->text(), slaveText);

    takeAway(rig, Gone(gone));
    QTRY_COMPARE(ui.Shape1->fillColor(), 255);
    VERIFY_CLOSED_PANEL(ui);

    // Nothing runs while the dead port sits there.
    const double cpu0 = test::cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(1000);
    const double share = (test::cpuSeconds() - cpu0) / (double(wall.elapsed()) / 1000);
    qInfo("link gone, port idle: %.1f %% of a core", 100 * share);
    QVERIFY2(share < 0.3, qPrintable(QStringLiteral("%1 of a core").arg(share)));
    VERIFY_CLOSED_PANEL(ui);

    QVERIFY2(bringBack(rig), qPrintable(rig.line.errorString()));
    rig.ui().Command1->click();
    VERIFY_OPEN_PANEL(ui);
    rig.read("0101", "2");
    VERIFY_BAUD_READ(ui);
}

void HostileLineTest::linkGoesAwayDuringScan_data()
{
    QTest::addColumn<bool>("reopen"); // or the operator stops the scan
    QTest::newRow("then the link comes back and the port is opened again") << true;
    QTest::newRow("then the operator stops the scan") << false;
}

// The scan goes on ticking over the dead port, listing empty values, without
// spinning, until the operator opens the port again or stops the scan.
void HostileLineTest::linkGoesAwayDuringScan()
{
    QFETCH(bool, reopen);
    Rig rig;
    START_RIG(rig, goodMeter, hostileModel);
    rig.open();
    const auto &ui = rig.ui();
    ui.Check1->setChecked(true);
    ui.Text1->setText(slaveText);
    ui.Combo5->setEditText(QStringLiteral("TEST"));
    rig.ui().Command10->click();
    QTRY_VERIFY_WITH_TIMEOUT(scanLineCount(ui) >= 2, 5000);
    static const QRegularExpression live("^(40257--0100--7--ADDR|40258--0101--9600--BAUD|"
                                         "40259--0102--259--VER)$");
    for (const QString &line : newScanLines(ui, 0))
        QVERIFY2(live.match(line).hasMatch(), qPrintable(line));

    takeAway(rig, Gone::SimulatorAndSocat);
    QTRY_COMPARE(ui.Shape1->fillColor(), 255);
    VERIFY_CLOSED_PANEL(ui);
    QTest::qWait(350); // a reading that straddled the loss is listed

    const int before = scanLineCount(ui);
    const double cpu0 = test::cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(1500);
    const double seconds = double(wall.elapsed()) / 1000;
    const double share = (test::cpuSeconds() - cpu0) / seconds;
    qInfo("link gone, scan running: %.1f %% of a core over %.2f s", 100 * share, seconds);
    QVERIFY2(share < 0.3, qPrintable(QStringLiteral("%1 of a core").arg(share)));
    QVERIFY2(seconds < 3.0, qPrintable(QStringLiteral("the wait took %1 s").arg(seconds)));
    // Five ticks, one of which may end a pass without a reading.
    const QStringList dead = newScanLines(ui, before);
    QVERIFY2(dead.size() >= 3, qPrintable(dead.join(" | ")));
    static const QRegularExpression empty("^(40257--0100----ADDR|40258--0101----BAUD|"
                                          "40259--0102----VER)$");
    for (const QString &line : dead)
        QVERIFY2(empty.match(line).hasMatch(), qPrintable(line));
    QVERIFY(ui.Timer2->isActive());
    QVERIFY(!ui.Command11->isHidden());
    VERIFY_CLOSED_PANEL(ui);
    VERIFY_NO_VALUE(ui);

    if (reopen) {
        QVERIFY2(bringBack(rig), qPrintable(rig.line.errorString()));
        rig.ui().Command1->click();
        VERIFY_OPEN_PANEL(ui);
        const int back = scanLineCount(ui);
        QTRY_VERIFY_WITH_TIMEOUT(scanLineCount(ui) >= back + 3, 5000);
        for (const QString &line : newScanLines(ui, back))
            QVERIFY2(live.match(line).hasMatch(), qPrintable(line));
        QVERIFY(ui.Timer2->isActive());
        rig.ui().Command11->click();
    } else {
        rig.ui().Command11->click();
        QVERIFY(!ui.Timer2->isActive());
        QVERIFY(!ui.Command10->isHidden());
        const int stopped = scanLineCount(ui);
        QTest::qWait(700);
        QCOMPARE(scanLineCount(ui), stopped);
        VERIFY_CLOSED_PANEL(ui);
    }
}

QTEST_MAIN(HostileLineTest)
#include "tst_hostile.moc"
