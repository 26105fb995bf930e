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
} // namespace

class LineTest : public QObject {
    Q_OBJECT
private slots:
    void transact_data();
    void transact();
};

void LineTest::transact_data()
{
    QTest::addColumn<QByteArray>("stale");       // on the line before the first request
    QTest::addColumn<FakeMeter::Reply>("reply"); // to the first request
    QTest::addColumn<int>("reason");             // of the first outcome
    QTest::addColumn<QByteArray>("answer");      // first outcome's answer
    QTest::addColumn<QByteArray>("late");        // dropped before the second request

    const QByteArray exception = FakeMeter::exceptionAnswer(1, ReadHoldingRegisters, 2);
    using R = Reason;
    QTest::newRow("answer at 0.1 s") << QByteArray() << FakeMeter::Reply{{good, 0.1}} << int(R::None) << good << QByteArray();
    for (double at : {0.25, 0.35, 0.45})
        QTest::addRow("answer at %.2f s is dropped before the next request", at)
            << QByteArray() << FakeMeter::Reply{{good, at}} << int(R::NoAnswer) << QByteArray() << good;
    QTest::newRow("echo + answer") << QByteArray() << FakeMeter::Reply{{request + good, 0.05}} << int(R::None) << good << QByteArray();
    QTest::newRow("echo + exception") << QByteArray() << FakeMeter::Reply{{request + exception, 0.05}}
                                      << int(R::Exception) << exception << QByteArray();
    QTest::newRow("echo alone is no answer") << QByteArray() << FakeMeter::Reply{{request, 0.05}}
                                             << int(R::NoAnswer) << QByteArray() << QByteArray();
    QTest::newRow("late bytes then a good answer") << QByteArray::fromHex("010302") << FakeMeter::Reply{{good, 0.1}}
                                                   << int(R::None) << good << QByteArray();
    QTest::newRow("two frames") << QByteArray() << FakeMeter::Reply{{good + good, 0.1}} << int(R::MoreThanOneFrame)
                                << good + good << QByteArray();
    QTest::newRow("partial then the rest late")
        << QByteArray() << FakeMeter::Reply{{good.left(3), 0.1}, {good.mid(3), 0.3}} << int(R::NoAnswer)
        << good.left(3) << good.mid(3);
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
    if (!stale.isEmpty())
        meter.deliverAt(0, stale);
    meter.queueReply(reply);

    const auto first = line.transact({readZero, 5, ByteOrder::AsReceived}, ModbusLine::ClickSettleBudget);
    QVERIFY(first && first->written);
    QCOMPARE(first->late, stale);
    QCOMPARE(int(first->reason.kind), reason);
    QCOMPARE(first->answer, answer);
    QCOMPARE(line.settling(), reason != Reason::None && reason != Reason::Exception);
    // A tick now finds the line busy settling and sends nothing.
    if (line.settling())
        QVERIFY(!line.transact({readZero, 5, ByteOrder::AsReceived}, ModbusLine::TickSettleBudget));

    const auto second = line.transact({readZero, 5, ByteOrder::AsReceived}, ModbusLine::ClickSettleBudget);
    QVERIFY(second);
    QCOMPARE(second->late, late);
    QVERIFY(second->trusted());
    QCOMPARE(second->answer, good);
    QCOMPARE(sentAt.size(), 2);
    // Stale bytes cost a few character times; an unanswered request the
    // settle time; a healthy line nothing.
    QVERIFY(sentAt[0] < (stale.isEmpty() ? 1e-9 : 0.01));
    if (reason != Reason::None && reason != Reason::Exception)
        QVERIFY(sentAt[1] - sentAt[0] >= ModbusLine::SettleTime);
    else
        QVERIFY(sentAt[1] - sentAt[0] < ModbusLine::AnswerWait + 1e-3);
}

QTEST_MAIN(LineTest)
#include "tst_line.moc"
