// The port panel, the transaction cycle and the manual read/write panel,
// against a scripted meter on virtual time.
#include "form1fixture.h"
#include "records.h"
#include "widgets.h"

#include <QAction>
#include <QApplication>
#include <QRegularExpression>
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
    w.ui().Command1->click();
    QVERIFY(w.fake->portOpen());
}

// The manual read of `length` bytes at register `reg`, answered as scripted.
void read(Window &w, const QString &reg, const QString &length)
{
    w.ui().Text2->setText(reg);
    w.ui().Combo4->setEditText(length);
    w.ui().Command3->click();
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

    void readShowsValue_data();
    void readShowsValue();
    void noAnswerLeavesNoValue();
    void lateAnswerIsNotDecodedAsTheNext();
    void requestNotSentForBadSlaveAddress();
    void oneTransactionAtATime();
    void clearAndPortButtonWorkDuringWait();
    void writeSendsAndLogsEcho();
    void clearEmptiesLogs();
    void logsKeepNewestOnTop();
    void recordsEveryRequest_data();
    void recordsEveryRequest();
};

void TransactionTest::openShowsPortAndSettings()
{
    Window w;
    const auto &ui = w.ui();
    ui.Combo1->setCurrentIndex(2);
    ui.Combo2->setCurrentIndex(0);
    ui.Combo3->setCurrentIndex(2);
    w.ui().Command1->click();
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
    w.ui().Command1->click();
    QVERIFY(!w.fake->portOpen());
    QCOMPARE(ui.Command1->text(), QStringLiteral("Open"));
    QCOMPARE(ui.Command1->property("tag").toString(), QStringLiteral("0"));
    QVERIFY(ui.Label12->text().isEmpty());
    QCOMPARE(ui.Shape1->fillColor(), 255);
    QVERIFY(!ui.Command3->isEnabled());
    QVERIFY(ui.Combo1->isEnabled());
    // A click after a failed open tries again.
    w.fake->setOpenFails(false);
    w.ui().Command1->click();
    QVERIFY(w.fake->portOpen());
}

void TransactionTest::closeReturnsToClosedState()
{
    Window w;
    const auto &ui = w.ui();
    showActive(w);
    openPort(w);
    w.ui().Command1->click();
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
    w.ui().Command1->click();
    QCOMPARE(w.ui().Command1->text(), QStringLiteral("OPEN"));
}

void TransactionTest::exits()
{
    Window w;
    openPort(w);
    w.ui().Command12->click();
    QCOMPARE(w.quits, 1);
    QVERIFY(w.fake->portOpen()); // released as the program ends
    w.ui().Command6->click();
    QCOMPARE(w.quits, 2);
    QVERIFY(!w.fake->portOpen());
    w.ui().Command6->click(); // closing a closed port ends all the same
    QCOMPARE(w.quits, 3);
}

void TransactionTest::lostLinkShowsClosedPort()
{
    Window w;
    const auto &ui = w.ui();
    showActive(w);
    openPort(w);
    ui.Command2->setFocus();
    w.fake->loseLink();
    // The operator did not close it: the focus stays where it was.
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(ui.Command2));
    QVERIFY(ui.Combo1->isEnabled());
    QCOMPARE(ui.Shape1->fillColor(), 255);
    QCOMPARE(ui.Command1->text(), QStringLiteral("OPEN"));
    QVERIFY(ui.Label12->text().isEmpty());
    QVERIFY(!ui.Command3->isEnabled());
    // With the link back, the operator opens the port again.
    w.fake->restoreLink();
    w.ui().Command1->click();
    QVERIFY(w.fake->portOpen());
    QCOMPARE(ui.Shape1->fillColor(), 65280);
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
    // The status line's tip counts the request, in words and for screen readers.
    QVERIFY2(ui.Label12->toolTip().contains("\n1 request, 1 with a value (100.0 %)\n"), qPrintable(ui.Label12->toolTip()));
    QCOMPARE(ui.Label12->accessibleDescription(), ui.Label12->toolTip());
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
    w.clock.advance(1);
    read(w, "0000", "2"); // a value shown replaces the reason
    QCOMPARE(w.ui().signal1->text(), QStringLiteral("250"));
    QVERIFY(w.ui().Text5->toolTip().startsWith(QStringLiteral("Answer in ")));
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
    QVERIFY(sentAt.last() >= 0.5); // this wait's moment: after a send 0.5 s after the first
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

void TransactionTest::oneTransactionAtATime()
{
    Window w;
    openPort(w);
    w.fake->setRegister(0, 0x0064);
    int nested = 0;
    w.clock.setDuringWait([&] {
        ++nested;
        w.ui().Command3->click();
        w.ui().Command2->click();
        movra::test::tick(w.ui().Timer2);
    });
    read(w, "0000", "2");
    QCOMPARE(nested, 1);
    QCOMPARE(w.fake->written().size(), 1);
    QCOMPARE(w.ui().Text5->text(), QStringLiteral("100"));
    read(w, "0000", "2"); // and the line is free again
    QCOMPARE(w.fake->written().size(), 2);
}

void TransactionTest::clearAndPortButtonWorkDuringWait()
{
    Window w;
    openPort(w);
    w.fake->setRegister(0, 0x0064);
    read(w, "0000", "2");
    w.clock.setDuringWait([&] {
        w.ui().Command4->click();
        w.ui().Command1->click(); // closes the port inside the wait
    });
    read(w, "0000", "2");
    w.clock.setDuringWait({});
    QVERIFY(!w.fake->portOpen());
    QCOMPARE(w.ui().Command1->text(), QStringLiteral("OPEN"));
    QVERIFY(w.ui().Text4->text().isEmpty());
    QVERIFY(w.ui().Text5->text().isEmpty());
}

void TransactionTest::writeSendsAndLogsEcho()
{
    Window w;
    openPort(w);
    w.fake->setRegister(0, 0);
    w.ui().Option2->setChecked(true);
    QVERIFY(w.ui().Command3->isHidden());
    QVERIFY(!w.ui().Command5->isHidden());
    QVERIFY(!w.ui().Text6->isHidden() && w.ui().Combo4->isHidden());
    w.ui().Text2->setText("0000");
    w.ui().Text6->setText("0001");
    w.ui().Command5->click();
    QCOMPARE(w.fake->written(), QList<QByteArray>{hex("01 06 00 00 00 01 48 0A")});
    QCOMPARE(w.ui().Text7->text(), QStringLiteral("01 06 00 00 00 01 "));
    QCOMPARE(w.ui().Text3->text(), QStringLiteral("01 06 00 00 00 01 \r\n"));
    QVERIFY(w.ui().Text5->text().isEmpty());
    QCOMPARE(w.fake->registerValue(0), std::optional<quint16>(1));
    w.ui().Option1->setChecked(true);
    QVERIFY(!w.ui().Option2->isChecked());
    QVERIFY(!w.ui().Command3->isHidden() && w.ui().Command5->isHidden());
}

void TransactionTest::clearEmptiesLogs()
{
    Window w;
    openPort(w);
    w.fake->setRegister(0, 0x0064);
    read(w, "0000", "2");
    w.ui().Text12->prependLine("40001--0000--100--VOLT");
    w.ui().Command4->click();
    const auto &ui = w.ui();
    QVERIFY(ui.Text3->text().isEmpty());
    QVERIFY(ui.Text4->text().isEmpty());
    QVERIFY(ui.Text5->text().isEmpty());
    QVERIFY(ui.Text5->toolTip().isEmpty()); // no "Answer in 20 ms" over an empty box
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

// Steps: "record" (the menu item), "read REG", "silent" (the next request
// gets no answer), "slave X", "rmdir".
void TransactionTest::recordsEveryRequest_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("rows"); // sender, register, value, reason, request bytes
    QTest::addColumn<QString>("mark");     // the recording's mark
    const QString read1 = "manual|0001|100|Answer in 20 ms|01 03 00 01 00 01 D5 CA";
    QTest::newRow("read, no answer, not sent: a row each")
        << QStringList{"record", "read 0001", "silent", "read 0001", "slave 300", "read 0001"}
        << QStringList{read1, "manual|0001||No answer within 0.2 s|01 03 00 01 00 01 D5 CA",
                       "manual|||Not sent: slave address|"}
        << "● REC";
    QTest::newRow("off again: later requests not recorded")
        << QStringList{"record", "read 0001", "record", "read 0001"} << QStringList{read1} << "";
    QTest::newRow("the folder removed: the reason shows")
        << QStringList{"record", "read 0001", "rmdir", "read 0001"} << QStringList{}
        << "Recording stopped:\nthe file or its folder is gone";
}

void TransactionTest::recordsEveryRequest()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, rows);
    QFETCH(QString, mark);
    Window w;
    openPort(w);
    w.fake->setRegister(1, 100);
    auto *recordAction = w.form->findChild<QAction *>("recordToFile");
    const auto *shown = w.form->findChild<QLabel *>("recordingMark");
    const QString folder = recordsFolder(w.dirPath);
    const auto written = [] { QTest::qWait(Recorder::FlushMs + 100); }; // the rows so far are on disk
    for (const QString &step : steps) {
        if (step == "record")
            recordAction->trigger();
        else if (step.startsWith("read "))
            read(w, step.mid(5), "2");
        else if (step == "silent")
            w.fake->queueReply({});
        else if (step.startsWith("slave "))
            w.ui().Text1->setText(step.mid(6));
        else if (step == "rmdir") {
            written();
            QVERIFY(QDir(folder).removeRecursively() && !QDir(folder).exists());
        }
    }
    written();
    QCOMPARE(shown->isHidden() ? QString() : shown->text(), mark);
    QCOMPARE(recordAction->isChecked(), mark == "● REC");
    QCOMPARE(w.ui().Text4->lineCount(), steps.filter("read").size() - steps.contains("slave 300"));
    const QStringList files = QDir(folder).entryList({"*.csv"}, QDir::Files | QDir::NoSymLinks);
    QCOMPARE(files.size(), rows.isEmpty() ? 0 : 1);
    QStringList found;
    if (!files.isEmpty()) {
        QFile file(QDir(folder).filePath(files.first()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.takeFirst(), "\xEF\xBB\xBF" + csvHeader().chopped(1));
        for (const QByteArray &line : lines.mid(0, lines.size() - 1)) {
            const QStringList f = QString::fromUtf8(line.chopped(1)).split(QRegularExpression(",(?=(?:[^\"]*\"[^\"]*\")*[^\"]*$)"));
            QCOMPARE(f.value(2), QStringLiteral("COM1"));
            found << QStringList{f.value(1), f.value(7), f.value(10), f.value(11), f.value(13)}.join('|');
        }
    }
    QCOMPARE(found, rows);
}

QTEST_MAIN(TransactionTest)
#include "tst_transaction.moc"
