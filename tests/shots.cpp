// Screenshots of the window for docs/: each language at the operator height,
// after Connect (a value and the hint), and in engineer mode after a read and
// a few seconds of scanning, all against meter-sim on a pseudo-terminal; and
// the trend of a scan with a fault every 13th answer.
//   movra-shots OUTPUT_DIR [trend]
#include "e2erig.h"
#include "trendwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTest>
#include <cstdio>

using namespace movra;

namespace {

bool save(QWidget *w, const QString &path)
{
    QTest::qWait(100);
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

bool shoot(const QString &out, const QString &lang, std::uint16_t langId)
{
    e2e::Rig rig;
    rig.langId = langId;
    if (!rig.start({"--model", "MV-210", "--slave", "1"})) {
        std::fprintf(stderr, "%s\n", qPrintable(rig.line.errorString()));
        return false;
    }
    Form1 &form = *rig.form;
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return false;
    const auto &ui = form.controls();
    bool ok = save(&form, out + "/start-" + lang + ".png");

    ui.Combo7->setCurrentIndex(ui.Combo7->findText("MV-210"));
    ui.Command1->click();
    ui.Command2->click();
    ok &= save(&form, out + "/connect-" + lang + ".png");
    ui.Combo6->setCurrentIndex(4);
    ui.Command2->click();
    ok &= save(&form, out + "/hint-" + lang + ".png");
    ui.Combo6->setCurrentIndex(0);
    ui.Command2->click();

    ui.Check1->setChecked(true);
    ui.Text2->setText("0010");
    ui.Combo4->setCurrentIndex(1);
    ui.Command3->click();
    ok &= save(&form, out + "/engineer-" + lang + ".png");
    ui.Combo5->setCurrentIndex(ui.Combo5->findText("MV-210"));
    ui.Command10->click();
    QTest::qWait(2500);
    ok &= save(&form, out + "/scan-" + lang + ".png");
    ui.Command11->click();
    return ok;
}

// The trend of a minute's scan, zoomed to that minute, the pointer at 2/3 of it.
bool shootTrend(const QString &out, const QString &lang, std::uint16_t langId)
{
    constexpr int ScanMs = 60000;
    constexpr double ZoomSteps = 10.3; // ten minutes to one
    constexpr double HoverAt = 0.66;
    e2e::Rig rig;
    rig.langId = langId;
    if (!rig.start({"--model", "MV-210", "--slave", "1", "--bad-crc", "--fault-every", "13"}))
        return false;
    Form1 &form = *rig.form;
    form.show();
    const auto &ui = form.controls();
    ui.Command1->click();
    ui.Check1->setChecked(true);
    ui.Combo5->setCurrentIndex(ui.Combo5->findText("MV-210"));
    ui.Command10->click();
    form.findChild<QAction *>(QStringLiteral("trend"))->trigger();
    QTest::qWait(ScanMs);
    ui.Command11->click();
    TrendWindow *trend = form.trend();
    trend->zoomAt(1.0, ZoomSteps);
    trend->redraw();
    trend->hover(HoverAt);
    return save(trend, out + "/trend-" + lang + ".png");
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QDir().mkpath(out);
    if (argc > 2 && QString::fromLocal8Bit(argv[2]) == QLatin1String("trend"))
        return shootTrend(out, "en", 0x0409) && shootTrend(out, "zh", 0x0404) ? 0 : 1;
    const bool ok = shoot(out, "en", 0x0409) && shoot(out, "zh", 0x0404) && shootTrend(out, "en", 0x0409)
                    && shootTrend(out, "zh", 0x0404);
    return ok ? 0 : 1;
}
