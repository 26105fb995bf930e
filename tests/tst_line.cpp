// The Modbus line against the scripted meter in virtual time: what each
// request got, what was dropped as late, and when the next one went out.
#include "fakemeter.h"
#include "modbusline.h"

#include <QtTest>

using namespace movra;

Q_DECLARE_METATYPE(movra::FakeMeter::Reply)

namespace {
const QueryFrame readZero{1, ReadHoldingRegisters, 0, 0, 0, 1, 0, 0};
const QByteArray good = FakeMeter::readAnswer(1, {0x0064});
const QByteArray request = FakeMeter::withCrc(QByteArray::fromHex("010300000001"));
const LineRequest readRequest{readZero, 5};
const LineRequest tickRequest{readZero, 5, {}, RequestKind::Tick};
// Steps of lateMeter that are not an answer delay.
constexpr double Silent = -1;
constexpr double Closed = -2; // the port is closed for that request
// How far a measured time may lie past the true one: a few polls.
constexpr double Slack = 0.02;
} // namespace

class LineTest : public QObject {
    Q_OBJECT
private slots:
    void tracker_data();
    void tracker();
    void transact_data();
    void transact();
    void lateMeter_data();
    void lateMeter();
    void lateAnswerOfAnotherLength();
};

// The tracker alone: a script of events, then its decisions. "S0": a click
// sent at 0 s, "P0": a probe; "T0.2": that send's wait took nothing by 0.2 s,
// "T0.3:A": took the answer, then ("AA": two answers, "C": one with a bad CRC, "E": an exception;
// "@0.25": come then);
// "B0.7:A": the answer as stray bytes at 0.7 s; "R": restart.
void LineTest::tracker_data()
{
    QTest::addColumn<QString>("events");
    QTest::addColumn<double>("lateness"); // -1: none
    QTest::addColumn<double>("clickAt");  // when a click may go; -1: at once
    QTest::addColumn<double>("probeAt");  // when a probe may go
    QTest::addColumn<double>("wait");     // the answer wait
    QTest::addColumn<int>("reason");      // of the last take

    using R = Reason;
    QTest::newRow("answer in time") << "S0 T0.05:A" << -1. << -1. << -1. << 0.2 << int(R::None);
    QTest::newRow("silent: settle 0.5 s") << "S0 T0.2" << -1. << 0.5 << 0.5 << 0.2 << int(R::NoAnswer);
    QTest::newRow("each late answer timed from its own send")
        << "S0 T0.2 S0.5 T0.7 B1.0:A B1.5:A" << 1.0 << 2.0 << 2.0 << 1.5 << int(R::NoAnswer);
    QTest::newRow("2.5 s late: the earlier answer in this wait is not taken")
        << "S0 T0.2 S0.5 T0.7 B2.5:A S2.7 T3.0:A" << 2.5 << 4.7 << 4.7 << 2.0 << int(R::LateAnswer);
    QTest::newRow("an earlier answer in this wait teaches at once; this one's own follows")
        << "S0 T0.45 S0.6 T0.9:A B1.5:A" << 0.9 << 1.95 << 1.95 << 1.35 << int(R::LateAnswer);
    QTest::newRow("an earlier answer, then this one's own in the wait it grew to: read, and learned from")
        << "S0 T0.45 S0.6 T1.5:AA@0.9" << 0.9 << -1. << -1. << 1.35 << int(R::None);
    QTest::newRow("an earlier answer, then this one's exception: no value")
        << "S0 T0.45 S0.6 T1.5:AE@0.9" << 0.9 << -1. << -1. << 1.35 << int(R::Exception);
    QTest::newRow("one answer that fits both, and none followed in time: this one's own, the earlier was lost")
        << "S0 T0.2 S0.5 T1.28:A@0.52" << -1. << -1. << -1. << 0.2 << int(R::None);
    QTest::newRow("a probe's late answer teaches nothing; no settle between probes")
        << "P0 T0.2 B0.7:A" << -1. << 0.5 << -1. << 0.2 << int(R::NoAnswer);
    QTest::newRow("a request without an answer does not shift every later answer one back")
        << "S0 T0.2 S0.5 T1.33:A@0.55 S1.6 T1.65:A S1.8 T2.0 B2.15:A" << 0.35 << 2.325 << 2.325 << 0.525
        << int(R::NoAnswer);
    QTest::newRow("a damaged answer was its request's: later late bytes are timed from the next")
        << "S0 T0.2:C S0.5 T0.7 B0.85:A" << 0.35 << 1.025 << 1.025 << 0.525 << int(R::NoAnswer);
    QTest::newRow("restart forgets") << "S0 T0.2 B0.7:A R" << -1. << -1. << -1. << 0.2 << int(R::NoAnswer);
}

void LineTest::tracker()
{
    QFETCH(QString, events);
    LineTracker t;
    LineTracker::Seq seq = 0;
    Reason last;
    for (const QString &e : events.split(QLatin1Char(' '))) {
        const QStringList parts = e.mid(1).split(QLatin1Char(':'));
        const double at = parts.value(0).toDouble();
        const QString answers = parts.value(1).section(QLatin1Char('@'), 0, 0);
        QByteArray bytes;
        for (const QChar c : answers)
            bytes += c == QLatin1Char('C') ? FakeMeter::badCrc(good)
                     : c == QLatin1Char('E') ? FakeMeter::exceptionAnswer(1, ReadHoldingRegisters, 2) : good;
        const double came = parts.value(1).contains(QLatin1Char('@')) ? parts.value(1).section(QLatin1Char('@'), 1).toDouble() : at;
        const LineTracker::Arrivals arrivals{{came, bytes.size()}};
        if (e[0] == QLatin1Char('S') || e[0] == QLatin1Char('P'))
            seq = t.sent(readZero, e[0] == QLatin1Char('P') ? RequestKind::Probe : RequestKind::Click, at);
        else if (e[0] == QLatin1Char('T'))
            last = t.took(seq, bytes, bytes.isEmpty() ? LineTracker::Arrivals{} : arrivals, at, t.answerWait()).reason;
        else if (e[0] == QLatin1Char('B'))
            t.strayBytes(bytes, at);
        else
            t.restart();
    }
    const auto orNone = [](double at) { return std::isfinite(at) ? at : -1.; };
    QTEST(t.lateness().value_or(-1.), "lateness");
    QTEST(orNone(t.settledAt(RequestKind::Click)), "clickAt");
    QTEST(orNone(t.settledAt(RequestKind::Probe)), "probeAt");
    QTEST(t.answerWait(), "wait");
    QTEST(int(last.kind), "reason");
}

void LineTest::transact_data()
{
    QTest::addColumn<QByteArray>("stale");       // on the line before the first request
    QTest::addColumn<FakeMeter::Reply>("reply"); // to the first request
    QTest::addColumn<int>("reason");             // of the first outcome
    QTest::addColumn<QByteArray>("answer");      // first outcome's answer
    QTest::addColumn<QByteArray>("late");        // dropped before the second request

    using R = Reason;
    QTest::newRow("answer at 0.1 s") << QByteArray() << FakeMeter::Reply{{good, 0.1}} << int(R::None) << good << QByteArray();
    for (double at : {0.25, 0.35, 0.45})
        QTest::addRow("answer at %.2f s is dropped before the next request", at)
            << QByteArray() << FakeMeter::Reply{{good, at}} << int(R::NoAnswer) << QByteArray() << good;
    QTest::newRow("echo + answer") << QByteArray() << FakeMeter::Reply{{request + good, 0.05}} << int(R::None) << good << QByteArray();
    QTest::newRow("echo alone is no answer") << QByteArray() << FakeMeter::Reply{{request, 0.05}}
                                             << int(R::NoAnswer) << QByteArray() << QByteArray();
    QTest::newRow("late bytes then a good answer") << QByteArray::fromHex("010302") << FakeMeter::Reply{{good, 0.1}}
                                                   << int(R::None) << good << QByteArray();
    QTest::newRow("partial then the rest late")
        << QByteArray() << FakeMeter::Reply{{good.left(3), 0.1}, {good.mid(3), 0.3}} << int(R::ShortAnswer)
        << good.left(3) << good.mid(3);
    QTest::newRow("cut short: 4 of 7") << QByteArray() << FakeMeter::Reply{{good.left(4), 0.1}} << int(R::ShortAnswer)
                                       << good.left(4) << QByteArray();
    QTest::newRow("never quiet: not sent, the stray bytes late")
        << QByteArray(1500, '\x55') << FakeMeter::Reply{} << int(R::LineBusy) << QByteArray() << QByteArray();
}

void LineTest::transact()
{
    QFETCH(QByteArray, stale);
    QFETCH(FakeMeter::Reply, reply);
    QFETCH(int, reason);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, late);

    VirtualClock clock;
    auto owned = std::make_unique<FakeMeter>(clock);
    FakeMeter &meter = *owned;
    meter.setRegister(0, 0x0064);
    meter.setPortOpen(true);
    ModbusLine line(std::move(owned), clock);
    QList<double> sentAt;
    line.setOnSend([&](const QueryFrame &) { sentAt << clock.now(); });
    // Stale bytes come one a millisecond, closer than the quiet time.
    for (qsizetype i = 0; i < stale.size(); ++i)
        meter.deliverAt(0.001 * double(i), stale.mid(i, 1));
    if (!reply.isEmpty())
        meter.queueReply(reply);

    const bool busy = reason == Reason::LineBusy;
    const auto first = line.transact(readRequest);
    QVERIFY(first);
    QCOMPARE(first->reason.wentOut(), !busy);
    QCOMPARE(int(first->reason.kind), reason);
    QCOMPARE(first->answer, answer);
    if (reason == Reason::ShortAnswer)
        QCOMPARE(QList<int>({first->reason.detail, first->reason.of}), QList<int>({int(answer.size()), int(good.size())}));
    const bool unanswered = reason != Reason::None && !busy;
    QCOMPARE(line.settling(), unanswered);
    // A tick now finds the line settling and sends nothing; on a line that
    // never goes quiet it is not sent either, and says so.
    if (line.settling())
        QVERIFY(!line.transact(tickRequest));
    const auto tick = busy ? line.transact(tickRequest) : std::nullopt;
    QCOMPARE(tick && tick->reason.kind == Reason::LineBusy, busy);

    const auto second = line.transact(readRequest);
    QVERIFY(second);
    QCOMPARE(first->late + (tick ? tick->late : QByteArray()) + second->late, stale + late);
    if (!busy)
        QCOMPARE(first->late, stale);
    QVERIFY(second->trusted());
    QCOMPARE(second->answer, good);
    QCOMPARE(sentAt.size(), busy ? 3 : 2);
    QCOMPARE(meter.written().size(), 2 - int(busy));
    // Stale bytes cost a few character times; an unanswered request the
    // settle time; a healthy line nothing.
    QVERIFY(sentAt[0] < (stale.isEmpty() ? 1e-9 : busy ? ModbusLine::ClickSettleBudget + Slack : 0.01));
    if (unanswered)
        QVERIFY(sentAt[1] - sentAt[0] >= ModbusLine::SettleTime);
    else
        QVERIFY(sentAt[1] - sentAt[0] < ModbusLine::AnswerWait + 1e-3);
}

// Each request reads register 0 holding a new value, so an answer that
// carries an earlier value is borrowed from an earlier request.
void LineTest::lateMeter_data()
{
    QTest::addColumn<QList<double>>("delays"); // the meter's answer delay for each request
    QTest::addColumn<double>("settle");        // the settle time at the end
    QTest::addColumn<double>("wait");          // the answer wait at the end
    QTest::addColumn<bool>("signalling");       // the port signals arrivals
    const auto run = [](double delay, int n) { return QList<double>(n, delay); };
    const double max = ModbusLine::MaxSettleTime;
    QTest::newRow("answers at 23 ms, timed") << run(0.023, 3) << ModbusLine::SettleTime << ModbusLine::AnswerWait << false;
    QTest::newRow("silent: 0.2 s, pace unchanged") << run(Silent, 4) << ModbusLine::SettleTime << ModbusLine::AnswerWait << false;
    QTest::newRow("0.3 s late") << run(0.02, 2) + run(0.3, 10) << ModbusLine::SettleTime << 0.45 << false;
    QTest::newRow("0.7 s late") << run(0.02, 2) + run(0.7, 10) << 1.05 << 1.05 << false;
    QTest::newRow("0.7 s late, the port signals arrivals") << run(0.02, 2) + run(0.7, 10) << 1.05 << 1.05 << true;
    QTest::newRow("1.0 s late") << run(0.02, 2) + run(1.0, 10) << 1.5 << 1.5 << false;
    QTest::newRow("1.9 s late: the longest settle time") << run(0.02, 2) + run(1.9, 10) << max << max << false;
    QTest::newRow("2.5 s late: named, never read") << run(0.02, 2) + run(2.5, 8) << max << max << false;
    QTest::newRow("slows: 0.3 s for eight, then 0.9 s") << run(0.02, 2) + run(0.3, 8) + run(0.9, 10) << 1.35 << 1.35 << false;
    QTest::newRow("jitters between 0.25 and 0.55 s")
        << run(0.02, 2) + QList<double>{0.25, 0.55, 0.3, 0.5, 0.25, 0.55, 0.4, 0.25, 0.55, 0.3} << 0.825 << 0.825 << false;
    QTest::newRow("0.7 s late once, then healthy")
        << run(0.02, 2) + run(0.7, 1) + run(0.25, 1) + run(0.02, 5) << 1.05 << 1.05 << false; // answers in order
    QTest::newRow("1.0 s late, then 12 answers in time: 0.5 s and 0.2 s again")
        << run(0.02, 2) + run(1.0, 4) + run(0.02, 12) << ModbusLine::SettleTime << ModbusLine::AnswerWait << false;
    QTest::newRow("port closed: not sent, no wait, no settle time")
        << QList<double>{0.02, Closed, 0.02, Silent, Closed, 0.02, 0.02} << ModbusLine::SettleTime << ModbusLine::AnswerWait << false;
}

void LineTest::lateMeter()
{
    QFETCH(QList<double>, delays);
    QFETCH(double, settle);
    QFETCH(double, wait);
    QFETCH(bool, signalling);

    VirtualClock clock;
    auto owned = std::make_unique<FakeMeter>(clock);
    FakeMeter &meter = *owned;
    meter.setPortOpen(true);
    meter.setSignalsArrivals(signalling);
    ModbusLine line(std::move(owned), clock);
    QList<double> sentAt;
    line.setOnSend([&](const QueryFrame &) { sentAt << clock.now(); });
    const auto slow = std::find_if(delays.begin(), delays.end(), [](double d) { return d > ModbusLine::SettleTime; });
    const qsizetype firstSlow = slow - delays.begin();
    const double latest = *std::max_element(delays.begin(), delays.end());
    bool trustedSinceSlow = false;
    bool lastRead = false;

    for (qsizetype i = 0; i < delays.size(); ++i) {
        const double delay = delays[i];
        const quint16 value = quint16(i + 1);
        meter.setRegister(0, value);
        meter.setAnswerDelay(delay);
        if (delay == Silent)
            meter.queueReply({});
        if (delay == Closed)
            meter.setPortOpen(false);
        const double before = clock.now();
        const std::optional<double> known = line.lateness();
        const double waitBefore = line.answerWait();
        const auto out = line.transact(readRequest);
        QVERIFY2(out, "a send click waits out the settle time");
        QCOMPARE(sentAt.size(), i + 1);
        if (delay == Closed) {
            QCOMPARE(int(out->reason.kind), int(Reason::NotSentPortClosed));
            QVERIFY(!out->reason.wentOut());
            QCOMPARE(clock.now(), before);
            meter.setPortOpen(true);
            continue;
        }
        // Without a lateness the wait is 0.2 s whatever comes; with one, it
        // ends with the whole answer. After a request that heard nothing, an
        // answer that may be its late one makes the wait grow for this one's.
        const bool learned = known || line.lateness();
        qsizetype previous = i - 1;
        while (previous >= 0 && delays[previous] == Closed)
            --previous;
        const bool afterSilence = previous >= 0 && delays[previous] == Silent;
        const double waited = clock.now() - sentAt.last();
        QVERIFY(afterSilence ? waited <= ModbusLine::MaxSettleTime + Slack
                : learned    ? waited <= std::max(waitBefore, line.answerWait()) + Slack
                             : qAbs(waited - ModbusLine::AnswerWait) < Slack);
        // The settle time after the last request that went out and heard
        // nothing; a request that did not go out holds nothing up.
        if (afterSilence)
            QVERIFY(qAbs(sentAt[i] - sentAt[previous] - ModbusLine::SettleTime) < Slack);
        else if (i > 0 && delays[i - 1] == Closed)
            QCOMPARE(sentAt[i], sentAt[i - 1]);
        lastRead = out->trusted() && out->answer == FakeMeter::readAnswer(1, {value});
        // Once the lateness is known, an answer inside the wait is read as
        // its own unless an earlier answer came first, and so is every
        // answer from the third at a new lateness; one later than the
        // longest settle time never.
        const bool steady = i >= 2 && delays[i - 1] == delay && delays[i - 2] == delay;
        const bool inWait = delay < waitBefore - Slack && !afterSilence;
        if (known && delay > ModbusLine::MaxSettleTime)
            QVERIFY(!lastRead);
        else if (known && delay >= 0 && (steady || inWait))
            QVERIFY2(lastRead, qPrintable(QStringLiteral("request %1 not read").arg(i)));
        if (!out->trusted())
            continue;
        if (!lastRead) {
            // Only the first answer after the meter turned slower than the
            // settle time may be an earlier request's: no frame tells them apart.
            QVERIFY2(i > firstSlow && !trustedSinceSlow, qPrintable(QStringLiteral("request %1 borrowed").arg(i)));
        } else {
            QVERIFY(out->reason.seconds > delay - 1e-9 && out->reason.seconds <= delay + ModbusLine::PollStep + 1e-6);
        }
        trustedSinceSlow = trustedSinceSlow || i > firstSlow;
    }
    QVERIFY2(qAbs(line.answerWait() - wait) < Slack, qPrintable(QString::number(line.answerWait())));

    // A silent request: its reason tells the meter's lateness, and the next
    // one waits the settle time from it; a tick meanwhile is skipped.
    meter.queueReply({});
    const auto silent = line.transact(readRequest);
    QVERIFY(silent);
    // Past the longest settle time the earlier answer comes in its wait.
    QCOMPARE(int(silent->reason.kind), int(latest > ModbusLine::MaxSettleTime ? Reason::LateAnswer : Reason::NoAnswer));
    if (settle > ModbusLine::SettleTime || wait > ModbusLine::AnswerWait) {
        QVERIFY(silent->reason.seconds >= latest && silent->reason.seconds < latest + Slack);
    } else {
        QCOMPARE(silent->reason.seconds, -1.0);
    }
    if (!lastRead && delays.last() > ModbusLine::AnswerWait)
        QCOMPARE(silent->late + silent->received, FakeMeter::readAnswer(1, {quint16(delays.size())}));
    const double from = sentAt.last();
    clock.advance(from + settle - 2 * ModbusLine::QuietBudget - clock.now());
    QVERIFY(line.settling());
    QVERIFY(!line.transact(tickRequest));
    QVERIFY(line.transact(readRequest));
    QVERIFY2(sentAt.last() - from >= settle && sentAt.last() - from < settle + Slack,
             qPrintable(QString::number(sentAt.last() - from)));
}

// A late 2-register answer alone in a 1-register request's wait: named late, and learned from.
void LineTest::lateAnswerOfAnotherLength()
{
    VirtualClock clock;
    auto owned = std::make_unique<FakeMeter>(clock);
    FakeMeter &meter = *owned;
    meter.setPortOpen(true);
    meter.setRegisters(0, {1, 2});
    meter.setAnswerDelay(0.65);
    ModbusLine line(std::move(owned), clock);
    const LineRequest two{{1, ReadHoldingRegisters, 0, 0, 0, 2, 0, 0}, 7};
    QVERIFY(line.transact(two));
    meter.queueReply({}); // this one never answers: only the late answer can teach the line
    const auto one = line.transact(readRequest); // sent at 0.5 s
    QVERIFY(one);
    QCOMPARE(int(one->reason.kind), int(Reason::LateAnswer));
    meter.queueReply({});
    const auto silent = line.transact(readRequest);
    QVERIFY(silent && silent->reason.seconds >= 0.65 && silent->reason.seconds < 0.65 + Slack);
}

QTEST_MAIN(LineTest)
#include "tst_line.moc"
