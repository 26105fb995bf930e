// The port panel, the transaction cycle and the manual read/write panel,
// against a scripted meter on virtual time.
#include "form1fixture.h"
#include "widgets.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

using namespace movra;
using movra::test::hex;
using movra::test::Window;

namespace {

void showActive(Window &w)
{
    w.form->show();
    w.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
}

void openPort(Window &w)
{
    w.form->Command1_Click();
    QVERIFY(w.fake->portOpen());
}

// The manual read of `length` bytes at register `reg`, answered as scripted.
void read(Window &w, const QString &reg, const QString &length)
{
    w.ui().Text2->setText(reg);
    w.ui().Combo4->setEditText(length);
    w.form->Command3_Click();
}

QString topLine(const LogBox *box)
{
    return box->text().section(QStringLiteral("\r\n"), 0, 0);
}

// The reason for a missing value, where the operator finds it.
void checkReason(const Window &w, const QString &reason)
{
    for (const QWidget *box : {static_cast<const QWidget *>(w.ui().Text5), static_cast<const QWidget *>(w.ui().signal1)}) {
        QCOMPARE(box->toolTip(), reason);
        QCOMPARE(box->accessibleDescription(), reason);
    }
}

} // namespace

class TransactionTest : public QObject {
    Q_OBJECT
private slots:
    void openShowsPortAndSettings();
    void failedOpenKeepsCaptionAndStatus();
    void closeReturnsToClosedState();
    void chineseCaptionsStillReadClosOpen();
    void exits();
    void lostLinkShowsClosedPort();

    void readRequest_data();
    void readRequest();
    void readShowsValue_data();
    void readShowsValue();
    void untrustedAnswerGivesNoValue_data();
    void untrustedAnswerGivesNoValue();
    void noAnswerLeavesNoValue();
    void lateAnswerIsNotDecodedAsTheNext();
    void requestNotSentForBadSlaveAddress();
    void slaveAddressUpTo255();
    void oneTransactionAtATime();
    void clearAndPortButtonWorkDuringWait();
    void closedPortStillLogsAndWaits();
    void writeSendsAndLogsEcho();
    void writeWithoutItsEchoShowsNoValue_data();
    void writeWithoutItsEchoShowsNoValue();
    void clearEmptiesLogs();
    void logsKeepNewestOnTop();
};

void TransactionTest::openShowsPortAndSettings()
{
    Window w;
    const auto &ui = w.ui();
    ui.Combo1->setCurrentIndex(2);
    ui.Combo2->setCurrentIndex(0);
    ui.Combo3->setCurrentIndex(2);
    w.form->Command1_Click();
    QCOMPARE(w.fake->openedPort(), 3);
    QCOMPARE(w.fake->lastSettingsText(), QStringLiteral("19200,E,8,1"));
    QCOMPARE(ui.Label12->text(), QStringLiteral("COM:3 Baud rate:19200  Protocol:E,8,1"));
    QCOMPARE(ui.Shape1->fillColor(), 65280);
    QCOMPARE(ui.Command1->text(), QStringLiteral("CLOS"));
    QCOMPARE(ui.Command1->property("tag").toString(), QStringLiteral("1"));
    QVERIFY(!ui.Combo1->isEnabled() && !ui.Combo2->isEnabled() && !ui.Combo3->isEnabled());
    QVERIFY(ui.Command3->isEnabled() && ui.Command5->isEnabled());
    QVERIFY(ui.Combo6->isEnabled() && ui.Combo7->isEnabled() && ui.Command2->isEnabled());
}

void TransactionTest::failedOpenKeepsCaptionAndStatus()
{
    Window w;
    const auto &ui = w.ui();
    w.fake->setOpenFails(true);
    w.form->Command1_Click();
    QVERIFY(!w.fake->portOpen());
    QCOMPARE(ui.Command1->text(), QStringLiteral("Open"));
    QCOMPARE(ui.Command1->property("tag").toString(), QStringLiteral("0"));
    QVERIFY(ui.Label12->text().isEmpty());
    QCOMPARE(ui.Shape1->fillColor(), 255);
    QVERIFY(!ui.Command3->isEnabled());
    QVERIFY(ui.Combo1->isEnabled());
    // A click after a failed open tries again.
    w.fake->setOpenFails(false);
    w.form->Command1_Click();
    QVERIFY(w.fake->portOpen());
}

void TransactionTest::closeReturnsToClosedState()
{
    Window w;
    const auto &ui = w.ui();
    showActive(w);
    openPort(w);
    w.form->Command1_Click();
    QVERIFY(!w.fake->portOpen());
    QCOMPARE(ui.Command1->text(), QStringLiteral("OPEN"));
    QCOMPARE(ui.Command1->property("tag").toString(), QStringLiteral("0"));
    QCOMPARE(ui.Shape1->fillColor(), 255);
    QVERIFY(ui.Label12->text().isEmpty());
    QVERIFY(ui.Combo1->isEnabled() && ui.Combo2->isEnabled() && ui.Combo3->isEnabled());
    QVERIFY(!ui.Command3->isEnabled() && !ui.Command5->isEnabled());
    QVERIFY(ui.Command2->isEnabled()); // Connect stays enabled after a close
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(ui.Combo1));
}

void TransactionTest::chineseCaptionsStillReadClosOpen()
{
    Window w(0x0404);
    QCOMPARE(w.ui().Command1->text(), QStringLiteral("開啟"));
    openPort(w);
    QCOMPARE(w.ui().Command1->text(), QStringLiteral("CLOS"));
    w.form->Command1_Click();
    QCOMPARE(w.ui().Command1->text(), QStringLiteral("OPEN"));
}

void TransactionTest::exits()
{
    Window w;
    openPort(w);
    w.form->Command12_Click();
    QCOMPARE(w.quits, 1);
    QVERIFY(w.fake->portOpen()); // released as the program ends
    w.form->Command6_Click();
    QCOMPARE(w.quits, 2);
    QVERIFY(!w.fake->portOpen());
    w.form->Command6_Click(); // closing a closed port ends all the same
    QCOMPARE(w.quits, 3);
}

void TransactionTest::lostLinkShowsClosedPort()
{
    Window w;
    const auto &ui = w.ui();
    openPort(w);
    w.fake->loseLink();
    QCOMPARE(ui.Shape1->fillColor(), 255);
    QCOMPARE(ui.Command1->text(), QStringLiteral("OPEN"));
    QVERIFY(ui.Label12->text().isEmpty());
    QVERIFY(!ui.Command3->isEnabled());
    // With the link back, the operator opens the port again.
    w.fake->restoreLink();
    w.form->Command1_Click();
    QVERIFY(w.fake->portOpen());
    QCOMPARE(ui.Shape1->fillColor(), 65280);
}

void TransactionTest::readRequest_data()
{
    QTest::addColumn<QString>("slave");
    QTest::addColumn<QString>("reg");
    QTest::addColumn<QString>("length");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("expectedLength");
    QTest::newRow("slave 1, 0000, length 2 -> 01 03 00 00 00 01 84 0A")
        << "1" << "0000" << "2" << hex("01 03 00 00 00 01 84 0A") << 5;
    QTest::newRow("length 4 asks for 2 registers -> C4 0B")
        << "1" << "0000" << "4" << hex("01 03 00 00 00 02 C4 0B") << 7;
    QTest::newRow("length 8 asks for 4 registers") << "1" << "0000" << "8"
                                                   << FakeMeter::withCrc(hex("01 03 00 00 00 04")) << 11;
    QTest::newRow("length typed 3 -> count 2 (1.5 to even), expects 6")
        << "1" << "0000" << "3" << FakeMeter::withCrc(hex("01 03 00 00 00 02")) << 6;
    QTest::newRow("length typed 5 -> count 2, expects 8")
        << "1" << "0000" << "5" << FakeMeter::withCrc(hex("01 03 00 00 00 02")) << 8;
    QTest::newRow("length without a number -> count 0, expects 3")
        << "1" << "0000" << "x" << FakeMeter::withCrc(hex("01 03 00 00 00 00")) << 3;
    QTest::newRow("register '1' is 0100H") << "1" << "1" << "2"
                                           << FakeMeter::withCrc(hex("01 03 01 00 00 01")) << 5;
    QTest::newRow("register '12' is 1200H") << "1" << "12" << "2"
                                            << FakeMeter::withCrc(hex("01 03 12 00 00 01")) << 5;
    QTest::newRow("lower-case register 00ff") << "7" << "00ff" << "2"
                                              << FakeMeter::withCrc(hex("07 03 00 FF 00 01")) << 5;
    QTest::newRow("slave 0 (broadcast) is sent as it is")
        << "0" << "0010" << "2" << FakeMeter::withCrc(hex("00 03 00 10 00 01")) << 5;
}

void TransactionTest::readRequest()
{
    QFETCH(QString, slave);
    QFETCH(QString, reg);
    QFETCH(QString, length);
    QFETCH(QByteArray, frame);
    QFETCH(int, expectedLength);
    Window w;
    openPort(w);
    w.ui().Text1->setText(slave);
    read(w, reg, length);
    QCOMPARE(w.fake->written(), QList<QByteArray>{frame});
    QCOMPARE(w.form->ExpectedLength, expectedLength);
    QCOMPARE(w.form->ByteOrderSign, QStringLiteral("-"));
    QString line;
    for (char b : frame)
        line += (line.isEmpty() ? "" : ",") + QStringLiteral("%1").arg(quint8(b), 2, 16, QLatin1Char('0')).toUpper();
    QCOMPARE(w.ui().Text4->text(), line + QStringLiteral("\r\n"));
}

void TransactionTest::readShowsValue_data()
{
    QTest::addColumn<QString>("length");
    QTest::addColumn<QList<quint16>>("registers");
    QTest::addColumn<QString>("text7");
    QTest::addColumn<QString>("bits");
    QTest::addColumn<QString>("inverted");
    QTest::addColumn<QString>("value");
    QTest::newRow("0064 reads 100") << "2" << QList<quint16>{0x0064} << "01 03 02 00 64 "
                                    << "0000000001100100" << "" << "100";
    QTest::newRow("FFFF reads -1") << "2" << QList<quint16>{0xFFFF} << "01 03 02 FF FF "
                                   << "1111111111111111" << "0000000000000000" << "-1";
    QTest::newRow("12345678 in the order received")
        << "4" << QList<quint16>{0x1234, 0x5678} << "01 03 04 12 34 56 78 "
        << "00010010001101000101011001111000" << "" << "305419896";
    QTest::newRow("80000000 reads -2147483648 exactly")
        << "4" << QList<quint16>{0x8000, 0x0000} << "01 03 04 80 00 00 00 "
        << "10000000000000000000000000000000" << "01111111111111111111111111111111" << "-2147483648";
    QTest::newRow("01000001 reads 16777217 exactly")
        << "4" << QList<quint16>{0x0100, 0x0001} << "01 03 04 01 00 00 01 "
        << "00000001000000000000000000000001" << "" << "16777217";
    QTest::newRow("6 bytes 000000000102 read 258")
        << "6" << QList<quint16>{0, 0, 0x0102} << "01 03 06 00 00 00 00 01 02 "
        << QString(39, '0') + "100000010" << "" << "258";
    QTest::newRow("8 bytes 7FFF...FF read 9223372036854775807")
        << "8" << QList<quint16>{0x7FFF, 0xFFFF, 0xFFFF, 0xFFFF} << "01 03 08 7F FF FF FF FF FF FF FF "
        << "0" + QString(63, '1') << "" << "9223372036854775807";
}

void TransactionTest::readShowsValue()
{
    QFETCH(QString, length);
    QFETCH(QList<quint16>, registers);
    QFETCH(QString, text7);
    QFETCH(QString, bits);
    QFETCH(QString, inverted);
    QFETCH(QString, value);
    Window w;
    openPort(w);
    w.fake->setRegisters(0, registers);
    read(w, "0000", length);
    const auto &ui = w.ui();
    QCOMPARE(ui.Text7->text(), text7);
    QCOMPARE(ui.Text3->text(), text7 + QStringLiteral("\r\n"));
    QCOMPARE(ui.Text8->text(), bits);
    QCOMPARE(ui.Text9->text(), inverted);
    QCOMPARE(ui.Text5->text(), value);
    QCOMPARE(ui.signal1->text(), value);
}

void TransactionTest::untrustedAnswerGivesNoValue_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("text7");
    QTest::addColumn<QString>("reason");
    const QByteArray good = FakeMeter::readAnswer(1, {0x0064});
    QTest::newRow("exception 01 83 02 C0 F1") << hex("01 83 02 C0 F1") << "01 83 02 C0 F1 "
                                              << "Exception 02: illegal data address";
    QTest::newRow("exception 0B") << FakeMeter::exceptionAnswer(1, 3, 0x0B) << bytesLine(FakeMeter::exceptionAnswer(1, 3, 0x0B))
                                  << "Exception 0B: gateway target device failed to respond";
    QTest::newRow("exception 07 has no name") << FakeMeter::exceptionAnswer(1, 3, 7) << bytesLine(FakeMeter::exceptionAnswer(1, 3, 7))
                                              << "Exception 07";
    QTest::newRow("bad CRC") << FakeMeter::badCrc(good) << "01 03 02 00 64 " << "CRC error";
    QTest::newRow("foreign slave 02") << FakeMeter::readAnswer(2, {0x0064}) << "02 03 02 00 64 "
                                      << "Answer from slave 2";
    QTest::newRow("wrong function 04") << FakeMeter::withCrc(hex("01 04 02 00 64")) << "01 04 02 00 64 "
                                       << "Wrong function code";
    QTest::newRow("wrong byte count 04") << FakeMeter::withCrc(hex("01 03 04 00 64 00 00"))
                                         << "01 03 04 00 64 " << "Wrong byte count";
    QTest::newRow("short: 01 03 02 00") << hex("01 03 02 00") << "01 03 02 00 " << "No answer within 0.2 s";
    QTest::newRow("extra bytes after the frame") << good + hex("00") << "01 03 02 00 64 " << "More than one frame";
    QTest::newRow("noise in front") << hex("FF") + good << "FF 01 03 02 00 " << "CRC error";
}

void TransactionTest::untrustedAnswerGivesNoValue()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, text7);
    QFETCH(QString, reason);
    Window w;
    openPort(w);
    w.fake->setRegisters(0, {0x00FA});
    read(w, "0000", "2"); // a good value first: it must not stay on screen
    QCOMPARE(w.ui().Text5->text(), QStringLiteral("250"));
    w.fake->queueReply({{answer, 0.05}});
    read(w, "0000", "2");
    const auto &ui = w.ui();
    QCOMPARE(ui.Text7->text(), text7);
    QCOMPARE(topLine(ui.Text3), text7);
    QVERIFY(ui.Text5->text().isEmpty());
    QVERIFY(ui.signal1->text().isEmpty());
    QVERIFY(ui.Text8->text().isEmpty());
    checkReason(w, reason);
}

void TransactionTest::noAnswerLeavesNoValue()
{
    Window w;
    openPort(w);
    w.fake->setRegisters(0, {0x00FA});
    read(w, "0000", "2");
    QCOMPARE(w.ui().signal1->text(), QStringLiteral("250"));
    const QString log = w.ui().Text3->text();
    w.fake->queueReply({});
    read(w, "0000", "2");
    QCOMPARE(w.ui().Text3->text(), log);
    QVERIFY(w.ui().Text5->text().isEmpty());
    QVERIFY(w.ui().signal1->text().isEmpty());
    checkReason(w, "No answer within 0.2 s");
    read(w, "0000", "2"); // a value shown clears the reason
    QCOMPARE(w.ui().signal1->text(), QStringLiteral("250"));
    checkReason(w, "");
}

void TransactionTest::lateAnswerIsNotDecodedAsTheNext()
{
    Window w;
    openPort(w);
    w.fake->setRegister(0x10, 0x1111);
    w.fake->setRegister(0x20, 0x2222);
    w.fake->setAnswerDelay(0.25); // answers after the 0.2 s wait
    QList<double> sentAt;
    w.clock.setDuringWait([&] { sentAt << w.clock.now(); });
    read(w, "0010", "2");
    QVERIFY(w.ui().Text5->text().isEmpty());
    w.fake->setAnswerDelay(0.02);
    read(w, "0020", "2"); // clicked at once: it waits until the late answer is in
    QCOMPARE(w.ui().Text7->text(), QStringLiteral("01 03 02 22 22 "));
    QCOMPARE(w.ui().Text5->text(), QStringLiteral("8738"));
    // The late answer has a log line of its own, below this request's answer.
    QCOMPARE(w.ui().Text3->text(), QStringLiteral("01 03 02 22 22 \r\n")
                                       + bytesLine(FakeMeter::readAnswer(1, {0x1111})) + "\r\n");
    QVERIFY(sentAt.last() - sentAt.first() >= 0.5);
}

void TransactionTest::requestNotSentForBadSlaveAddress()
{
    Window w;
    showActive(w);
    openPort(w);
    w.ui().Text1->setText("5");
    read(w, "0000", "2");
    QCOMPARE(w.fake->written().size(), 1);
    w.ui().Text1->setText("");
    read(w, "0000", "2");
    QCOMPARE(w.fake->written().size(), 1); // not sent with the previous slave 5
    QCOMPARE(w.ui().Text4->text().count("\r\n"), 1);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(w.ui().Text1));
    checkReason(w, "Not sent: slave address");
    w.ui().Text1->setText("256");
    read(w, "0000", "2");
    QCOMPARE(w.fake->written().size(), 1);
}

void TransactionTest::slaveAddressUpTo255()
{
    Window w;
    openPort(w);
    w.ui().Text1->setText("255");
    read(w, "0000", "2");
    QCOMPARE(w.fake->written().value(0), FakeMeter::withCrc(hex("FF 03 00 00 00 01")));
}

void TransactionTest::oneTransactionAtATime()
{
    Window w;
    openPort(w);
    w.fake->setRegister(0, 0x0064);
    int nested = 0;
    w.clock.setDuringWait([&] {
        ++nested;
        w.form->Command3_Click();
        w.form->Command2_Click();
        w.form->Timer2_Timer();
    });
    read(w, "0000", "2");
    QCOMPARE(nested, 1);
    QCOMPARE(w.fake->written().size(), 1);
    QCOMPARE(w.ui().Text5->text(), QStringLiteral("100"));
    QVERIFY(!w.form->busy());
}

void TransactionTest::clearAndPortButtonWorkDuringWait()
{
    Window w;
    openPort(w);
    w.fake->setRegister(0, 0x0064);
    read(w, "0000", "2");
    w.clock.setDuringWait([&] {
        w.form->Command4_Click();
        w.form->Command1_Click(); // closes the port inside the wait
    });
    read(w, "0000", "2");
    w.clock.setDuringWait({});
    QVERIFY(!w.fake->portOpen());
    QCOMPARE(w.ui().Command1->text(), QStringLiteral("OPEN"));
    QVERIFY(w.ui().Text4->text().isEmpty());
    QVERIFY(w.ui().Text5->text().isEmpty());
}

void TransactionTest::closedPortStillLogsAndWaits()
{
    Window w;
    const double before = w.clock.now();
    w.form->Command3_Click();
    QVERIFY(w.clock.now() - before >= 0.2);
    QCOMPARE(w.ui().Text4->text(), QStringLiteral("01,03,00,00,00,01,84,0A\r\n"));
    QVERIFY(w.fake->written().isEmpty());
    QVERIFY(w.ui().Text5->text().isEmpty());
}

void TransactionTest::writeSendsAndLogsEcho()
{
    Window w;
    openPort(w);
    w.fake->setRegister(0, 0);
    w.ui().Option2->setChecked(true);
    QCOMPARE(w.form->FunctionCode, 6);
    QVERIFY(w.ui().Command3->isHidden());
    QVERIFY(!w.ui().Command5->isHidden());
    QVERIFY(!w.ui().Text6->isHidden() && w.ui().Combo4->isHidden());
    w.ui().Text2->setText("0000");
    w.ui().Text6->setText("0001");
    w.form->Command5_Click();
    QCOMPARE(w.fake->written(), QList<QByteArray>{hex("01 06 00 00 00 01 48 0A")});
    QCOMPARE(w.form->ExpectedLength, 6);
    QCOMPARE(w.ui().Text7->text(), QStringLiteral("01 06 00 00 00 01 "));
    QCOMPARE(w.ui().Text3->text(), QStringLiteral("01 06 00 00 00 01 \r\n"));
    QVERIFY(w.ui().Text5->text().isEmpty());
    QCOMPARE(w.fake->registerValue(0), std::optional<quint16>(1));
    // The scan's read still goes out as 03H.
    w.form->Command3_Click();
    QCOMPARE(quint8(w.fake->written().value(1).at(1)), quint8(3));
    w.ui().Option1->setChecked(true);
    QCOMPARE(w.form->FunctionCode, 3);
    QVERIFY(!w.ui().Option2->isChecked());
    QVERIFY(!w.ui().Command3->isHidden() && w.ui().Command5->isHidden());
}

void TransactionTest::writeWithoutItsEchoShowsNoValue_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("reason");
    QTest::newRow("echo with another value") << hex("01 06 00 00 00 02 08 0B") << "Echo differs from the request";
    QTest::newRow("exception") << FakeMeter::exceptionAnswer(1, 6, 2) << "Exception 02: illegal data address";
    QTest::newRow("foreign slave") << FakeMeter::withCrc(hex("02 06 00 00 00 01")) << "Answer from slave 2";
}

void TransactionTest::writeWithoutItsEchoShowsNoValue()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, reason);
    Window w;
    openPort(w);
    w.fake->setRegister(0, 0xFFFF);
    read(w, "0000", "2"); // a value on screen first
    QCOMPARE(w.ui().Text8->text(), QString(16, '1'));
    w.ui().Option2->setChecked(true);
    w.ui().Text6->setText("0001");
    w.fake->queueReply({{answer, 0.05}});
    w.form->Command5_Click();
    for (const QString &text : {w.ui().Text5->text(), w.ui().Text8->text(), w.ui().Text9->text(), w.ui().signal1->text()})
        QVERIFY(text.isEmpty());
    checkReason(w, reason);
}

void TransactionTest::clearEmptiesLogs()
{
    Window w;
    openPort(w);
    w.fake->setRegister(0, 0x0064);
    read(w, "0000", "2");
    w.ui().Text12->prependLine("40001--0000--100--VOLT");
    w.form->Command4_Click();
    const auto &ui = w.ui();
    QVERIFY(ui.Text3->text().isEmpty());
    QVERIFY(ui.Text4->text().isEmpty());
    QVERIFY(ui.Text5->text().isEmpty());
    QVERIFY(ui.Text12->text().isEmpty());
    QCOMPARE(ui.Text7->text(), QStringLiteral("01 03 02 00 64 "));
    QVERIFY(w.fake->written().size() == 1); // sends nothing
}

void TransactionTest::logsKeepNewestOnTop()
{
    Window w;
    openPort(w);
    w.fake->setRegister(0, 1);
    w.fake->setRegister(1, 2);
    read(w, "0000", "2");
    read(w, "0001", "2");
    QCOMPARE(w.ui().Text4->text(),
             QStringLiteral("01,03,00,01,00,01,D5,CA\r\n01,03,00,00,00,01,84,0A\r\n"));
    QCOMPARE(w.ui().Text3->text(), QStringLiteral("01 03 02 00 02 \r\n01 03 02 00 01 \r\n"));
}

QTEST_MAIN(TransactionTest)
#include "tst_transaction.moc"
