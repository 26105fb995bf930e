// Start-up of the operator window: lists, defaults, the setup list, captions.
#include "captions.h"
#include "form1fixture.h"
#include "qtcommport.h"
#include "language.h"
#include "widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using namespace movra;
using movra::test::Window;
using movra::test::items;
using movra::test::padded;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}


} // namespace

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void fixedLists();
    void readState();
    void setupList_data();
    void setupList();
    void languages_data();
    void languages();
    void langIdOfLocale_data();
    void langIdOfLocale();
    void focusOnPortListWhenActive();
    void windowFrame();
    void slaveAddressTakesThreeDigits();
    void portTips_data();
    void portTips();
    void lampTipWhenThePortCannotTell();
};

void StartupTest::fixedLists()
{
    Window w;
    const auto &ui = w.ui();
    QStringList ports;
    for (int n = 1; n <= 15; ++n)
        ports << QStringLiteral("COM%1").arg(n);
    QCOMPARE(items(ui.Combo1), ports);
    QCOMPARE(ui.Combo1->currentText(), QStringLiteral("COM1"));
    QCOMPARE(items(ui.Combo2), (QStringList{"19200", "9600", "4800", "2400"}));
    QCOMPARE(ui.Combo2->currentText(), QStringLiteral("9600"));
    QCOMPARE(items(ui.Combo3), (QStringList{"N,8,1", "O,8,1", "E,8,1"}));
    QCOMPARE(ui.Combo3->currentText(), QStringLiteral("N,8,1"));
    QCOMPARE(items(ui.Combo4), (QStringList{"2", "4", "6", "8"}));
    QCOMPARE(ui.Combo4->currentText(), QStringLiteral("2"));
    QStringList addresses;
    for (int n = 1; n <= 15; ++n)
        addresses << QString::number(n);
    QCOMPARE(items(ui.Combo6), addresses);
    QCOMPARE(ui.Combo6->currentIndex(), 0);
}

void StartupTest::readState()
{
    Window w;
    const auto &ui = w.ui();
    QVERIFY(ui.Option1->isChecked());
    QVERIFY(!ui.Option2->isChecked());
    QVERIFY(!ui.Command3->isHidden());
    QVERIFY(ui.Command5->isHidden());
    QVERIFY(!ui.Combo4->isHidden());
    QVERIFY(!ui.Label9->isHidden());
    QVERIFY(ui.Label11->isHidden());
    QVERIFY(ui.Text6->isHidden());
    QVERIFY(ui.Option2->isHidden());
    QVERIFY(!ui.Command3->isEnabled());
    QVERIFY(!ui.Command5->isEnabled());
    QCOMPARE(ui.Shape1->fillColor(), 255);
    QVERIFY(!ui.Timer2->isActive());
    QVERIFY(ui.Label12->text().isEmpty());
    QVERIFY(!w.fake->portOpen());
}

void StartupTest::setupList_data()
{
    QTest::addColumn<QByteArray>("file"); // empty: no setup file
    QTest::addColumn<QStringList>("names");
    QTest::newRow("no setup file") << QByteArray() << QStringList();
    QTest::newRow("3 names") << QByteArray("3\r\nA\r\nB\r\nC\r\n") << QStringList{"A", "B", "C"};
    QByteArray many = "25\r\n";
    QStringList first18;
    for (int i = 1; i <= 25; ++i) {
        many += "M" + QByteArray::number(i) + "\r\n";
        if (i <= 18)
            first18 << QStringLiteral("M%1").arg(i);
    }
    QTest::newRow("25 names show the first 18") << many << first18;
    QTest::newRow("N = 5 with 2 names") << QByteArray("5\r\nA\r\nB\r\n") << QStringList{"A", "B"};
    QTest::newRow("'3 models' reads 3") << QByteArray("3 models\r\nA\r\nB\r\nC\r\nD\r\n")
                                        << QStringList{"A", "B", "C"};
    QTest::newRow("'x3' reads 0") << QByteArray("x3\r\nA\r\nB\r\nC\r\n") << QStringList();
    QTest::newRow("'2.5' reads 2") << QByteArray("2.5\r\nA\r\nB\r\nC\r\n") << QStringList{"A", "B"};
    QTest::newRow("'3.5' reads 4") << QByteArray("3.5\r\nA\r\nB\r\nC\r\nD\r\nE\r\n")
                                   << QStringList{"A", "B", "C", "D"};
    QTest::newRow("blanks around a name are kept") << QByteArray("2\r\n MV-100 \r\n\r\n")
                                                   << QStringList{" MV-100 ", ""};
    QTest::newRow("Linux line ends") << QByteArray("2\nA\nB\n") << QStringList{"A", "B"};
}

void StartupTest::setupList()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, names);
    QTemporaryDir dir;
    if (!file.isEmpty())
        writeFile(dir.filePath("RTU_SETUP.TXT"), file);
    Window w(0x0409, dir.path());
    const auto &ui = w.ui();
    QCOMPARE(items(ui.Combo7), padded(names));
    QCOMPARE(items(ui.Combo5), padded(names));
    QCOMPARE(ui.Combo7->currentIndex(), 0);
    QCOMPARE(ui.Combo5->currentIndex(), 0);
    QCOMPARE(ui.Combo7->currentText(), names.value(0));
}

void StartupTest::languages_data()
{
    QTest::addColumn<int>("langId");
    QTest::addColumn<bool>("chinese");
    QTest::newRow("0x0404 Chinese (Taiwan)") << 0x0404 << true;
    QTest::newRow("0x0409 English (US)") << 0x0409 << false;
    QTest::newRow("0x0804 Chinese (PRC) stays English") << 0x0804 << false;
    QTest::newRow("0x0C04 Chinese (Hong Kong) stays English") << 0x0C04 << false;
    QTest::newRow("0x1004 Chinese (Singapore) stays English") << 0x1004 << false;
}

void StartupTest::languages()
{
    QFETCH(int, langId);
    QFETCH(bool, chinese);
    Window w(static_cast<std::uint16_t>(langId));
    const auto &ui = w.ui();
    QCOMPARE(ui.Command1->text(), chinese ? QStringLiteral("開啟") : QStringLiteral("Open"));
    QCOMPARE(ui.Label13->text(), chinese ? QStringLiteral("儀表型號") : QStringLiteral("Model"));
    QCOMPARE((chinese ? chineseTable() : englishTable()).connectHint,
             chinese ? QStringLiteral("1.確認通訊鮑率/協定正確性!\r\n2.確認型號或位址是否錯誤!")
                     : QStringLiteral("1. Confirm the baud rate / protocol!\r\n"
                                      "2. Confirm the model or address !"));
    QCOMPARE(w.form->windowTitle(), QStringLiteral("Movra Modbus RTU_V3(40001)"));
}

void StartupTest::langIdOfLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("langId");
    QTest::newRow("zh_TW.UTF-8") << "zh_TW.UTF-8" << 0x0404;
    QTest::newRow("zh_CN") << "zh_CN" << 0x0804;
    QTest::newRow("zh_HK") << "zh_HK" << 0x0C04;
    QTest::newRow("zh_SG") << "zh_SG" << 0x1004;
    QTest::newRow("zh_MO") << "zh_MO" << 0x1404;
    QTest::newRow("en_US") << "en_US" << 0x0409;
    QTest::newRow("fr_FR") << "fr_FR" << 0x040C;
    QTest::newRow("sv_SE") << "sv_SE" << 0x041D;
    QTest::newRow("C falls back to 0x0409") << "C" << 0x0409;
}

void StartupTest::langIdOfLocale()
{
    QFETCH(QString, locale);
    QFETCH(int, langId);
    QCOMPARE(int(langIdForLocaleName(locale)), langId);
}

void StartupTest::focusOnPortListWhenActive()
{
    Window w;
    w.form->show();
    w.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(w.ui().Combo1));
}

void StartupTest::windowFrame()
{
    Window w;
    QCOMPARE(w.form->size(), QSize(790, 222));
    QCOMPARE(w.form->minimumSize(), w.form->maximumSize());
    const Qt::WindowFlags flags = w.form->windowFlags();
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(!w.form->windowIcon().isNull());
    QVERIFY(w.fake);
    QCOMPARE(w.fake->objectName(), QStringLiteral("MSComm1"));
}

void StartupTest::slaveAddressTakesThreeDigits()
{
    Window w;
    QLineEdit *text1 = w.ui().Text1;
    text1->clear();
    QTest::keyClicks(text1, "2550");
    QCOMPARE(text1->text(), QStringLiteral("255"));
    text1->clear();
    QTest::keyClicks(text1, "1x2");
    QCOMPARE(text1->text(), QStringLiteral("12"));
    QLineEdit *text2 = w.ui().Text2;
    text2->clear();
    QTest::keyClicks(text2, "0g1fA9");
    QCOMPARE(text2->text(), QStringLiteral("01fA"));
}


// Where a port list item goes, and what the lamp says after an open, on the
// real serial port: <dir> is the executable's folder, <pty> a pseudo-terminal.
void StartupTest::portTips_data()
{
    QTest::addColumn<int>("langId");
    QTest::addColumn<QString>("target"); // what COMn beside the executable is
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("itemTip");
    QTest::addColumn<QString>("lampTip"); // empty: not opened
    QTest::newRow("link to a pty") << 0x0409 << "pty" << 1 << "COM1 → <pty>\npseudo-terminal"
                                   << "COM1 → <pty>: open";
    QTest::newRow("link to a pty another program holds")
        << 0x0409 << "held pty" << 1 << "COM1 → <pty>\npseudo-terminal"
        << "COM1 → <pty>: in use by another program";
    QTest::newRow("no link, /dev/ttyS14 missing") << 0x0409 << "" << 15
                                                  << "COM15 → /dev/ttyS14\nnot present" << "";
    QTest::newRow("link that leads nowhere")
        << 0x0409 << "gone" << 2 << "COM2 → <dir>/gone\nnot present"
        << "COM2 → <dir>/gone: no such device, the link leads nowhere";
    QTest::newRow("link that leads nowhere, Chinese")
        << 0x0404 << "gone" << 2 << "COM2 → <dir>/gone\n不存在"
        << "COM2 → <dir>/gone:沒有這個裝置,連結指向不存在的路徑";
    QTest::newRow("link to a plain file") << 0x0409 << "plain" << 3
                                          << "COM3 → <dir>/plain\nnot a serial device"
                                          << "COM3 → <dir>/plain: not a serial device";
}

void StartupTest::portTips()
{
    QFETCH(int, langId);
    QFETCH(QString, target);
    QFETCH(int, port);
    QFETCH(QString, itemTip);
    QFETCH(QString, lampTip);
    QTemporaryDir tmp;
    const QString dir = QFileInfo(tmp.path()).canonicalFilePath();
    int master = -1;
    QString pty;
    QSerialPort holder;
    if (target.endsWith("pty")) {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
        pty = QString::fromLocal8Bit(ptsname(master));
        QVERIFY(QFile::link(pty, dir + "/COM1"));
        holder.setPortName(pty);
        if (target == "held pty")
            QVERIFY(holder.open(QIODevice::ReadWrite));
    } else if (!target.isEmpty()) {
        if (target == "plain")
            writeFile(dir + "/plain", "not a tty");
        QVERIFY(QFile::link(dir + "/" + target, dir + QStringLiteral("/COM%1").arg(port)));
    }
    for (QString *text : {&itemTip, &lampTip})
        text->replace("<dir>", dir).replace("<pty>", pty);

    VirtualClock clock;
    Form1Environment env;
    env.exeDir = dir;
    env.langId = std::uint16_t(langId);
    env.clock = &clock;
    env.makePort = [dir] { return std::make_unique<QtCommPort>(dir); };
    env.quit = [] {};
    Form1 form(std::move(env));
    const auto &ui = form.controls();

    // The tips are made when the list drops down.
    ui.Combo1->showPopup();
    QCOMPARE(ui.Combo1->itemData(port - 1, Qt::ToolTipRole).toString(), itemTip);
    ui.Combo1->hidePopup();

    if (!lampTip.isEmpty()) {
        ui.Combo1->setCurrentIndex(port - 1);
        ui.Command1->click();
        QCOMPARE(ui.Shape1->toolTip(), lampTip);
        QCOMPARE(ui.Shape1->accessibleDescription(), lampTip);
    }
    if (target == "pty") {
        QCOMPARE(ui.Shape1->fillColor(), Lamp::Green);
        ::close(master);
        QTRY_COMPARE(ui.Shape1->toolTip(), "COM1 → " + pty + ": the link was lost");
        QCOMPARE(ui.Shape1->fillColor(), Lamp::Red);
    } else if (master >= 0) {
        ::close(master);
    }
}

// A port that gives no reason still gets no "open" on a failed open.
void StartupTest::lampTipWhenThePortCannotTell()
{
    Window w;
    w.fake->setOpenFails(true);
    w.ui().Command1->click();
    QCOMPARE(w.ui().Shape1->toolTip(), QStringLiteral("COM1: cannot open"));
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
