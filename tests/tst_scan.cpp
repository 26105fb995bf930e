// Connect, the register scan and engineer mode, against a scripted meter on
// virtual time.
#include "captions.h"
#include "form1fixture.h"
#include "trendwindow.h"
#include "widgets.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QImage>
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
    void connectSuccessShowsValueAndStatus();
    void connectFailureShowsHint_data();
    void connectFailureShowsHint();

    void ticksVisitEntriesThenRest();
    void stopThenStart();
    void clearDuringScan();
    void refusedScanReadingLeavesFocus();
    void closedPortReadingSaysNotSent();

    void engineerMode();
    void leavingEngineerModeStopsScan();
};

void ScanTest::connectSuccessShowsValueAndStatus()
{
    ModelWindow w(twoEntries.left(twoEntries.indexOf("0020")) .replace("2\r\n", "1\r\n"));
    w.open();
    w.fake->setRegister(0x0010, 0x0064);
    w.ui().Command2->click();
    QCOMPARE(w.ui().signal1->text(), QStringLiteral("100"));
    QVERIFY(w.ui().signal2->text().isEmpty());
    QCOMPARE(w.ui().Label12->text(), QStringLiteral("COM:1 Baud rate:9600  Protocol:N,8,1"));
    QVERIFY(w.ui().Command2->isEnabled()); // Connect changes no enabled state

    // A typed baud rate the search finds stays in the list, for the next open.
    w.ui().Command1->click();
    w.ui().Combo2->setEditText("14400");
    w.open();
    w.form->findChild<QAction *>("findMeter")->trigger();
    QCOMPARE(w.ui().Combo2->currentText(), QStringLiteral("14400"));
    QCOMPARE(w.ui().signal1->text(), QStringLiteral("100"));
}

void ScanTest::connectFailureShowsHint_data()
{
    QTest::addColumn<int>("langId");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no answer, English") << 0x0409 << "silent" << "No answer within 0.2 s";
    QTest::newRow("no answer, Chinese") << 0x0404 << "silent" << "0.2 秒內無回應";
    QTest::newRow("exception answer, Chinese") << 0x0404 << "exception" << "例外 02：不合法的資料位址";
}

void ScanTest::connectFailureShowsHint()
{
    QFETCH(int, langId);
    QFETCH(QString, fault);
    QFETCH(QString, reason);
    ModelWindow w("1\r\n0010-2 VOLT\r\n", std::uint16_t(langId));
    w.open();
    w.fake->setRegister(0x0010, 0x0064);
    w.ui().Command2->click(); // a value first: the failing Connect empties it, and its reason with it
    QString tipWhileWaiting = "(no wait)";
    w.clock.setDuringWait([&] { tipWhileWaiting = w.ui().signal1->toolTip() + w.ui().Text5->text() + w.ui().Text8->text(); });
    if (fault == "silent")
        w.fake->queueReply({});
    if (fault == "exception")
        w.fake->queueReply({{FakeMeter::exceptionAnswer(1, 3, 2), 0.02}});
    w.ui().Label12->setText(QStringLiteral("as before"));
    w.ui().Command2->click();
    QVERIFY(w.ui().signal1->text().isEmpty());
    QCOMPARE(tipWhileWaiting, QString());
    const CaptionTable &table = langId == TraditionalChineseLangId ? chineseTable() : englishTable();
    QCOMPARE(w.ui().signal2->text(), table.connectHint);
    QCOMPARE(w.ui().Label12->text(), QStringLiteral("as before")); // a failed Connect leaves it
    QCOMPARE(w.ui().signal1->toolTip(), reason);
    QCOMPARE(w.ui().signal1->accessibleDescription(), reason);
}

void ScanTest::ticksVisitEntriesThenRest()
{
    ModelWindow w(twoEntries);
    w.open();
    w.fake->setRegister(0x0010, 250);
    w.fake->setRegisters(0x0020, {0xDC05, 0}); // a "+" entry: 1500 low byte first
    w.ui().Command10->click();
    QVERIFY(w.ui().Timer2->isActive());
    QCOMPARE(w.ui().Timer2->interval(), 300);
    QVERIFY(w.ui().Command10->isHidden());
    QVERIFY(!w.ui().Command11->isHidden());
    // While a reading waits, the register and length boxes already show it.
    QStringList boxes;
    w.clock.setDuringWait([&] { boxes << w.ui().Text2->text() + ' ' + w.ui().Combo4->currentText(); });
    for (int i = 0; i < 3; ++i)
        w.tick();
    w.clock.setDuringWait({});
    QCOMPARE(boxes, (QStringList{"0010 2", "0020 4"}));
    QCOMPARE(w.list(), (QStringList{"40033--0020--1500--POWER", "40017--0010--250--VOLT"}));
    for (int i = 0; i < 3; ++i)
        w.tick();
    QCOMPARE(w.registersRead(), (QList<int>{0x10, 0x20, 0x10, 0x20}));
    QCOMPARE(w.list().size(), 4);
}

void ScanTest::stopThenStart()
{
    ModelWindow w(twoEntries);
    w.open();
    w.fake->setRegister(0x0010, 1);
    w.fake->setRegisters(0x0020, {0, 2});
    w.ui().Command10->click();
    w.tick();
    w.ui().Command11->click();
    QVERIFY(!w.ui().Timer2->isActive());
    QVERIFY(!w.ui().Command10->isHidden());
    QVERIFY(w.ui().Command11->isHidden());
    w.ui().Command10->click();
    w.tick();
    QCOMPARE(w.registersRead(), (QList<int>{0x10, 0x10}));
    QCOMPARE(w.list(), (QStringList{"40017--0010--1--VOLT", "40017--0010--1--VOLT"}));
}

// "Clear" empties the list, not the trend, which the scan list's menu opens.
void ScanTest::clearDuringScan()
{
    ModelWindow w(twoEntries);
    w.open();
    w.fake->setRegister(0x0010, 7);
    w.fake->setRegisters(0x0020, {0x0800, 0});
    auto *trendItem = w.form->findChild<QAction *>(QStringLiteral("trend"));
    trendItem->trigger();
    TrendWindow *trend = w.form->trend();
    QVERIFY(trend && trend->isVisible() && !trend->isModal());
    w.ui().Command10->click();
    w.tick();
    w.ui().Command4->click();
    QVERIFY(w.ui().Text12->text().isEmpty());
    w.tick();
    QCOMPARE(w.list(), QStringList{"40033--0020--8--POWER"});
    trendItem->trigger();
    QCOMPARE(w.form->trend(), trend); // one per tool
    trend->redraw();
    QCOMPARE(trend->stripCount(), 2);
    QCOMPARE(trend->windowTitle(), QStringLiteral("Trend — M"));
    trend->hover(1.0);
    QVERIFY2(trend->readout().contains(QStringLiteral(" · VOLT 7 · POWER 8")), qPrintable(trend->readout()));
    const QString png = w.dir.filePath(QStringLiteral("trend.png"));
    QVERIFY(trend->savePicture(png) && QImage(png).size() == trend->picture().size());
    QVERIFY(!trend->savePicture(w.dir.filePath(QStringLiteral("no/such/folder/trend.png"))));
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
    w.ui().Command10->click();
    w.tick();
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(w.ui().Combo4));
    QVERIFY(!w.ui().Text1->hasSelectedText());
    QCOMPARE(w.list(), QStringList{"40017--0010----VOLT"});
    QCOMPARE(w.ui().Text5->toolTip(), QStringLiteral("Not sent: slave address"));
}

// A scan left running after the adapter went away, or on a port never opened.
void ScanTest::closedPortReadingSaysNotSent()
{
    ModelWindow w(twoEntries);
    w.ui().Command10->click();
    w.tick();
    QVERIFY(w.fake->written().isEmpty());
    QVERIFY(w.ui().Text4->text().startsWith(QStringLiteral("01,03,00,10,00,01,")));
    QCOMPARE(w.list(), QStringList{"40017--0010----VOLT"});
    QCOMPARE(w.ui().Text5->toolTip(), QStringLiteral("Not sent: port closed"));
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
    w.ui().Command1->click(); // opening the port in engineer mode
    w.ui().Check1->setChecked(false);
    QCOMPARE(w.form->height(), 222);
    QVERIFY(w.ui().Command2->isEnabled() && w.ui().Combo6->isEnabled() && w.ui().Combo7->isEnabled());
    w.ui().Command1->click();
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
    w.ui().Command10->click();
    w.tick();
    w.ui().Check1->setChecked(false);
    QVERIFY(!w.ui().Timer2->isActive());
    QVERIFY(!w.ui().Command10->isHidden());
    QCOMPARE(w.list().size(), 1);
}

QTEST_MAIN(ScanTest)
#include "tst_scan.moc"
