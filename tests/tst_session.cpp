// The session under the window, on the scripted meter in virtual time: what
// each command sends, what it carries over to the next request, and what it
// leaves on screen, and why.
#include "fakemeter.h"
#include "linehealth.h"
#include "language.h"
#include "meterfinder.h"
#include "metersession.h"
#include "testkit.h"

#include <QtTest>

using namespace movra;
using movra::test::hex;

Q_DECLARE_METATYPE(movra::FakeMeter::Reply)
Q_DECLARE_METATYPE(movra::Reason)

namespace {

const QByteArray twoEntries = "2\r\n0010-2 VOLT\r\n0020+4 POWER\r\n";
const QByteArray oneEntry = "1\r\n0010-2 VOLT\r\n";
constexpr double TickInterval = 0.3;

// Every result of one command folded as the window paints them: lines in
// order, later boxes over earlier ones.
Result folded(const QList<Result> &results)
{
    Result all;
    for (const Result &r : results) {
        all.queryLines += r.queryLines;
        all.responseLines += r.responseLines;
        for (auto [mine, later] : {std::pair{&all.scanLine, &r.scanLine}, {&all.reg, &r.reg}, {&all.length, &r.length}})
            if (*later)
                *mine = *later;
        if (r.reading)
            all.reading = r.reading;
        if (r.exchange)
            all.exchange = r.exchange;
        if (r.hint)
            all.hint = r.hint;
        if (r.focus != Result::Focus::Keep)
            all.focus = r.focus;
        all.clearLogs = all.clearLogs || r.clearLogs;
        if (r.exchange)
            all.exchange = r.exchange;
    }
    return all;
}

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
        session->setSink([this](const Result &r) { results << r; });
    }
    const PortPanel &panel() const { return session->state().panel; }
    bool open()
    {
        session->toggle({QStringLiteral("COM1"), 0, LineSettings{}, {}});
        return panel().kind == PortPanel::Open;
    }
    // "read SLAVE REG LENGTH", "write SLAVE REG VALUE", "function 6",
    // "connect SLAVE", "scan", "tick"; "_" is an empty text. What the
    // command left on screen.
    Result run(const QString &command)
    {
        results.clear();
        QStringList w = command.split(QLatin1Char(' '));
        w.replaceInStrings(QRegularExpression(QStringLiteral("^_$")), QString());
        const QString verb = w.takeFirst();
        if (verb == QLatin1String("read"))
            session->read({w.value(0), w.value(1), w.value(2)});
        else if (verb == QLatin1String("write"))
            session->write({w.value(0), w.value(1), w.value(2)});
        else if (verb == QLatin1String("function"))
            session->setFunction(std::uint8_t(w.value(0).toInt()));
        else if (verb == QLatin1String("connect"))
            session->connect({model, w.value(0).toInt()});
        else if (verb == QLatin1String("scan"))
            session->startScan(model);
        else if (verb == QLatin1String("tick")) {
            // Timer2 ticks every 300 ms, however long a reading took.
            do
                nextTick += TickInterval;
            while (nextTick < clock.now());
            clock.advance(nextTick - clock.now());
            tickNow();
        } else
            qFatal("unknown command %s", qPrintable(command));
        return folded(results);
    }
    void tickNow() { session->tick({QStringLiteral("1"), model, {model, 1}}); }

    QTemporaryDir dir;
    QString model = QStringLiteral("M");
    VirtualClock clock;
    double nextTick = 0;
    FakeMeter *fake = nullptr;
    std::unique_ptr<MeterSession> session;
    QList<Result> results;
};

// The reason's kind and details, its times left to the line's tests; none:
// the reason shown before is kept.
std::optional<Reason> reasonOf(const Result &result)
{
    if (!result.reading || !result.reading->reason)
        return std::nullopt;
    const Reason &r = *result.reading->reason;
    return Reason{r.kind, r.detail, -1, r.of};
}

Reading::Boxes boxesOf(const Result &result)
{
    return result.reading ? result.reading->boxes : Reading::Boxes::Cleared;
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
    void health_data();
    void health();
    void find_data();
    void find();
};

// The port button: which port opens, and at what settings.
void SessionTest::ports_data()
{
    QTest::addColumn<QString>("portText");
    QTest::addColumn<int>("portIndex"); // -1: the text was typed
    QTest::addColumn<QString>("baud");
    QTest::addColumn<int>("opened");    // 0: nothing opens
    QTest::addColumn<int>("failure");   // OpenFailure, when nothing opens
    QTest::addColumn<QString>("linkLost"); // the adapter is pulled after the open: "idle", or "search" during one

    const int none = int(OpenFailure::None);
    QTest::newRow("typed COM17") << "COM17" << -1 << "9600" << 17 << none << "";
    QTest::newRow("adapter pulled: closed, the focus stays") << "COM1" << 0 << "9600" << 1 << none << "idle";
    QTest::newRow("adapter pulled during a search: the lost link, not a stop")
        << "COM1" << 0 << "9600" << 1 << none << "search";
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
    QFETCH(QString, linkLost);
    Rig rig(oneEntry);
    rig.session->toggle({portText, portIndex, parseSettings(baud + ",N,8,1"), {}});
    const auto lose = [&rig] {
        rig.fake->loseLink();
        rig.session->linkLost();
    };
    rig.results.clear();
    if (linkLost == "idle")
        lose();
    if (linkLost == "search") {
        rig.fake->setSlave(7);
        rig.clock.setDuringWait(lose);
        rig.session->findMeter({"M", {9600}, {LineSettings{}}, 1, 15});
        rig.clock.setDuringWait({});
        QCOMPARE(folded(rig.results).hint->kind, Hint::CheckSettings);
    }
    if (!linkLost.isEmpty())
        QCOMPARE(folded(rig.results).focus, Result::Focus::Keep);
    const SessionState &state = rig.session->state();
    QCOMPARE(state.panel.kind, !linkLost.isEmpty() ? PortPanel::LinkLost : opened ? PortPanel::Open : PortPanel::OpenFailed);
    QCOMPARE(rig.fake->openCount(), opened != 0 ? 1 : 0);
    QCOMPARE(state.sendEnabled(), opened && linkLost.isEmpty());
    QCOMPARE(state.canFind(), state.sendEnabled()); // offered only where it can run
    if (opened)
        QCOMPARE(rig.fake->openedPort(), opened);
    if (state.panel.kind == PortPanel::Open)
        QCOMPARE(std::pair(state.panel.comNumber, state.panel.settings), std::pair(opened, *parseSettings(baud + ",N,8,1")));
    else
        QCOMPARE(int(state.panel.status.failure), failure);
}

// What goes on the wire, and what the next request inherits.
void SessionTest::requests_data()
{
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QList<QByteArray>>("frames"); // bytes 0..5 of each request sent
    QTest::addColumn<int>("expectedLength");        // answer bytes the last answer shows
    QTest::addColumn<QString>("value");             // of the last answer; "-": not checked
    QTest::addColumn<Reason>("refusal"); // of the last command, when it sent nothing; None: it went out

    const QByteArray none;
    auto row = [&](const char *name, const QByteArray &model, const QStringList &commands,
                   const QList<QByteArray> &frames, int expected, const char *value, Reason::Kind refusal = Reason::None) {
        QTest::newRow(name) << model << commands << frames << expected << QString(value) << Reason{refusal};
    };
    row("slave 1, 0000, length 2", none, {"read 1 0000 2"}, {hex("010300000001")}, 5, "-");
    row("length 4 asks for 2 registers", none, {"read 1 0000 4"}, {hex("010300000002")}, 7, "-");
    row("length typed 3: count 2 (1.5 to even), expects 6", none, {"read 1 0000 3"}, {hex("010300000002")}, 6, "-");
    row("length without a number: count 0, expects 3", none, {"read 1 0000 x"}, {hex("010300000000")}, 3, "-");
    row("register '1' is 0100H", none, {"read 1 1 2"}, {hex("010301000001")}, 5, "-");
    row("lower-case register 00ff", none, {"read 7 00ff 2"}, {hex("070300FF0001")}, 5, "-");
    row("slave 0 (broadcast) is sent as it is", none, {"read 0 0010 2"}, {hex("000300100001")}, 5, "-");
    row("an empty slave box is not sent with the previous slave", none, {"read 5 0000 2", "read _ 0000 4"},
        {hex("050300000001")}, 5, "-", Reason::NotSentSlave);
    row("slave 256 is not sent", none, {"read 256 0000 2"}, {}, 0, "-", Reason::NotSentSlave);
    row("length 600 gives no register count", none, {"read 1 0000 600"}, {}, 0, "-", Reason::NotSentLength);
    row("write 0001 to 0000", none, {"function 6", "write 1 0000 0001"}, {hex("010600000001")}, 6, "-");
    row("Connect: the last entry, at the address item's number", "3\r\n0000-2 A\r\n0001-2 B\r\n0100-2 VOLT\r\n",
        {"connect 5"}, {hex("050301000001")}, 5, "-");
    row("Connect: a typed address is slave 0", oneEntry, {"connect 0"}, {hex("000300100001")}, 5, "-");
    row("Connect: the entry's sign", "1\r\n0002+4 KWH\r\n", {"connect 1"}, {hex("010300020002")}, 7, "50332160");
    row("Connect: a length that is not a number keeps the previous count", "1\r\n0010-x VOLT\r\n",
        {"read 1 0000 8", "connect 1"}, {hex("010300000004"), hex("010300100004")}, 11, "-");
    row("the scan reads 03H with the entry's sign while the write option is on", "1\r\n0020+4 POWER\r\n",
        {"function 6", "scan", "tick"}, {hex("010300200002")}, 7, "553656320");
}

void SessionTest::requests()
{
    QFETCH(QByteArray, model);
    QFETCH(QStringList, commands);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(int, expectedLength);
    QFETCH(QString, value);
    QFETCH(Reason, refusal);
    const bool wentOut = refusal.kind == Reason::None;
    Rig rig(model);
    QVERIFY(rig.open());
    // Where the meter would not give a value, 16 bytes: the answer then
    // shows as many as the request expects.
    rig.fake->setResponder([&](const QByteArray &request) -> std::optional<FakeMeter::Reply> {
        const QByteArray answer = rig.fake->defaultAnswer(request);
        if (answer.size() > 1 && answer[1] == request[1])
            return std::nullopt;
        return FakeMeter::Reply{{QByteArray(16, '\x01'), 0.02}};
    });
    Result last;
    std::optional<Reading> answered;
    for (const QString &c : commands) {
        last = rig.run(c);
        if (last.reading && last.reading->answerHex)
            answered = last.reading;
    }
    QList<QByteArray> sent; // the CRC is the modbus tests' business
    for (const QByteArray &frame : rig.fake->written())
        sent << frame.left(6);
    QCOMPARE(sent, frames);
    if (!frames.isEmpty()) {
        QVERIFY(answered);
        QCOMPARE(answered->answerHex->size() / 3, expectedLength);
    }
    if (value != QLatin1String("-"))
        QCOMPARE(answered->value.decimal, value);
    // The last request's record: who sent it, what went out, what it showed.
    QVERIFY(last.exchange);
    const QString verb = commands.last().section(' ', 0, 0);
    const auto sender = verb == "connect" ? Exchange::Sender::Connect
                        : verb == "tick"  ? Exchange::Sender::Scan
                                          : Exchange::Sender::Manual;
    QCOMPARE(int(last.exchange->sender), int(sender));
    QCOMPARE(last.exchange->entry.isEmpty(), sender == Exchange::Sender::Manual);
    QCOMPARE(last.exchange->request, wentOut ? rig.fake->written().last() : QByteArray());
    if (wentOut)
        QCOMPARE(last.exchange->reg, quint8(frames.last()[2]) << 8 | quint8(frames.last()[3]));
    if (value != QLatin1String("-"))
        QCOMPARE(last.exchange->value, std::optional<double>(value.toDouble()));
    if (!wentOut) {
        QCOMPARE(reasonOf(last), std::optional(refusal));
        QCOMPARE(boxesOf(last), Reading::Boxes::Cleared);
        QVERIFY(last.focus != Result::Focus::Keep);
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
    QTest::addColumn<Reason>("reason");

    const FakeMeter::Reply meter;
    auto answer = [](const QByteArray &bytes) { return FakeMeter::Reply{{bytes, 0.02}}; };
    const QByteArray good = FakeMeter::readAnswer(1, {0x0064});
    QTest::newRow("0064 reads 100") << "read 1 0000 2" << QList<quint16>{0x0064} << meter
                                    << QStringList{"01 03 02 00 64 "} << "100" << "0000000001100100" << ""
                                    << Reason{};
    QTest::newRow("12345678 in the order received")
        << "read 1 0000 4" << QList<quint16>{0x1234, 0x5678} << meter << QStringList{"01 03 04 12 34 56 78 "}
        << "305419896" << "00010010001101000101011001111000" << "" << Reason{};
    QTest::newRow("echo + answer") << "read 1 0000 2" << QList<quint16>{0x0064}
                                   << answer(FakeMeter::withCrc(hex("010300000001")) + good)
                                   << QStringList{"01 03 02 00 64 "} << "100" << "0000000001100100" << ""
                                   << Reason{};
    QTest::newRow("length typed 3: a good answer gives no value")
        << "read 1 0000 3" << QList<quint16>{1, 2} << meter << QStringList{} << "" << "" << ""
        << Reason{Reason::NoValue, 3};

    auto bad = [&](const char *name, const QByteArray &bytes, const Reason &reason) {
        QTest::newRow(name) << "read 1 0000 2" << QList<quint16>{0x00FA} << answer(bytes)
                            << QStringList{bytesLine(bytes.left(5))} << "" << "" << "" << reason;
    };
    bad("exception 01 83 02 C0 F1", hex("01 83 02 C0 F1"), Reason{Reason::Exception, 2});
    bad("bad CRC", FakeMeter::badCrc(good), Reason{Reason::BadCrc});
    bad("foreign slave 02", FakeMeter::readAnswer(2, {0x0064}), Reason{Reason::WrongSlave, 2});
    bad("wrong byte count 04", FakeMeter::withCrc(hex("01 03 04 00 64 00 00")), Reason{Reason::WrongByteCount});
    bad("a whole frame whose byte count contradicts it", FakeMeter::withCrc(hex("01 03 04 00 64")), Reason{Reason::WrongByteCount});
    bad("short: 01 03 02 00", hex("01 03 02 00"), Reason{Reason::ShortAnswer, 4, -1, 7});
    QTest::newRow("echo + bad CRC: the bytes after the echo") << "read 1 0000 2" << QList<quint16>{0x00FA}
        << answer(FakeMeter::withCrc(hex("010300000001")) + FakeMeter::badCrc(good))
        << QStringList{bytesLine(good.left(5))} << "" << "" << "" << Reason{Reason::BadCrc};
    QTest::newRow("no answer from slave 2") << "read 2 0000 2" << QList<quint16>{0x00FA} << meter << QStringList{}
                                           << "" << "" << "" << Reason{Reason::NoAnswer};

    auto write = [&](const char *name, const QByteArray &bytes, const Reason &reason) {
        QTest::newRow(name) << "write 1 0000 0001" << QList<quint16>{0} << answer(bytes)
                            << QStringList{bytesLine(bytes.left(6))} << "" << "" << "" << reason;
    };
    write("write: its echo", hex("01 06 00 00 00 01 48 0A"), Reason{});
    write("write: echo with another value", hex("01 06 00 00 00 02 08 0B"), Reason{Reason::EchoMismatch});
    write("write: exception", FakeMeter::exceptionAnswer(1, 6, 2), Reason{Reason::Exception, 2});
    write("write: foreign slave", FakeMeter::withCrc(hex("02 06 00 00 00 01")), Reason{Reason::WrongSlave, 2});
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
    QFETCH(Reason, reason);
    Rig rig;
    QVERIFY(rig.open());
    rig.fake->setRegisters(0, registers);
    const bool write = command.startsWith(QLatin1String("write"));
    if (write)
        rig.session->setFunction(WriteSingleRegister);
    if (!reply.isEmpty())
        rig.fake->queueReply(reply);
    const Result shown = rig.run(command);
    QCOMPARE(shown.responseLines, logged);
    if (!logged.isEmpty())
        QCOMPARE(shown.reading->answerHex, std::optional<QString>(logged.last()));
    QCOMPARE(reasonOf(shown), std::optional(reason));
    if (value.isEmpty()) {
        const bool echoed = write && reason.kind == Reason::None;
        QCOMPARE(boxesOf(shown), echoed ? Reading::Boxes::Echo : Reading::Boxes::Cleared);
    } else {
        QCOMPARE(boxesOf(shown), Reading::Boxes::Value);
        QCOMPARE(shown.reading->value.decimal, value);
        QCOMPARE(shown.reading->value.bits, bits);
        QCOMPARE(shown.reading->value.inverted, inverted);
    }
}

// Connect's value, hint and status line.
void SessionTest::connect_data()
{
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("value"); // on the meter display; empty: the hint
    QTest::addColumn<Reason>("reason");
    QTest::addColumn<int>("sent");
    QTest::addColumn<bool>("offerFind"); // the hint points to the search

    QTest::newRow("a value and the status line") << oneEntry << "" << "16" << Reason{} << 1 << false;
    QTest::newRow("no answer") << oneEntry << "silent" << "" << Reason{Reason::NoAnswer} << 1 << true;
    QTest::newRow("exception answer") << oneEntry << "exception" << "" << Reason{Reason::Exception, 2} << 1 << true;
    QTest::newRow("port closed") << oneEntry << "closed" << "" << Reason{Reason::NotSentPortClosed} << 0 << false;
    QTest::newRow("length character not a data length") << QByteArray("1\r\n0010-3 VOLT\r\n") << "" << ""
                                                         << Reason{Reason::NoValue, 3} << 1 << false;
    QTest::newRow("a 4-byte entry without a byte order") << QByteArray("1\r\n0002x4 KWH\r\n") << "" << ""
                                                         << Reason{Reason::NoValue, Reason::NoValueSign} << 1
                                                         << false;
    QTest::newRow("missing model file") << QByteArray() << "" << "" << Reason{Reason::NoModelEntry} << 0 << false;
    QTest::newRow("file shorter than N + 1 lines") << QByteArray("3\r\n0010-2 VOLT\r\n") << "" << ""
                                                   << Reason{Reason::NoModelEntry} << 0 << false;
}

void SessionTest::connect()
{
    QFETCH(QByteArray, model);
    QFETCH(QString, fault);
    QFETCH(QString, value);
    QFETCH(Reason, reason);
    QFETCH(int, sent);
    QFETCH(bool, offerFind);
    Rig rig(model);
    if (fault != "closed")
        QVERIFY(rig.open());
    if (fault == "exception")
        rig.fake->queueReply({{FakeMeter::exceptionAnswer(1, 3, 2), 0.02}});
    if (fault == "silent")
        rig.fake->queueReply({});
    const Result shown = rig.run("connect 1");
    QCOMPARE(rig.fake->written().size(), sent);
    QCOMPARE(reasonOf(shown), std::optional(reason));
    Hint hint{value.isEmpty() ? Hint::CheckSettings : Hint::None};
    hint.offerFind = offerFind;
    QCOMPARE(shown.hint, std::optional<Hint>(hint));
    if (value.isEmpty())
        QCOMPARE(boxesOf(shown), Reading::Boxes::Cleared);
    else
        QCOMPARE(shown.reading->value.decimal, value);
}

// The scan's passes: which registers a run of ticks reads, and the list it
// builds (newest first). Events: "noise@0" bytes that never stop, "silent@N" the Nth request gets no answer,
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
    QTest::newRow("a line that never goes quiet: nothing sent, each reading listed empty")
        << twoEntries << 3 << "noise@0" << QList<int>{}
        << QStringList{"40033--0020----POWER", "40017--0010----VOLT"};
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
    if (event("noise", 0)) {
        // Another master's traffic: a byte every millisecond for 10 s.
        for (double t = 0; t < 10; t += 0.001)
            rig.fake->deliverAt(t, QByteArray(1, '\xA5'));
    }
    QStringList listed;
    rig.run("scan");
    for (int t = 1; t <= ticks; ++t) {
        const Result shown = rig.run("tick");
        if (shown.scanLine) {
            listed.prepend(*shown.scanLine);
            // The same reading as data, for the trend: no value without its reason.
            QVERIFY(shown.exchange && shown.exchange->sender == Exchange::Sender::Scan);
            const Exchange &e = *shown.exchange;
            QCOMPARE(shown.scanLine->section(QStringLiteral("--"), 2, 2), e.valueText);
            QVERIFY(e.value || (e.reason && e.reason->kind != Reason::None));
        }
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
    QTest::addColumn<bool>("reopenFails");
    QTest::newRow("open port, engineer mode") << true << true << false;
    QTest::newRow("open port") << true << false << false;
    QTest::newRow("closed port stays closed") << false << true << false;
    QTest::newRow("the reopen fails: the panel is closed, its lists free") << true << true << true;
}

void SessionTest::reconnect()
{
    QFETCH(bool, open);
    QFETCH(bool, engineer);
    QFETCH(bool, reopenFails);
    Rig rig(oneEntry);
    if (open)
        QVERIFY(rig.open());
    rig.fake->setOpenFails(reopenFails);
    rig.session->setEngineerMode(engineer);
    rig.run("scan");
    const int opens = rig.fake->openCount();
    // A tick that falls due inside a wait of the step (the reading, Connect,
    // the pause) is skipped.
    rig.clock.setDuringWait([&] { rig.tickNow(); });
    Result shown;
    // One entry: a reading, then an empty tick, and again.
    for (int i = 0; i < 2 * ScanCursor::ReadingsPerReconnect && !shown.hint; ++i)
        shown = rig.run("tick");
    QCOMPARE(rig.fake->openCount(), opens + (open && !reopenFails ? 1 : 0));
    QCOMPARE(rig.fake->portOpen(), open && !reopenFails);
    QVERIFY(shown.hint);
    QCOMPARE(shown.focus, Result::Focus::Keep);
    const SessionState &state = rig.session->state();
    QCOMPARE(state.connectLocked, engineer);
    QVERIFY(state.scanning);
    if (open) {
        // 3600 scan reads and one Connect read.
        QCOMPARE(rig.fake->written().size(), ScanCursor::ReadingsPerReconnect + 1);
        QCOMPARE(state.panel.kind, reopenFails ? PortPanel::OpenFailed : PortPanel::Open);
        QCOMPARE(state.sendEnabled(), !reopenFails);
        // The scan goes on reading: one reading in the next two ticks.
        rig.run("tick"), rig.run("tick");
        QCOMPARE(rig.fake->written().size(), ScanCursor::ReadingsPerReconnect + (reopenFails ? 1 : 2));
    } else {
        QCOMPARE(state.panel.kind, PortPanel::Closed);
        QCOMPARE(reasonOf(shown), std::optional(Reason{Reason::NotSentPortClosed}));
    }
}

// The line's health as the session counts its own requests: "ok", "silent",
// "crc", "exc" and "late" (0.3 s) reads; "reopen": the port button twice
// while a read waits; "find" and "found": a search at 9600 and 19200 N that
// finds nothing, or finds address 1.
void SessionTest::health_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("withValue");
    QTest::addColumn<QList<int>>("faults"); // their kinds, the most frequent first
    QTest::addColumn<QList<int>>("times");  // fastest, slowest and median answer, ms
    QTest::addColumn<bool>("lateness");     // the line still knows one

    const QList<int> in20{20, 20, 20};
    QTest::newRow("six reads by hand") // answers come 20 ms late, found by 5 ms polls
        << "ok silent crc ok exc ok" << 6 << 3 << QList<int>{Reason::NoAnswer, Reason::Exception, Reason::BadCrc}
        << QList<int>{20, 25, 25} << false;
    QTest::newRow("the port closed and opened again during a wait: counted in neither opening")
        << "ok reopen ok" << 1 << 1 << QList<int>{} << in20 << false;
    QTest::newRow("a find at the settings in use keeps the count") << "ok found ok" << 2 << 2 << QList<int>{} << in20 << false;
    QTest::newRow("a late answer teaches a lateness") << "late ok" << 2 << 1 << QList<int>{Reason::NoAnswer} << in20 << true;
    QTest::newRow("a search at other settings that finds nothing: the line forgot its lateness")
        << "late ok find" << 2 << 1 << QList<int>{Reason::NoAnswer} << in20 << false;
}

void SessionTest::health()
{
    QFETCH(QString, script);
    Rig rig(oneEntry);
    QVERIFY(rig.open());
    const QByteArray good = FakeMeter::readAnswer(1, {0});
    const QHash<QString, QByteArray> replies{
        {"ok", good}, {"crc", FakeMeter::badCrc(good)}, {"exc", FakeMeter::exceptionAnswer(1, 3, 2)}};
    for (const QString &step : script.split(' ', Qt::SkipEmptyParts)) {
        if (step == "find" || step == "found") {
            rig.fake->setSlave(step == "find" ? 7 : 1);
            rig.session->findMeter({"M", {9600, 19200}, {LineSettings{}}, 1, 1});
            continue;
        }
        if (step == "reopen") {
            rig.clock.setDuringWait([&rig] { rig.open(), rig.open(); });
            rig.fake->queueReply({{good, 0.15}});
            QCOMPARE(reasonOf(rig.run("read 1 0000 2")), std::optional(Reason{Reason::ClosedInWait}));
            rig.clock.setDuringWait({});
            continue;
        }
        rig.fake->queueReply(step == "silent" ? FakeMeter::Reply{}
                                              : FakeMeter::Reply{{replies.value(step, good), step == "late" ? 0.3 : 0.02}});
        rig.run("read 1 0000 2");
    }
    const HealthReport r = rig.session->health();
    QTEST(int(r.requests), "requests");
    QTEST(int(r.withValue), "withValue");
    QList<int> faults;
    for (const HealthReport::Count &c : r.faults)
        faults << c.kind;
    QTEST(faults, "faults");
    QTEST((QList<int>{r.minMs.value_or(-1), r.maxMs.value_or(-1), r.medianMs.value_or(-1)}), "times");
    QTEST(r.lateness.has_value(), "lateness");
}

// The meter search on a scripted line: the order of tries, and whose a late
// answer is. meter: "BAUD FRAMING SLAVE"; late: its answer to a try comes
// in the next request's wait.
void SessionTest::find_data()
{
    QTest::addColumn<QString>("meter");
    QTest::addColumn<bool>("late");
    QTest::addColumn<int>("tries");
    QTest::newRow("at the settings in effect, address 15") << "9600 N,8,1 15" << false << 15;
    QTest::newRow("19200 E address 7: after 9600/19200 N and 9600 E") << "19200 E,8,1 7" << false << 52;
    QTest::newRow("a late answer names its slave, not the address being tried") << "9600 N,8,1 5" << true << 6;
    QTest::newRow("a late answer to the last try before a change: the earlier settings")
        << "9600 N,8,1 15" << true << 16;
}

void SessionTest::find()
{
    QFETCH(QString, meter);
    QFETCH(bool, late);
    QFETCH(int, tries);
    const auto label = [](const FindTry &t) {
        return QStringLiteral("%1 %2 %3").arg(t.settings.baudRate).arg(framingText(t.settings)).arg(t.address);
    };
    const FindPlan plan = findPlan({19200, 9600, 4800, 2400}, {*parseFraming("N,8,1"), *parseFraming("O,8,1"), *parseFraming("E,8,1")},
                                   LineSettings{}, 1, 15);
    QStringList planned;
    for (const FindTry &t : plan.tries)
        planned << label(t);
    QCOMPARE(QSet<QString>(planned.cbegin(), planned.cend()).size(), 180);
    QCOMPARE(planned.mid(14, 2), (QStringList{"9600 N,8,1 15", "19200 N,8,1 1"}));

    FindTry port{LineSettings{}, 0};
    QByteArray pending;
    QStringList probed;
    FindHooks hooks;
    hooks.useSettings = [&](const LineSettings &settings) {
        port = {settings, 0};
        return true;
    };
    hooks.transact = [&](const LineRequest &request) {
        LineOutcome out;
        out.frame = request.frame;
        out.received = std::exchange(pending, {});
        if (request.kind == RequestKind::Probe)
            probed << label({port.settings, request.frame[0]});
        if (label({port.settings, request.frame[0]}) == meter)
            (late && request.kind == RequestKind::Probe ? pending : out.received) += FakeMeter::readAnswer(request.frame[0], {0x10});
        out.answer = out.received;
        out.reason = checkAnswer(out.frame, out.answer);
        return std::optional(out);
    };
    LineRequest read;
    read.frame = {0, ReadHoldingRegisters, 0x00, 0x10, 0, 1};
    read.expectedLength = 5;
    const FindResult result = findMeter(plan, read, hooks);
    QCOMPARE(int(result.kind), int(FindResult::Found));
    QCOMPARE(probed, planned.mid(0, tries));
    QCOMPARE(label(result.at), meter);
    QCOMPARE(label(port), meter.section(' ', 0, 1) + " 0"); // the port stays at the find
}

QTEST_MAIN(SessionTest)
#include "tst_session.moc"
