// Connect, the register scan and engineer mode, against a scripted meter on
// virtual time.
#include "form1fixture.h"
#include "widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

using namespace movra;
using movra::test::hex;
using movra::test::ModelWindow;

namespace {

const QByteArray twoEntries = "2\r\n0010-2 VOLT\r\n0020+4 POWER\r\n";

} // namespace

class ScanTest : public QObject {
    Q_OBJECT
private slots:
    void connectRequest();
    void connectSuccessShowsValueAndStatus();
    void connectAppliesByteOrder();
    void connectFailureShowsHint_data();
    void connectFailureShowsHint();
    void connectWithoutModelFileSendsNothing_data();
    void connectWithoutModelFileSendsNothing();
    void connectTwiceWithMeterGone();

    void ticksVisitEntriesThenRest();
    void stopThenStart();
    void clearDuringScan();
    void registerWithoutAnswerListsEmptyValue();
    void modelChangedMidScan();
    void unreadableEntryRestartsPass_data();
    void unreadableEntryRestartsPass();
    void missingModelFileReadsNothing();
    void reconnectAfter3600Readings();
    void reconnectKeepsClosedPortClosed();
    void tickDuringReadingIsSkipped();
    void tickWhileLineSettlesIsSkipped();
    void refusedScanReadingLeavesFocus();
    void tickDuringReconnectPauseIsSkipped();

    void engineerMode();
    void leavingEngineerModeStopsScan();
};

void ScanTest::connectRequest()
{
    ModelWindow w("3\r\n0000-2 A\r\n0001-2 B\r\n0100-2 VOLT\r\n");
    w.open();
    w.fake->setSlave(5);
    w.fake->setRegister(0x0100, 0x0064);
    w.ui().Combo6->setCurrentIndex(4);
    w.form->Command2_Click();
    QCOMPARE(w.fake->written(), QList<QByteArray>{FakeMeter::withCrc(hex("05 03 01 00 00 01"))});
    QCOMPARE(w.ui().Combo4->currentText(), QStringLiteral("2"));
    QCOMPARE(w.form->ExpectedLength, 5);
}

void ScanTest::connectSuccessShowsValueAndStatus()
{
    ModelWindow w(twoEntries.left(twoEntries.indexOf("0020")) .replace("2\r\n", "1\r\n"));
    w.open();
    w.fake->setRegister(0x0010, 0x0064);
    w.ui().Label12->setText("old");
    w.form->Command2_Click();
    QCOMPARE(w.ui().signal1->text(), QStringLiteral("100"));
    QVERIFY(w.ui().signal2->text().isEmpty());
    QCOMPARE(w.ui().Label12->text(), QStringLiteral("COM:1 Baud rate:9600  Protocol:N,8,1"));
    QVERIFY(w.ui().Command2->isEnabled()); // Connect changes no enabled state
}

void ScanTest::connectAppliesByteOrder()
{
    ModelWindow w("1\r\n0002+4 KWH\r\n");
    w.open();
    w.fake->setRegisters(0x0002, {0x1234, 0x5678});
    w.form->Command2_Click();
    QCOMPARE(w.fake->written().value(0), FakeMeter::withCrc(hex("01 03 00 02 00 02")));
    QCOMPARE(w.form->ByteOrderSign, QStringLiteral("+"));
    QCOMPARE(w.form->DataHex, QStringLiteral("78563412"));
    QCOMPARE(w.ui().signal1->text(), QString::number(0x78563412));
}

void ScanTest::connectFailureShowsHint_data()
{
    QTest::addColumn<int>("langId");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no answer, English") << 0x0409 << "silent" << "No answer within 0.2 s";
    QTest::newRow("no answer, Chinese") << 0x0404 << "silent" << "0.2 秒內無回應";
    QTest::newRow("exception answer") << 0x0409 << "exception" << "Exception 02: illegal data address";
    QTest::newRow("exception answer, Chinese") << 0x0404 << "exception" << "例外 02：不合法的資料位址";
    QTest::newRow("port closed") << 0x0409 << "closed" << "No answer within 0.2 s";
    QTest::newRow("length character not a data length") << 0x0409 << "length" << "Exception 02: illegal data address";
}

void ScanTest::connectFailureShowsHint()
{
    QFETCH(int, langId);
    QFETCH(QString, fault);
    QFETCH(QString, reason);
    ModelWindow w(fault == "length" ? "1\r\n0010-3 VOLT\r\n" : "1\r\n0010-2 VOLT\r\n",
                  std::uint16_t(langId));
    if (fault != "closed")
        w.open();
    w.fake->setRegister(0x0010, 0x0064);
    if (fault == "silent")
        w.fake->queueReply({});
    if (fault == "exception")
        w.fake->queueReply({{FakeMeter::exceptionAnswer(1, 3, 2), 0.02}});
    w.ui().Label12->setText("previous");
    w.form->Command2_Click();
    QVERIFY(w.ui().signal1->text().isEmpty());
    QCOMPARE(w.ui().signal2->text(), w.form->ConnectHint);
    QVERIFY(w.form->ConnectHint.contains("\r\n"));
    QCOMPARE(w.ui().Label12->text(), QStringLiteral("previous"));
    QCOMPARE(w.ui().signal1->toolTip(), reason);
    QCOMPARE(w.ui().signal1->accessibleDescription(), reason);
}

void ScanTest::connectWithoutModelFileSendsNothing_data()
{
    QTest::addColumn<QByteArray>("model"); // empty: the file is removed
    QTest::newRow("missing model file") << QByteArray();
    QTest::newRow("file shorter than N + 1 lines") << QByteArray("3\r\n0010-2 VOLT\r\n");
}

void ScanTest::connectWithoutModelFileSendsNothing()
{
    QFETCH(QByteArray, model);
    ModelWindow w(model);
    if (model.isEmpty())
        QFile::remove(w.dirPath + "/item/M.TXT");
    w.open();
    w.fake->setRegister(0x0010, 0x0064);
    w.ui().signal1->setText("123");
    w.form->Command2_Click();
    QVERIFY(w.fake->written().isEmpty());
    QVERIFY(w.ui().Text4->text().isEmpty());
    QVERIFY(w.ui().signal1->text().isEmpty());
    QCOMPARE(w.ui().signal2->text(), w.form->ConnectHint);
}

void ScanTest::connectTwiceWithMeterGone()
{
    ModelWindow w("1\r\n0010-2 VOLT\r\n");
    w.open();
    w.fake->setRegister(0x0010, 0x0064);
    w.form->Command2_Click();
    QCOMPARE(w.ui().signal1->text(), QStringLiteral("100"));
    w.fake->queueReply({});
    w.form->Command2_Click();
    QVERIFY(w.ui().signal1->text().isEmpty());
    QCOMPARE(w.ui().signal2->text(), w.form->ConnectHint);
}

void ScanTest::ticksVisitEntriesThenRest()
{
    ModelWindow w(twoEntries);
    w.open();
    w.fake->setRegister(0x0010, 250);
    w.fake->setRegisters(0x0020, {0xDC05, 0}); // a "+" entry: 1500 low byte first
    w.form->Command10_Click();
    QVERIFY(w.ui().Timer2->isActive());
    QCOMPARE(w.ui().Timer2->interval(), 300);
    QVERIFY(w.ui().Command10->isHidden());
    QVERIFY(!w.ui().Command11->isHidden());
    QCOMPARE(w.form->ScanLastLine, 3.0);
    for (int i = 0; i < 3; ++i)
        w.tick();
    QCOMPARE(w.list(), (QStringList{"40033--0020--1500--POWER", "40017--0010--250--VOLT"}));
    for (int i = 0; i < 3; ++i)
        w.tick();
    QCOMPARE(w.registersRead(), (QList<int>{0x10, 0x20, 0x10, 0x20}));
    QCOMPARE(w.list().size(), 4);
    QCOMPARE(w.form->ScanTickCount, 4);
    // The scan joins 4 bytes as the entry's sign says, as Connect does.
    QCOMPARE(w.form->ByteOrderSign, QStringLiteral("+"));
}

void ScanTest::stopThenStart()
{
    ModelWindow w(twoEntries);
    w.open();
    w.fake->setRegister(0x0010, 1);
    w.fake->setRegisters(0x0020, {0, 2});
    w.form->Command10_Click();
    w.tick();
    w.form->Command11_Click();
    QVERIFY(!w.ui().Timer2->isActive());
    QVERIFY(!w.ui().Command10->isHidden());
    QVERIFY(w.ui().Command11->isHidden());
    QCOMPARE(w.form->ScanTickCount, 0);
    w.form->Command10_Click();
    w.tick();
    QCOMPARE(w.registersRead(), (QList<int>{0x10, 0x10}));
    QCOMPARE(w.list(), (QStringList{"40017--0010--1--VOLT", "40017--0010--1--VOLT"}));
}

void ScanTest::clearDuringScan()
{
    ModelWindow w(twoEntries);
    w.open();
    w.fake->setRegister(0x0010, 7);
    w.fake->setRegisters(0x0020, {0x0800, 0});
    w.form->Command10_Click();
    w.tick();
    w.form->Command4_Click();
    QVERIFY(w.ui().Text12->text().isEmpty());
    w.tick();
    QCOMPARE(w.list(), QStringList{"40033--0020--8--POWER"});
}

void ScanTest::registerWithoutAnswerListsEmptyValue()
{
    ModelWindow w(twoEntries);
    w.open();
    w.fake->setRegister(0x0010, 250); // 0020 unknown: exception 02
    w.form->Command10_Click();
    w.tick();
    w.tick();
    w.tick();
    w.fake->queueReply({}); // and then 0010 stays silent once
    w.tick();
    QCOMPARE(w.list(), (QStringList{"40017--0010----VOLT", "40033--0020----POWER",
                                    "40017--0010--250--VOLT"}));
}

void ScanTest::modelChangedMidScan()
{
    ModelWindow w(twoEntries);
    w.writeFile("item/N.TXT", "2\r\n0100-2 AMP\r\n0200-2 HZ\r\n");
    w.open();
    for (int r : {0x10, 0x20, 0x21, 0x100, 0x200})
        w.fake->setRegister(quint16(r), quint16(r));
    w.form->Command10_Click();
    w.tick();
    w.ui().Combo5->setCurrentIndex(1);
    w.tick();
    w.tick();
    QCOMPARE(w.registersRead(), (QList<int>{0x10, 0x200}));
    QCOMPARE(w.list().first(), QStringLiteral("40513--0200--512--HZ"));
}

void ScanTest::unreadableEntryRestartsPass_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("file removed during the scan") << "remove";
    QTest::newRow("file shortened during the scan") << "shorten";
    QTest::newRow("a fraction in line 1 ends the pass at the last whole entry") << "fraction";
}

void ScanTest::unreadableEntryRestartsPass()
{
    QFETCH(QString, change);
    ModelWindow w(change == "fraction" ? QByteArray("1.5\r\n0010-2 VOLT\r\n0020-2 AMP\r\n0030-2 HZ\r\n")
                                       : twoEntries);
    w.open();
    for (int r : {0x10, 0x20, 0x21, 0x30})
        w.fake->setRegister(quint16(r), 1);
    w.form->Command10_Click();
    w.tick();
    if (change == "remove")
        QFile::remove(w.dirPath + "/item/M.TXT");
    if (change == "shorten")
        w.writeFile("item/M.TXT", "2\r\n0010-2 VOLT\r\n");
    for (int i = 0; i < 6; ++i)
        w.tick();
    if (change == "remove") {
        QCOMPARE(w.registersRead(), QList<int>{0x10});
    } else {
        const QList<int> read = w.registersRead();
        QVERIFY(!read.contains(0x30)); // never past the last entry
        // fraction: 0010, 0020, end, ...; shortened: 0010, then line 3 is gone.
        QCOMPARE(read.count(0x10), change == "fraction" ? 3 : 4);
    }
    QVERIFY(w.ui().Timer2->isActive());
    if (change == "remove") {
        w.writeFile("item/M.TXT", twoEntries);
        w.tick();
        QCOMPARE(w.registersRead().last(), 0x10); // the pass starts again at line 2
    }
}

void ScanTest::missingModelFileReadsNothing()
{
    ModelWindow w(twoEntries);
    QFile::remove(w.dirPath + "/item/M.TXT");
    w.open();
    w.form->Command10_Click();
    QCOMPARE(w.form->ScanLastLine, 1.0);
    for (int i = 0; i < 5; ++i)
        w.tick();
    QVERIFY(w.fake->written().isEmpty());
    QVERIFY(w.ui().Text12->text().isEmpty());
}

void ScanTest::reconnectAfter3600Readings()
{
    ModelWindow w("1\r\n0010-2 VOLT\r\n");
    w.form->show();
    w.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    w.open();
    w.ui().Check1->setChecked(true); // engineer mode's locks stay over the reconnect
    w.ui().Text2->setFocus();
    w.fake->setRegister(0x0010, 230);
    w.form->Command10_Click();
    const int opensBefore = w.fake->openCount();
    // One entry: a reading, then an empty tick, and again.
    for (int i = 0; i < 2 * 3600 && w.fake->written().size() < 3601; ++i)
        w.tick();
    QCOMPARE(w.form->ScanTickCount, 0);
    // 3600 scan reads and one Connect read.
    QCOMPARE(w.fake->written().size(), 3601);
    QCOMPARE(w.fake->openCount(), opensBefore + 1); // closed and opened again
    QVERIFY(w.fake->portOpen());
    QCOMPARE(w.ui().Shape1->fillColor(), 65280);
    QCOMPARE(w.ui().Command1->text(), QStringLiteral("CLOS"));
    QCOMPARE(w.ui().Label12->text(), QStringLiteral("COM:1 Baud rate:9600  Protocol:N,8,1"));
    QVERIFY(!w.ui().Combo6->isEnabled() && !w.ui().Combo7->isEnabled() && !w.ui().Command2->isEnabled());
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(w.ui().Text2));
    w.tick();
    w.tick();
    QCOMPARE(w.list().first(), QStringLiteral("40017--0010--230--VOLT"));
    QCOMPARE(w.fake->written().size(), 3602);
}

void ScanTest::reconnectKeepsClosedPortClosed()
{
    ModelWindow w("1\r\n0010-2 VOLT\r\n");
    w.form->Command10_Click();
    w.form->ScanTickCount = 3599;
    w.form->ScanLine = 2;
    w.tick();
    QCOMPARE(w.form->ScanTickCount, 0);
    QVERIFY(!w.fake->portOpen());
    QCOMPARE(w.fake->openCount(), 0);
    QCOMPARE(w.ui().signal2->text(), w.form->ConnectHint);
}

void ScanTest::tickDuringReadingIsSkipped()
{
    ModelWindow w(twoEntries);
    w.open();
    w.fake->setRegister(0x0010, 1);
    w.fake->setRegisters(0x0020, {0, 2});
    w.form->Command10_Click();
    w.clock.setDuringWait([&] { w.tick(); });
    w.tick();
    w.clock.setDuringWait({});
    QCOMPARE(w.registersRead(), QList<int>{0x10});
    QCOMPARE(w.list().size(), 1);
    QCOMPARE(w.form->ScanLine, 3);
}

void ScanTest::tickWhileLineSettlesIsSkipped()
{
    ModelWindow w("2\r\n0010-2 VOLT\r\n0020-2 AMP\r\n");
    w.open();
    w.fake->setRegister(0x0010, 1);
    w.fake->setRegister(0x0020, 2);
    w.form->Command10_Click();
    w.fake->queueReply({{FakeMeter::readAnswer(1, {1}), 0.25}}); // 0010 answers late
    w.tick();
    w.clock.advance(0.1); // the next tick, 0.3 s after the first
    w.tick();
    QCOMPARE(w.registersRead(), QList<int>{0x10});
    w.clock.advance(0.3); // and the one after that: the late answer is in
    w.tick();
    QCOMPARE(w.registersRead(), (QList<int>{0x10, 0x20}));
    QCOMPARE(w.list(), (QStringList{"40033--0020--2--AMP", "40017--0010----VOLT"}));
}

void ScanTest::refusedScanReadingLeavesFocus()
{
    ModelWindow w(twoEntries);
    w.form->show();
    w.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    w.open();
    w.ui().Check1->setChecked(true);
    w.ui().Text1->clear();
    w.ui().Combo4->setFocus();
    w.form->Command10_Click();
    w.tick();
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(w.ui().Combo4));
    QVERIFY(!w.ui().Text1->hasSelectedText());
    QCOMPARE(w.list(), QStringList{"40017--0010----VOLT"});
    QCOMPARE(w.ui().Text5->toolTip(), QStringLiteral("Not sent: slave address"));
}

void ScanTest::tickDuringReconnectPauseIsSkipped()
{
    ModelWindow w("1\r\n0010-2 VOLT\r\n");
    w.open();
    w.fake->setRegister(0x0010, 230);
    w.form->Command10_Click();
    w.form->ScanTickCount = 3599;
    // Every wait of the step (the reading, Connect, the 0.1 s pause) gets a tick.
    w.clock.setDuringWait([&] { w.tick(); });
    w.tick();
    w.clock.setDuringWait({});
    QCOMPARE(w.registersRead(), (QList<int>{0x10, 0x10})); // the reading and Connect only
    QCOMPARE(w.list().size(), 1);
    QCOMPARE(w.form->ScanTickCount, 0);
}

void ScanTest::engineerMode()
{
    ModelWindow w(twoEntries);
    w.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    QCOMPARE(w.form->height(), 222);
    w.ui().Check1->setChecked(true);
    QCOMPARE(w.form->height(), (3330 + 6225) / 15);
    QCOMPARE(w.form->frameGeometry().top(), 1); // 10 twips
    QVERIFY(!w.ui().Command2->isEnabled() && !w.ui().Combo6->isEnabled() && !w.ui().Combo7->isEnabled());
    w.form->Command1_Click(); // opening the port in engineer mode
    w.ui().Check1->setChecked(false);
    QCOMPARE(w.form->height(), 222);
    QVERIFY(w.ui().Command2->isEnabled() && w.ui().Combo6->isEnabled() && w.ui().Combo7->isEnabled());
    w.form->Command1_Click();
    // Checking and unchecking with the port closed.
    w.ui().Check1->setChecked(true);
    QVERIFY(!w.ui().Command2->isEnabled());
    w.ui().Check1->setChecked(false);
    QVERIFY(w.ui().Command2->isEnabled()); // although no port is open
}

void ScanTest::leavingEngineerModeStopsScan()
{
    ModelWindow w(twoEntries);
    w.open();
    w.fake->setRegister(0x0010, 1);
    w.ui().Check1->setChecked(true);
    w.form->Command10_Click();
    w.tick();
    w.ui().Check1->setChecked(false);
    QVERIFY(!w.ui().Timer2->isActive());
    QVERIFY(!w.ui().Command10->isHidden());
    QCOMPARE(w.list().size(), 1);
}

QTEST_MAIN(ScanTest)
#include "tst_scan.moc"
