// End to end: the real window on a pseudo-terminal, a libmodbus meter
// (meter-sim) on the other end, real time.
#include "e2erig.h"
#include "scancheck.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

using namespace movra;
using movra::e2e::Rig;

namespace {

// The decimal value of an answer's data bytes, as two's complement.
QString valueOfAnswer(const QString &text7, int length)
{
    const QStringList bytes = text7.split(' ', Qt::SkipEmptyParts);
    quint64 v = 0;
    for (int i = 3; i < 3 + length; ++i)
        v = (v << 8) | bytes.value(i).toUInt(nullptr, 16);
    const int bits = 8 * length;
    if (bits < 64 && (v >> (bits - 1)) & 1)
        return QString::number(qint64(v) - (qint64(1) << bits));
    return bits == 64 ? QString::number(qint64(v)) : QString::number(v);
}

QString bitsOf(const QString &text7, int length)
{
    const QStringList bytes = text7.split(' ', Qt::SkipEmptyParts);
    QString out;
    for (int i = 3; i < 3 + length; ++i)
        out += QStringLiteral("%1").arg(bytes.value(i).toUInt(nullptr, 16), 8, 2, QLatin1Char('0'));
    return out;
}

// Registers with fixed values: ADDR the slave address (7), BAUD the baud rate,
// VER 0103H.
// Four one-register entries with distinct values (meter-sim gives ZERO 0).
const QByteArray fixedModel = "4\r\n0000-2 ADDR\r\n0001-2 BAUD\r\n0002-2 VER\r\n0003-2 ZERO\r\n";
const QMap<QString, QString> fixedValues = {{"ADDR", "7"}, {"BAUD", "9600"}, {"VER", "259"}, {"ZERO", "0"}};

// The search's hint while a try runs.
const QRegularExpression searchingHint(R"(^Searching: \d+ [NEO],8,1, address \d+ \(\d+ of 180\)$)");

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void readsByHand_data();
    void readsByHand();
    void faults_data();
    void faults();
    void lateAnswerIsDropped();
    void neverAnotherRequestsValue_data();
    void neverAnotherRequestsValue();
    void lineGoesAwayDuringWait();
    void portThatDoesNotExist();
    void connectShowsLiveValue();
    void connectWrongAddressShowsHint();
    void findsTheMeter_data();
    void findsTheMeter();
    void scanListsEveryReading();
};

void EndToEndTest::readsByHand_data()
{
    QTest::addColumn<QString>("reg");
    QTest::addColumn<QString>("length");
    QTest::newRow("2 bytes: ADDR") << "0100" << "2";
    QTest::newRow("4 bytes: KWH") << "0010" << "4";
    QTest::newRow("6 bytes: CNT") << "0020" << "6";
    QTest::newRow("8 bytes: CNT") << "0030" << "8";
}

void EndToEndTest::readsByHand()
{
    QFETCH(QString, reg);
    QFETCH(QString, length);
    Rig rig;
    START_RIG(rig, {"--file", "TEST", "--slave", "3"});
    rig.open();
    const auto &ui = rig.ui();
    ui.Text1->setText("3");
    rig.read(reg, length);
    const int n = length.toInt();
    const QString request = ui.Text4->text().section("\r\n", 0, 0);
    QCOMPARE(request.left(17), QStringLiteral("03,03,%1,%2,00,%3").arg(reg.left(2), reg.mid(2)).arg(n / 2, 2, 10, QLatin1Char('0')));
    const QString text7 = ui.Text7->text();
    QCOMPARE(text7.left(9), QStringLiteral("03 03 %1 ").arg(n, 2, 16, QLatin1Char('0')).toUpper());
    QCOMPARE(text7.size(), 3 * (3 + n));
    QCOMPARE(ui.Text3->text(), text7 + "\r\n");
    QCOMPARE(ui.Text5->text(), valueOfAnswer(text7, n));
    QCOMPARE(ui.Text8->text(), bitsOf(text7, n));
    QCOMPARE(ui.Text9->text().isEmpty(), !ui.Text8->text().startsWith('1'));
    QCOMPARE(ui.signal1->text(), ui.Text5->text());
    if (reg == "0100")
        QCOMPARE(ui.Text5->text(), QStringLiteral("3")); // the meter's own address
    // A second read of a rising counter gives a fresh value, not the first one again.
    if (n >= 6) {
        const qint64 first = ui.Text5->text().toLongLong();
        rig.read(reg, length);
        QVERIFY(ui.Text5->text().toLongLong() >= first);
        QCOMPARE(ui.Text3->text().count("\r\n"), 2);
    }
}

void EndToEndTest::faults_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("text7"); // empty: nothing rendered
    QTest::newRow("silent meter") << QStringList{"--silent"} << "";
    QTest::newRow("exception 02") << QStringList{"--exception", "2"} << "01 83 02 C0 F1 ";
    QTest::newRow("bad CRC") << QStringList{"--bad-crc"} << "01 03 02 00 01 ";
}

void EndToEndTest::faults()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QString, text7);
    Rig rig;
    START_RIG(rig, QStringList{"--file", "TEST", "--slave", "1"} + simArgs);
    rig.open();
    rig.read("0100", "2");
    const auto &ui = rig.ui();
    QCOMPARE(ui.Text4->text(), QStringLiteral("01,03,01,00,00,01,85,F6\r\n"));
    QCOMPARE(ui.Text7->text(), text7);
    QCOMPARE(ui.Text3->text(), text7.isEmpty() ? QString() : text7 + "\r\n");
    QVERIFY(ui.Text5->text().isEmpty());
    QVERIFY(ui.signal1->text().isEmpty());
}

void EndToEndTest::lateAnswerIsDropped()
{
    Rig rig;
    START_RIG(rig, {"--file", "TEST", "--slave", "1", "--delay", "300"});
    rig.open();
    rig.read("0100", "2"); // its answer comes after the wait
    QVERIFY(rig.ui().Text5->text().isEmpty());
    QTest::qWait(300); // now it lies in the receive buffer
    rig.read("0010", "4");
    // The late 0100 answer was dropped before the 0010 request went out; it
    // taught the line the lateness, so the 0010 answer is waited for and read.
    QVERIFY(rig.ui().Text7->text().startsWith(QStringLiteral("01 03 04 ")));
    // The dropped 0100 answer is logged on a line of its own, below it.
    const QStringList lines = rig.ui().Text3->text().split("\r\n", Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[1].startsWith(QStringLiteral("01 03 02 ")));
    QVERIFY(!rig.ui().Text5->text().isEmpty());
    QCOMPARE(rig.ui().Text4->text().count("\r\n"), 2);
}

void EndToEndTest::neverAnotherRequestsValue_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<bool>("scan");      // a scan of the model; else two reads by hand
    QTest::addColumn<int>("seconds");    // of scanning
    QTest::addColumn<int>("shown");      // least share, in %, of the readings that show their own value
    QTest::addColumn<int>("borrowed");   // listed values that may be another request's
    QTest::addColumn<int>("lost");       // most readings without their own value; -1: any
    QTest::newRow("0.3 s late: read 0001 0.25 s after 0000") << QStringList{"--latency", "0.3"} << false << 0 << 0 << 0
                                                             << -1;
    // Slower than the answer wait: the wait grows to the meter's lateness. The
    // first late answer may pass for the next request's, and the one after
    // goes before the line has seen late bytes: at most three lost.
    QTest::newRow("0.3 s late: scan for 15 s") << QStringList{"--latency", "0.3"} << true << 15 << 80 << 0 << 2;
    QTest::newRow("0.45 s late: scan for 15 s") << QStringList{"--latency", "0.45"} << true << 15 << 80 << 0 << 2;
    QTest::newRow("0.7 s late: scan for 15 s") << QStringList{"--latency", "0.7"} << true << 15 << 75 << 1 << 3;
    QTest::newRow("1.0 s late: scan for 15 s") << QStringList{"--latency", "1.0"} << true << 15 << 75 << 1 << 3;
    // A meter that slows down: no value another request's, the wait relearned.
    QTest::newRow("0.3 s late for eight requests, then 0.9 s: scan for 15 s")
        << QStringList{"--latency", "0.3", "--latency-after", "8:0.9"} << true << 15 << 75 << 0 << 4;
    QTest::newRow("0.9 s late for eight requests, then on time: scan for 15 s")
        << QStringList{"--latency", "0.9", "--latency-after", "8:0"} << true << 15 << 75 << 0 << 4;
    QTest::newRow("0.25 to 0.55 s late: scan for 15 s")
        << QStringList{"--latency", "0.25", "--jitter", "0.3"} << true << 15 << 75 << 0 << 4;
    // The 30th answer 0.7 s late, the others on time: at most two values lost.
    QTest::newRow("late once, then on time") << QStringList{"--fault-every", "30", "--delay", "700"} << true << 15
                                             << 0 << 1 << 2;
    QTest::newRow("local echo: reads by hand") << QStringList{"--echo"} << false << 0 << 100 << 0 << -1;
    QTest::newRow("local echo: scan") << QStringList{"--echo"} << true << 3 << 100 << 0 << -1;
}

// A value shown or listed is always the value of the register asked for.
void EndToEndTest::neverAnotherRequestsValue()
{
    QFETCH(QStringList, simArgs);
    QFETCH(bool, scan);
    QFETCH(int, seconds);
    QFETCH(int, shown);
    QFETCH(int, borrowed);
    QFETCH(int, lost);
    Rig rig;
    START_RIG(rig, QStringList{"--file", "TEST", "--slave", "7"} + simArgs, fixedModel);
    rig.open();
    const auto &ui = rig.ui();
    // Each reading: {value, entry name}.
    QList<QStringList> readings;
    ui.Text1->setText("7");
    if (!scan) {
        rig.read("0000", "2");
        readings.append({ui.Text5->text(), "ADDR"});
        QTest::qWait(50);
        rig.read("0001", "2");
        readings.append({ui.Text5->text(), "BAUD"});
    } else {
        ui.Check1->setChecked(true);
        ui.Combo5->setEditText("TEST");
        rig.ui().Command10->click();
        QTest::qWait(seconds * 1000);
        rig.ui().Command11->click();
        QStringList lines = ui.Text12->text().split("\r\n");
        lines.removeLast();
        QVERIFY2(lines.size() >= 3, qPrintable(ui.Text12->text()));
        for (const QString &line : std::as_const(lines)) {
            const QStringList f = line.split("--"); // 4000N, address, value, name
            QCOMPARE(f.size(), 4);
            readings.append({f[2], f[3]});
        }
    }
    QStringList wrong;
    int own = 0;
    for (const QStringList &r : std::as_const(readings)) {
        if (r[0] == fixedValues[r[1]])
            ++own;
        else if (!r[0].isEmpty())
            wrong << r.join(QLatin1Char(' '));
    }
    qInfo("%lld readings listed, %d showed their own value, %lld another request's", readings.size(), own,
          qsizetype(wrong.size()));
    QVERIFY2(wrong.size() <= borrowed, qPrintable(wrong.join(QLatin1Char(','))));
    QVERIFY2(own * 100 >= shown * readings.size(), qPrintable(ui.Text12->text()));
    QVERIFY2(lost < 0 || readings.size() - own <= lost, qPrintable(ui.Text12->text()));
}

void EndToEndTest::lineGoesAwayDuringWait()
{
    Rig rig;
    START_RIG(rig, {"--file", "TEST", "--slave", "1", "--delay", "150"});
    rig.open();
    QTimer::singleShot(50, [&] { rig.line.killSocat(); });
    rig.read("0100", "2");
    QTRY_COMPARE(rig.ui().Shape1->fillColor(), Lamp::Red);
    QCOMPARE(rig.ui().Command1->text(), QStringLiteral("OPEN"));
    QVERIFY(rig.ui().Label12->text().isEmpty());
    QVERIFY(rig.ui().Text5->text().isEmpty());
    QVERIFY(!rig.ui().Command3->isEnabled());
    rig.ui().Command3->click(); // harmless on a dead line
    QVERIFY(rig.ui().Text5->text().isEmpty());
}

void EndToEndTest::portThatDoesNotExist()
{
    Rig rig;
    START_RIG(rig, {"--file", "TEST"});
    rig.ui().Combo1->setCurrentIndex(14); // COM15: no link, no /dev/ttyS14
    if (QFile::exists("/dev/ttyS14"))
        QSKIP("this machine has /dev/ttyS14");
    rig.ui().Command1->click();
    QCOMPARE(rig.ui().Shape1->fillColor(), Lamp::Red);
    QCOMPARE(rig.ui().Command1->text(), QStringLiteral("Open"));
    QVERIFY(rig.ui().Label12->text().isEmpty());
    QVERIFY(!rig.ui().Command3->isEnabled());
}

void EndToEndTest::connectShowsLiveValue()
{
    Rig rig;
    START_RIG(rig, {"--model", "MV-100", "--slave", "1"});
    rig.open();
    QCOMPARE(rig.ui().Combo7->currentText(), QStringLiteral("MV-100"));
    rig.ui().Command2->click();
    // Its last entry is the voltage, in 0.1 V, live.
    const int volts = rig.ui().signal1->text().toInt();
    QVERIFY2(volts > 2000 && volts < 2600, qPrintable(rig.ui().signal1->text()));
    QVERIFY(rig.ui().signal2->text().isEmpty());
    QCOMPARE(rig.ui().Label12->text(), QStringLiteral("COM:1 Baud rate:9600  Protocol:N,8,1"));
}

void EndToEndTest::connectWrongAddressShowsHint()
{
    Rig rig;
    START_RIG(rig, {"--model", "MV-100", "--slave", "1"});
    rig.open();
    rig.ui().Combo6->setCurrentIndex(4); // slave 5: nobody there
    rig.ui().Command2->click();
    QVERIFY(rig.ui().signal1->text().isEmpty());
    QCOMPARE(rig.ui().signal2->text(),
             QStringLiteral("1. Confirm the baud rate / protocol!\r\n2. Confirm the model or address !"));
}

void EndToEndTest::findsTheMeter_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("stopBy");  // "Connect", "Escape", "Exit" or nobody
    QTest::addColumn<QString>("baud");    // the lists and the status line at the end
    QTest::addColumn<QString>("framing");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("hint");    // signal2 at the end
    QTest::addColumn<int>("queries");     // requests sent; 0: one at most after the stop
    QTest::addColumn<int>("withinMs");    // the whole search; 0: no limit
    const QString none = "No meter at 1-15, 2400-19200 baud, N/E/O";
    const QString stopped = "Search stopped: the settings are as before";
    // 15 tries at the settings in effect, then 19200 N, 9600 E, 19200 E, 9600 O;
    // a find is confirmed by one more read.
    QTest::newRow("found at 19200, slave 7") << QStringList{"--baud", "19200", "--slave", "7"} << ""
                                             << "19200" << "N,8,1" << "7" << "" << 15 + 7 + 1 << 0;
    QTest::newRow("found with odd parity, slave 3") << QStringList{"--parity", "O", "--slave", "3"} << ""
                                                    << "9600" << "O,8,1" << "3" << "" << 60 + 3 + 1 << 0;
    QTest::newRow("found at the settings in effect, slave 15") << QStringList{"--slave", "15"} << "" << "9600"
                                                               << "N,8,1" << "15" << "" << 15 + 1 << 4000;
    QTest::newRow("none: meter at 1200 baud") << QStringList{"--baud", "1200"} << "" << "9600" << "N,8,1" << "1"
                                              << none << 180 << 40000;
    QTest::newRow("stopped by Connect") << QStringList{"--baud", "1200"} << "Connect" << "9600" << "N,8,1" << "1"
                                        << stopped << 0 << 0;
    QTest::newRow("stopped by Escape") << QStringList{"--baud", "1200"} << "Escape" << "9600" << "N,8,1" << "1"
                                       << stopped << 0 << 0;
    // The program ends as the search lets go, not when it would have ended.
    QTest::newRow("Exit ends the search, then the program") << QStringList{"--baud", "1200"} << "Exit" << "9600"
                                                            << "N,8,1" << "1" << stopped << 0 << 1500;
}

// Connect's "Find the meter" against a meter that hears the tool's settings.
void EndToEndTest::findsTheMeter()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QString, stopBy);
    QFETCH(QString, baud);
    QFETCH(QString, framing);
    QFETCH(QString, address);
    QFETCH(QString, hint);
    QFETCH(int, queries);
    QFETCH(int, withinMs);
    Rig rig;
    rig.ownPty = true;
    START_RIG(rig, QStringList{"--model", "MV-100"} + simArgs);
    rig.open();
    const auto &ui = rig.ui();

    // A second into it: the hint, the locks, and the stop, if any.
    bool sawSearching = false;
    int queriesAtStop = -1;
    QTimer::singleShot(1000, [&] {
        sawSearching = searchingHint.match(ui.signal2->text()).hasMatch() && !ui.Command1->isEnabled()
                       && !ui.Combo6->isEnabled() && !ui.Combo7->isEnabled() && !ui.Check1->isEnabled();
        queriesAtStop = ui.Text4->lineCount();
        if (stopBy == "Connect")
            ui.Command2->click();
        if (stopBy == "Escape")
            QTest::keyClick(rig.form.get(), Qt::Key_Escape);
        if (stopBy == "Exit") {
            ui.Command12->click();
            QCOMPARE(rig.quits, 0); // not while the search still holds the line
        }
    });
    const qint64 ms = rig.findMeter();
    QVERIFY(ms >= 0);
    QCOMPARE(rig.quits, stopBy == "Exit" ? 1 : 0);
    qInfo("search ended after %lld ms, %d requests sent", ms, ui.Text4->lineCount());
    QVERIFY(sawSearching);
    QCOMPARE(ui.Combo2->currentText(), baud);
    QCOMPARE(ui.Combo3->currentText(), framing);
    QCOMPARE(ui.Combo6->currentText(), address);
    QCOMPARE(ui.Shape1->fillColor(), Lamp::Green);
    QCOMPARE(ui.Label12->text(), QStringLiteral("COM:1 Baud rate:%1  Protocol:%2").arg(baud, framing));
    QCOMPARE(ui.signal2->text(), hint);
    if (hint.isEmpty()) { // found: the meter's voltage, in 0.1 V, live
        const int volts = ui.signal1->text().toInt();
        QVERIFY2(volts > 2000 && volts < 2600, qPrintable(ui.signal1->text()));
    } else {
        QVERIFY(ui.signal1->text().isEmpty());
    }
    if (queries > 0)
        QCOMPARE(ui.Text4->lineCount(), queries);
    else
        QVERIFY2(ui.Text4->lineCount() <= queriesAtStop + 1, qPrintable(ui.Text4->text()));
    if (withinMs > 0)
        QVERIFY2(ms < withinMs, qPrintable(QString::number(ms)));
    // The window works on: Connect at the settings now in effect.
    ui.Command2->click();
    QCOMPARE(ui.signal1->text().isEmpty(), !hint.isEmpty());
}

void EndToEndTest::scanListsEveryReading()
{
    Rig rig;
    START_RIG(rig, {"--model", "MV-210", "--slave", "1"});
    rig.open();
    const auto &ui = rig.ui();
    ui.Check1->setChecked(true);
    ui.Combo5->setCurrentIndex(ui.Combo5->findText("MV-210"));
    rig.ui().Command10->click();
    QTest::qWait(3000);
    rig.ui().Command11->click();
    test::verifyScanOfMv210(ui);
}

QTEST_MAIN(EndToEndTest)
#include "tst_e2e.moc"
