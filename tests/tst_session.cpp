// The session under the window, on the scripted meter in virtual time: what
// each command sends, what it carries over to the next request, and what it
// leaves on screen, and why.
#include "captions.h"
#include "fakemeter.h"
#include "language.h"
#include "metersession.h"
#include "testkit.h"

#include <QtTest>

using namespace movra;
using movra::test::hex;

Q_DECLARE_METATYPE(movra::FakeMeter::Reply)

namespace {

const QByteArray twoEntries = "2\r\n0010-2 VOLT\r\n0020+4 POWER\r\n";
const QByteArray oneEntry = "1\r\n0010-2 VOLT\r\n";
constexpr double TickInterval = 0.3;

// A session on a FakeMeter whose registers hold their own address, in a
// folder with item/M.TXT (none when `model` is null).
struct Rig {
    explicit Rig(const QByteArray &model = {})
    {
        if (!model.isNull())
            test::writeFileBelow(dir.path(), QStringLiteral("item/M.TXT"), model);
        auto meter = std::make_unique<FakeMeter>(clock);
        fake = meter.get();
        for (quint16 r : {0x0000, 0x0001, 0x0002, 0x0003, 0x0010, 0x0011, 0x0020, 0x0021, 0x0030, 0x0100, 0x0200})
            fake->setRegister(r, r);
        session = std::make_unique<MeterSession>(std::move(meter), clock, dir.path(), EnglishUsLangId);
        session->setConnectHint(englishTable().connectHint);
    }
    bool open() { return session->toggle({QStringLiteral("COM1"), 0, "9600", "N,8,1"}).panel->open; }
    // "read SLAVE REG LENGTH", "write SLAVE REG VALUE", "function 6",
    // "connect ADDRESS-INDEX", "scan", "tick"; "_" is an empty text.
    Shown run(const QString &command)
    {
        QStringList w = command.split(QLatin1Char(' '));
        w.replaceInStrings(QRegularExpression(QStringLiteral("^_$")), QString());
        const QString verb = w.takeFirst();
        if (verb == QLatin1String("read"))
            return session->read({w.value(0), w.value(1), w.value(2)});
        if (verb == QLatin1String("write"))
            return session->write({w.value(0), w.value(1), w.value(2)});
        if (verb == QLatin1String("function")) {
            session->setFunction(std::uint8_t(w.value(0).toInt()));
            return {};
        }
        if (verb == QLatin1String("connect"))
            return session->connect({model, w.value(0).toInt()});
        if (verb == QLatin1String("scan"))
            return session->startScan(model);
        if (verb == QLatin1String("tick")) {
            // Timer2 ticks every 300 ms, however long a reading took.
            do
                nextTick += TickInterval;
            while (nextTick < clock.now());
            clock.advance(nextTick - clock.now());
            return tickNow();
        }
        qFatal("unknown command %s", qPrintable(command));
    }
    Shown tickNow() { return session->tick({QStringLiteral("1"), model, {model, 0}}); }

    QTemporaryDir dir;
    QString model = QStringLiteral("M");
    VirtualClock clock;
    double nextTick = 0;
    FakeMeter *fake = nullptr;
    std::unique_ptr<MeterSession> session;
};

QString reasonOf(const Shown &shown)
{
    return shown.reason ? reasonText(*shown.reason, englishTable()) : QStringLiteral("(kept)");
}

} // namespace

class SessionTest : public QObject {
    Q_OBJECT
private slots:
    void ports_data();
    void ports();
    void requests_data();
    void requests();
    void answers_data();
    void answers();
    void connect_data();
    void connect();
    void scan_data();
    void scan();
    void reconnect_data();
    void reconnect();
};

// The port button: which port opens, and what the status line then names.
void SessionTest::ports_data()
{
    QTest::addColumn<QString>("portText");
    QTest::addColumn<int>("portIndex"); // -1: the text was typed
    QTest::addColumn<QString>("baud");
    QTest::addColumn<int>("opened");    // 0: nothing opens
    QTest::addColumn<int>("failure");   // OpenFailure, when nothing opens
    QTest::addColumn<QString>("status");

    const int none = int(OpenFailure::None);
    QTest::newRow("typed COM17") << "COM17" << -1 << "9600" << 17 << none << "COM:17 Baud rate:9600  Protocol:N,8,1";
    QTest::newRow("typed text that names no port") << "USB" << -1 << "9600" << 0 << int(OpenFailure::NoSuchPortName) << "";
    QTest::newRow("a baud rate the port refuses") << "COM1" << 0 << "96OO" << 0 << int(OpenFailure::SettingsRefused)
                                                  << "";
}

void SessionTest::ports()
{
    QFETCH(QString, portText);
    QFETCH(int, portIndex);
    QFETCH(QString, baud);
    QFETCH(int, opened);
    QFETCH(int, failure);
    QFETCH(QString, status);
    Rig rig;
    const Shown shown = rig.session->toggle({portText, portIndex, baud, QStringLiteral("N,8,1")});
    QVERIFY(shown.panel);
    QCOMPARE(shown.panel->open, opened != 0);
    QCOMPARE(rig.fake->openCount(), opened != 0 ? 1 : 0);
    QCOMPARE(shown.sendEnabled, std::optional<bool>(opened != 0));
    if (opened) {
        QCOMPARE(rig.fake->openedPort(), opened);
        QCOMPARE(shown.status, std::optional<QString>(status));
    } else {
        QCOMPARE(int(shown.panel->status.failure), failure);
        QVERIFY(!shown.status); // the status line keeps what it said
    }
}

// What goes on the wire, and what the next request inherits.
void SessionTest::requests_data()
{
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QList<QByteArray>>("frames"); // bytes 0..5 of each request sent
    QTest::addColumn<int>("expectedLength");
    QTest::addColumn<QString>("sign");
    QTest::addColumn<QString>("refusal"); // of the last command, when it sent nothing

    const QByteArray none;
    auto row = [&](const char *name, const QByteArray &model, const QStringList &commands,
                   const QList<QByteArray> &frames, int expected, const char *sign, const char *refusal = "") {
        QTest::newRow(name) << model << commands << frames << expected << QString(sign) << QString(refusal);
    };
    row("slave 1, 0000, length 2", none, {"read 1 0000 2"}, {hex("010300000001")}, 5, "-");
    row("length 4 asks for 2 registers", none, {"read 1 0000 4"}, {hex("010300000002")}, 7, "-");
    row("length typed 3: count 2 (1.5 to even), expects 6", none, {"read 1 0000 3"}, {hex("010300000002")}, 6, "-");
    row("length without a number: count 0, expects 3", none, {"read 1 0000 x"}, {hex("010300000000")}, 3, "-");
    row("register '1' is 0100H", none, {"read 1 1 2"}, {hex("010301000001")}, 5, "-");
    row("lower-case register 00ff", none, {"read 7 00ff 2"}, {hex("070300FF0001")}, 5, "-");
    row("slave 0 (broadcast) is sent as it is", none, {"read 0 0010 2"}, {hex("000300100001")}, 5, "-");
    row("an empty slave box is not sent with the previous slave", none, {"read 5 0000 2", "read _ 0000 4"},
        {hex("050300000001")}, 5, "-", "Not sent: slave address");
    row("slave 256 is not sent", none, {"read 256 0000 2"}, {}, 0, "-", "Not sent: slave address");
    row("length 600 gives no register count", none, {"read 1 0000 600"}, {}, 0, "-", "Not sent: data length");
    row("write 0001 to 0000", none, {"function 6", "write 1 0000 0001"}, {hex("010600000001")}, 6, "");
    row("Connect: the last entry, at the address item's number", "3\r\n0000-2 A\r\n0001-2 B\r\n0100-2 VOLT\r\n",
        {"connect 4"}, {hex("050301000001")}, 5, "-");
    row("Connect: a typed address is slave 0", oneEntry, {"connect -1"}, {hex("000300100001")}, 5, "-");
    row("Connect: the entry's sign", "1\r\n0002+4 KWH\r\n", {"connect 0"}, {hex("010300020002")}, 7, "+");
    row("Connect: a length that is not a number keeps the previous count", "1\r\n0010-x VOLT\r\n",
        {"read 1 0000 8", "connect 0"}, {hex("010300000004"), hex("010300100004")}, 11, "-");
    row("the scan reads 03H with the entry's sign while the write option is on", "1\r\n0020+4 POWER\r\n",
        {"function 6", "scan", "tick"}, {hex("010300200002")}, 7, "+");
}

void SessionTest::requests()
{
    QFETCH(QByteArray, model);
    QFETCH(QStringList, commands);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(int, expectedLength);
    QFETCH(QString, sign);
    QFETCH(QString, refusal);
    Rig rig(model);
    QVERIFY(rig.open());
    Shown last;
    for (const QString &c : commands)
        last = rig.run(c);
    QList<QByteArray> sent; // the CRC is the modbus tests' business
    for (const QByteArray &frame : rig.fake->written())
        sent << frame.left(6);
    QCOMPARE(sent, frames);
    QCOMPARE(rig.session->lastRequest().expectedLength, expectedLength);
    QCOMPARE(rig.session->byteOrderSign(), sign);
    if (!refusal.isEmpty()) {
        QCOMPARE(reasonOf(last), refusal);
        QCOMPARE(last.valueShown, Shown::Value::Clear);
        QVERIFY(last.focus != Shown::Focus::Keep);
    }
}

// One request answered as scripted: the value, the log and the reason.
void SessionTest::answers_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QList<quint16>>("registers"); // from 0000
    QTest::addColumn<FakeMeter::Reply>("reply");   // empty: the meter's own answer
    QTest::addColumn<QStringList>("logged");       // response lines, oldest first
    QTest::addColumn<QString>("value");            // empty: the value boxes are emptied
    QTest::addColumn<QString>("bits");
    QTest::addColumn<QString>("inverted");
    QTest::addColumn<QString>("reason");

    const FakeMeter::Reply meter;
    auto answer = [](const QByteArray &bytes) { return FakeMeter::Reply{{bytes, 0.02}}; };
    const QByteArray good = FakeMeter::readAnswer(1, {0x0064});
    QTest::newRow("0064 reads 100") << "read 1 0000 2" << QList<quint16>{0x0064} << meter
                                    << QStringList{"01 03 02 00 64 "} << "100" << "0000000001100100" << ""
                                    << "Answer in 20 ms";
    QTest::newRow("12345678 in the order received")
        << "read 1 0000 4" << QList<quint16>{0x1234, 0x5678} << meter << QStringList{"01 03 04 12 34 56 78 "}
        << "305419896" << "00010010001101000101011001111000" << "" << "Answer in 20 ms";
    QTest::newRow("echo + answer") << "read 1 0000 2" << QList<quint16>{0x0064}
                                   << answer(FakeMeter::withCrc(hex("010300000001")) + good)
                                   << QStringList{"01 03 02 00 64 "} << "100" << "0000000001100100" << ""
                                   << "Answer in 20 ms";
    QTest::newRow("length typed 3: a good answer gives no value")
        << "read 1 0000 3" << QList<quint16>{1, 2} << meter << QStringList{} << "" << "" << ""
        << "Answer gives no value for data length 3";

    auto bad = [&](const char *name, const QByteArray &bytes, const char *reason) {
        QTest::newRow(name) << "read 1 0000 2" << QList<quint16>{0x00FA} << answer(bytes)
                            << QStringList{bytesLine(bytes.left(5))} << "" << "" << "" << reason;
    };
    bad("exception 01 83 02 C0 F1", hex("01 83 02 C0 F1"), "Exception 02: illegal data address");
    bad("exception 0B", FakeMeter::exceptionAnswer(1, 3, 0x0B), "Exception 0B: gateway target device failed to respond");
    bad("exception 07 has no name", FakeMeter::exceptionAnswer(1, 3, 7), "Exception 07");
    bad("bad CRC", FakeMeter::badCrc(good), "CRC error");
    bad("foreign slave 02", FakeMeter::readAnswer(2, {0x0064}), "Answer from slave 2");
    bad("wrong byte count 04", FakeMeter::withCrc(hex("01 03 04 00 64 00 00")), "Wrong byte count");
    bad("a whole frame whose byte count contradicts it", FakeMeter::withCrc(hex("01 03 04 00 64")), "Wrong byte count");
    bad("short: 01 03 02 00", hex("01 03 02 00"), "Answer cut short: 4 of 7 bytes");
    QTest::newRow("no answer from slave 2") << "read 2 0000 2" << QList<quint16>{0x00FA} << meter << QStringList{}
                                           << "" << "" << "" << "No answer within 0.2 s";

    auto write = [&](const char *name, const QByteArray &bytes, const char *reason) {
        QTest::newRow(name) << "write 1 0000 0001" << QList<quint16>{0} << answer(bytes)
                            << QStringList{bytesLine(bytes.left(6))} << "" << "" << "" << reason;
    };
    write("write: its echo", hex("01 06 00 00 00 01 48 0A"), "Answer in 20 ms");
    write("write: echo with another value", hex("01 06 00 00 00 02 08 0B"), "Echo differs from the request");
    write("write: exception", FakeMeter::exceptionAnswer(1, 6, 2), "Exception 02: illegal data address");
    write("write: foreign slave", FakeMeter::withCrc(hex("02 06 00 00 00 01")), "Answer from slave 2");
}

void SessionTest::answers()
{
    QFETCH(QString, command);
    QFETCH(QList<quint16>, registers);
    QFETCH(FakeMeter::Reply, reply);
    QFETCH(QStringList, logged);
    QFETCH(QString, value);
    QFETCH(QString, bits);
    QFETCH(QString, inverted);
    QFETCH(QString, reason);
    Rig rig;
    QVERIFY(rig.open());
    rig.fake->setRegisters(0, registers);
    const bool write = command.startsWith(QLatin1String("write"));
    if (write)
        rig.session->setFunction(WriteSingleRegister);
    if (!reply.isEmpty())
        rig.fake->queueReply(reply);
    const Shown shown = rig.run(command);
    QCOMPARE(shown.responseLines, logged);
    if (!logged.isEmpty())
        QCOMPARE(shown.text7, std::optional<QString>(logged.last()));
    QCOMPARE(reasonOf(shown), reason);
    if (value.isEmpty()) {
        const bool echoed = write && reason.startsWith(QLatin1String("Answer in"));
        QCOMPARE(shown.valueShown, echoed ? Shown::Value::ClearText5 : Shown::Value::Clear);
    } else {
        QCOMPARE(shown.valueShown, Shown::Value::Set);
        QCOMPARE(shown.value.decimal, value);
        QCOMPARE(shown.value.bits, bits);
        QCOMPARE(shown.value.inverted, inverted);
    }
}

// Connect's value, hint and status line.
void SessionTest::connect_data()
{
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("value"); // on the meter display; empty: the hint
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("sent");

    QTest::newRow("a value and the status line") << oneEntry << "" << "16" << "Answer in 20 ms" << 1;
    QTest::newRow("no answer") << oneEntry << "silent" << "" << "No answer within 0.2 s" << 1;
    QTest::newRow("exception answer") << oneEntry << "exception" << "" << "Exception 02: illegal data address" << 1;
    QTest::newRow("port closed") << oneEntry << "closed" << "" << "Not sent: port closed" << 0;
    QTest::newRow("length character not a data length") << QByteArray("1\r\n0010-3 VOLT\r\n") << "" << ""
                                                         << "Answer gives no value for data length 3" << 1;
    QTest::newRow("a 4-byte entry without a byte order") << QByteArray("1\r\n0002x4 KWH\r\n") << "" << ""
                                                         << "Answer gives no value: the byte order sign is neither - nor +" << 1;
    QTest::newRow("missing model file") << QByteArray() << "" << "" << "Not sent: no model entry" << 0;
    QTest::newRow("file shorter than N + 1 lines") << QByteArray("3\r\n0010-2 VOLT\r\n") << "" << ""
                                                   << "Not sent: no model entry" << 0;
}

void SessionTest::connect()
{
    QFETCH(QByteArray, model);
    QFETCH(QString, fault);
    QFETCH(QString, value);
    QFETCH(QString, reason);
    QFETCH(int, sent);
    Rig rig(model);
    if (fault != "closed")
        QVERIFY(rig.open());
    if (fault == "exception")
        rig.fake->queueReply({{FakeMeter::exceptionAnswer(1, 3, 2), 0.02}});
    if (fault == "silent")
        rig.fake->queueReply({});
    const Shown shown = rig.run("connect 0");
    QCOMPARE(rig.fake->written().size(), sent);
    QCOMPARE(reasonOf(shown), reason);
    QCOMPARE(shown.hint, std::optional<QString>(value.isEmpty() ? englishTable().connectHint : QString()));
    if (value.isEmpty()) {
        QCOMPARE(shown.valueShown, Shown::Value::Clear);
        QVERIFY(!shown.status); // the status line keeps its text
    } else {
        QCOMPARE(shown.value.decimal, value);
        QCOMPARE(shown.status, std::optional<QString>(QStringLiteral("COM:1 Baud rate:9600  Protocol:N,8,1")));
    }
}

// The scan's passes: which registers a run of ticks reads, and the list it
// builds (newest first). Events: "silent@N" the Nth request gets no answer,
// "late@N" its answer comes 0.25 s late, "remove@N", "shorten@N", "switch@N"
// (to model N) after the Nth tick.
void SessionTest::scan_data()
{
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QString>("events");
    QTest::addColumn<QList<int>>("read");
    QTest::addColumn<QStringList>("list");

    const QStringList unchecked;
    QTest::newRow("two entries, then a tick that reads nothing, and again")
        << twoEntries << 6 << "" << QList<int>{0x10, 0x20, 0x10, 0x20}
        << QStringList{"40033--0020--553656320--POWER", "40017--0010--16--VOLT",
                       "40033--0020--553656320--POWER", "40017--0010--16--VOLT"};
    QTest::newRow("a register without an answer lists an empty value")
        << twoEntries << 5 << "silent@2" << QList<int>{0x10, 0x20, 0x10}
        << QStringList{"40017--0010--16--VOLT", "40033--0020----POWER", "40017--0010--16--VOLT"};
    QTest::newRow("a tick while the line settles is skipped")
        << QByteArray("2\r\n0010-2 VOLT\r\n0020-2 AMP\r\n") << 3 << "late@1" << QList<int>{0x10, 0x20}
        << QStringList{"40033--0020--32--AMP", "40017--0010----VOLT"};
    QTest::newRow("model changed mid-scan: the next entry of the new file") << twoEntries << 3 << "switch@1"
                                                                            << QList<int>{0x10, 0x200} << unchecked;
    QTest::newRow("missing model file reads nothing") << QByteArray() << 5 << "" << QList<int>{} << QStringList{};
    QTest::newRow("file removed during the scan") << twoEntries << 6 << "remove@1" << QList<int>{0x10} << unchecked;
    QTest::newRow("file shortened: the pass starts again")
        << twoEntries << 6 << "shorten@1" << QList<int>{0x10, 0x10, 0x10} << unchecked;
    QTest::newRow("a fraction in line 1 ends the pass at the last whole entry")
        << QByteArray("1.5\r\n0010-2 VOLT\r\n0020-2 AMP\r\n0030-2 HZ\r\n") << 7 << ""
        << QList<int>{0x10, 0x20, 0x10, 0x20, 0x10} << unchecked;
}

void SessionTest::scan()
{
    QFETCH(QByteArray, model);
    QFETCH(int, ticks);
    QFETCH(QString, events);
    QFETCH(QList<int>, read);
    QFETCH(QStringList, list);
    Rig rig(model);
    QVERIFY(rig.open());
    const auto event = [&](const char *what, int n) { return events == QStringLiteral("%1@%2").arg(what).arg(n); };
    int requests = 0;
    rig.fake->setResponder([&](const QByteArray &) -> std::optional<FakeMeter::Reply> {
        ++requests;
        if (event("silent", requests))
            return FakeMeter::Reply{};
        if (event("late", requests))
            return FakeMeter::Reply{{FakeMeter::readAnswer(1, {0x10}), 0.25}};
        return std::nullopt;
    });
    QStringList listed;
    rig.run("scan");
    for (int t = 1; t <= ticks; ++t) {
        const Shown shown = rig.run("tick");
        if (shown.scanLine)
            listed.prepend(*shown.scanLine);
        if (event("remove", t))
            QFile::remove(rig.dir.filePath("item/M.TXT"));
        if (event("shorten", t))
            test::writeFileBelow(rig.dir.path(), "item/M.TXT", "2\r\n0010-2 VOLT\r\n");
        if (event("switch", t)) {
            test::writeFileBelow(rig.dir.path(), "item/N.TXT", "2\r\n0100-2 AMP\r\n0200-2 HZ\r\n");
            rig.model = QStringLiteral("N");
        }
    }
    QCOMPARE(rig.fake->registersRead(), read);
    if (!list.isEmpty() || read.isEmpty())
        QCOMPARE(listed, list);
}

// Every 3600 readings: Connect, a pause, and the port closed and opened
// again; a closed port stays closed, engineer mode keeps Connect locked.
void SessionTest::reconnect_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("engineer");
    QTest::newRow("open port, engineer mode") << true << true;
    QTest::newRow("open port") << true << false;
    QTest::newRow("closed port stays closed") << false << true;
}

void SessionTest::reconnect()
{
    QFETCH(bool, open);
    QFETCH(bool, engineer);
    Rig rig(oneEntry);
    if (open)
        QVERIFY(rig.open());
    rig.session->setEngineerMode(engineer);
    rig.run("scan");
    const int opens = rig.fake->openCount();
    // A tick that falls due inside a wait of the step (the reading, Connect,
    // the pause) is skipped.
    rig.clock.setDuringWait([&] { rig.tickNow(); });
    Shown shown;
    // One entry: a reading, then an empty tick, and again.
    for (int i = 0; i < 2 * ScanCursor::ReadingsPerReconnect && !shown.panel && !shown.hint; ++i)
        shown = rig.run("tick");
    QCOMPARE(rig.fake->openCount(), opens + (open ? 1 : 0));
    QCOMPARE(rig.fake->portOpen(), open);
    QCOMPARE(shown.hint.has_value(), true);
    if (open) {
        // 3600 scan reads and one Connect read.
        QCOMPARE(rig.fake->written().size(), ScanCursor::ReadingsPerReconnect + 1);
        QVERIFY(shown.panel && shown.panel->open && !shown.panel->focusPort);
        QCOMPARE(shown.status, std::optional<QString>(QStringLiteral("COM:1 Baud rate:9600  Protocol:N,8,1")));
        QCOMPARE(shown.connectLocked, std::optional<bool>(engineer));
    } else {
        QVERIFY(!shown.panel);
        QCOMPARE(reasonOf(shown), QStringLiteral("Not sent: port closed"));
    }
}

QTEST_MAIN(SessionTest)
#include "tst_session.moc"
