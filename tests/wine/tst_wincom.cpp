// The Windows build's window under wine: COM1 is a pseudo-terminal with
// meter-sim on its Linux end (tests/wine/run starts both), real time. The
// expectations are the end-to-end ones of the Linux build.
#include "clock.h"
#include "form1.h"
#include "platform.h"
#include "scancheck.h"
#include "commport.h"
#include "language.h"
#include "trendcharts.h"
#include "trendwindow.h"
#include "widgets.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

using namespace movra;

namespace {

// The window on the real serial port, with the shipped files of `dir`.
struct Tool {
    SystemClock clock;
    std::unique_ptr<Form1> form;

    explicit Tool(const QString &dir)
    {
        Form1Environment env;
        env.exeDir = dir;
        env.langId = systemLangId();
        env.clock = &clock;
        env.makePort = [dir] { return makeSystemPort(dir); };
        env.quit = [] {};
        form = std::make_unique<Form1>(std::move(env));
    }
    const Form1Controls &ui() const { return form->controls(); }
    void open()
    {
        ui().Command1->click();
        QVERIFY(ui().Shape1->fillColor() == Lamp::Green);
        QCOMPARE(ui().Label12->text(), QStringLiteral("COM:1 Baud rate:9600  Protocol:N,8,1"));
    }
};

QString shipped()
{
    return qEnvironmentVariable("MOVRA_DIST");
}

} // namespace

class WineComTest : public QObject {
    Q_OBJECT
private slots:
    void connectShowsLiveValue();
    void readByHandLogsTheBytes();
    void scanListsValues();
    void typedComAboveTheList();
    void chineseSystem();
};

// meter-sim --model MV-100 --slave 1
void WineComTest::connectShowsLiveValue()
{
    Tool tool(shipped());
    tool.open();
    QCOMPARE(tool.ui().Combo7->currentText(), QStringLiteral("MV-100"));
    tool.ui().Command2->click();
    // Its last entry is the voltage, in 0.1 V, live.
    const int volts = tool.ui().signal1->text().toInt();
    QVERIFY2(volts > 2000 && volts < 2600, qPrintable(tool.ui().signal1->text()));
    QVERIFY(tool.ui().signal2->text().isEmpty());
}

// meter-sim --model MV-100 --slave 1
void WineComTest::readByHandLogsTheBytes()
{
    Tool tool(shipped());
    tool.open();
    const auto &ui = tool.ui();
    ui.Check1->setChecked(true);
    ui.Text1->setText("1");
    ui.Text2->setText("0100");
    ui.Combo4->setEditText("2");
    tool.ui().Command3->click();
    QCOMPARE(ui.Text4->text(), QStringLiteral("01,03,01,00,00,01,85,F6\r\n"));
    // Register 0100 holds the meter's own address.
    QCOMPARE(ui.Text7->text().left(15), QStringLiteral("01 03 02 00 01 "));
    QCOMPARE(ui.Text7->text().size(), 3 * 5); // the answer up to its data bytes
    QCOMPARE(ui.Text3->text(), ui.Text7->text() + "\r\n");
    QCOMPARE(ui.Text5->text(), QStringLiteral("1"));
    QCOMPARE(ui.signal1->text(), QStringLiteral("1"));
}

// meter-sim --model MV-210 --slave 1; the trend plots the scan: a strip for
// each of the model's 8 registers, lines in its pixels.
void WineComTest::scanListsValues()
{
    constexpr int ScanMs = 9000; // three passes of the model: lines, not lone points
    constexpr int MinLinePixels = 200;
    Tool tool(shipped());
    tool.open();
    const auto &ui = tool.ui();
    ui.Check1->setChecked(true);
    ui.Combo5->setCurrentIndex(ui.Combo5->findText("MV-210"));
    tool.form->findChild<QAction *>(QStringLiteral("trend"))->trigger();
    tool.ui().Command10->click();
    QTest::qWait(ScanMs);
    tool.ui().Command11->click();
    test::verifyScanOfMv210(ui);
    TrendWindow *trend = tool.form->trend();
    QVERIFY(trend);
    trend->redraw();
    QCOMPARE(trend->stripCount(), 8);
    const QImage picture = trend->picture().toImage();
    const QColor line = TrendStrip::lineColor();
    int linePixels = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QColor c = picture.pixelColor(x, y);
            // The line's blue, also where antialiasing blends it with the white.
            linePixels += c.blue() > c.red() + 60 && c.blue() > c.green() + 30 && c.blue() >= line.blue() - 40;
        }
    qInfo("the trend's line pixels: %d of %d", linePixels, int(picture.width() * picture.height()));
    QVERIFY2(linePixels >= MinLinePixels, qPrintable(QString::number(linePixels)));
}

// meter-sim --model MV-100 --slave 1, also on COM17: a number above the list,
// typed, opens as \\.\COM17.
void WineComTest::typedComAboveTheList()
{
    Tool tool(shipped());
    const auto &ui = tool.ui();
    ui.Combo1->setEditText("COM17");
    ui.Command1->click();
    QVERIFY(ui.Shape1->fillColor() == Lamp::Green);
    QCOMPARE(ui.Label12->text(), QStringLiteral("COM:17 Baud rate:9600  Protocol:N,8,1"));
    ui.Command2->click();
    const int volts = ui.signal1->text().toInt();
    QVERIFY2(volts > 2000 && volts < 2600, qPrintable(ui.signal1->text()));
}

// wine started under LANG=zh_TW.UTF-8: the system's language and ANSI code
// page are those of Taiwan, and a Big5 setup list reads right.
void WineComTest::chineseSystem()
{
    QCOMPARE(systemLangId(), std::uint16_t(0x0404));
    QCOMPARE(GetACP(), UINT(950));
    QTemporaryDir dir;
    QFile setup(dir.filePath("RTU_SETUP.TXT"));
    QVERIFY(setup.open(QIODevice::WriteOnly));
    setup.write("2\r\n\xB9\x71\xC0\xA3\xAA\xED\r\nMV-100\r\n"); // 電壓表 in Big5, then MV-100
    setup.close();
    Tool tool(dir.path());
    QCOMPARE(tool.ui().Combo7->itemText(0), QString::fromUtf8("電壓表"));
    QCOMPARE(tool.ui().Combo5->itemText(1), QStringLiteral("MV-100"));
    QCOMPARE(tool.ui().Command1->text(), QString::fromUtf8("開啟"));
    QCOMPARE(tool.ui().Command2->text(), QString::fromUtf8("連線"));
    // The installer asks the same system.
    SystemPlatform platform(dir.path());
    QCOMPARE(platform.languageId(), quint16(0x0404));
}

QTEST_MAIN(WineComTest)
#include "tst_wincom.moc"
