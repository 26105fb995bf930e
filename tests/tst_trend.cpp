// The trend's readings: what a scan of hours or a week leaves of them, and
// what a view and a hover get back.
#include "timewindow.h"
#include "trenddata.h"

#include <QtTest>

using namespace movra;

namespace {
constexpr double Start = 1.7e9; // seconds since the epoch
constexpr int Columns = 1920;
constexpr double MiB = 1024.0 * 1024.0;
} // namespace

class TrendTest : public QObject {
    Q_OBJECT
private slots:
    void keptAndFolded_data();
    void keptAndFolded();
    void timeShown_data();
    void timeShown();
};

void TrendTest::keptAndFolded_data()
{
    QTest::addColumn<int>("registers");
    QTest::addColumn<double>("period");  // seconds between a register's readings
    QTest::addColumn<int>("readings");   // per register
    QTest::addColumn<int>("gapEvery");   // every n-th reading has no value; 0: none
    QTest::addColumn<double>("maxMiB");
    QTest::addColumn<bool>("stepsBack"); // the clock steps back each 5th reading

    QTest::newRow("ten minutes, every reading kept") << 2 << 2.7 << 222 << 0 << 1.0 << false;
    QTest::newRow("three hours, gaps, the first two folded") << 3 << 2.7 << 4000 << 7 << 2.0 << false;
    QTest::newRow("a week of 8 registers, 1.8 M readings") << 8 << 2.7 << 225000 << 97 << 32.0 << false;
    QTest::newRow("the clock steps back each 5th reading") << 1 << 2.0 << 3000 << 11 << 1.0 << true;
}

void TrendTest::keptAndFolded()
{
    QFETCH(int, registers);
    QFETCH(double, period);
    QFETCH(int, readings);
    QFETCH(int, gapEvery);
    QFETCH(double, maxMiB);
    QFETCH(bool, stepsBack);

    TrendData data(Columns);
    const Reason noAnswer{Reason::NoAnswer};
    double t = Start;
    for (int i = 0; i < readings; ++i) {
        t = Start + i * period - (stepsBack && i % 5 == 4 ? 10 * period : 0);
        for (int r = 0; r < registers; ++r) {
            const QString name = QStringLiteral("R%1").arg(r);
            if (gapEvery && i % gapEvery == gapEvery - 1)
                data.add(name, t, std::nullopt, noAnswer);
            else
                data.add(name, t, (i % 100) * (r + 1) + 0.5, {});
        }
    }
    QCOMPARE(data.names().size(), registers);
    QVERIFY2(data.bytes() < maxMiB * MiB, qPrintable(QString::number(data.bytes() / MiB) + " MiB"));

    const TrendSeries &s = *data.series(QStringLiteral("R0"));
    const double span = s.last() - s.first();
    const int gaps = gapEvery ? readings / gapEvery : 0;
    // The whole span on one screen: no reading lost, the range whole, a gap's reason kept.
    const std::vector<TrendSeries::Span> all = s.view(s.first(), s.last() + 1, Columns);
    QVERIFY(all.size() <= std::size_t(Columns));
    int values = 0, gapCount = 0;
    double lo = 1e300, hi = -1e300;
    std::optional<Reason> firstGap;
    for (const TrendSeries::Span &c : all) {
        values += c.values;
        gapCount += c.gaps;
        if (c.hasValue()) {
            lo = std::min(lo, c.min);
            hi = std::max(hi, c.max);
        }
        if (!firstGap && c.gap)
            firstGap = c.gap;
    }
    QCOMPARE(values + gapCount, readings);
    QCOMPARE(gapCount, gaps);
    QCOMPARE(lo, 0.5);
    QCOMPARE(hi, 99.5);
    QCOMPARE(firstGap.has_value(), gaps > 0);
    if (firstGap)
        QCOMPARE(firstGap->kind, Reason::NoAnswer);
    // Times never run back, though the clock did.
    for (std::size_t i = 1; i < all.size(); ++i)
        QVERIFY(all[i].at >= all[i - 1].at);

    // Zoomed in on the last minute: each reading on its own (those the clock
    // put back share the time before them).
    const std::vector<TrendSeries::Span> minute = s.view(s.last() - 60, s.last() + 1, Columns);
    QVERIFY(double(minute.size()) >= 0.75 * 60 / period);
    for (const TrendSeries::Span &c : minute)
        QVERIFY(c.values + c.gaps <= (stepsBack ? 2 : 1));
    // Hover: the reading nearest the time, a gap with its reason.
    const TrendSeries::Span &lastOne = minute.back();
    const std::optional<TrendSeries::Span> hovered = s.near(lastOne.at + period / 4, period / 2);
    QVERIFY(hovered);
    QCOMPARE(hovered->at, lastOne.at);
    QCOMPARE(hovered->hasValue(), lastOne.hasValue());
    QVERIFY(!s.near(s.last() + 3 * period, period / 2));
    if (span > 2 * TrendData::RecentSeconds)
        QVERIFY(s.near(s.first() + 1, period)); // an old bucket
}

// "zoom SHARE FACTOR" (the wheel at that share of the width), "pan SECONDS"
// (a drag back in time), "live" (a double-click); now is 1000 s.
void TrendTest::timeShown_data()
{
    QTest::addColumn<QString>("actions");
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<bool>("live");

    QTest::newRow("live: the last ten minutes") << "" << 400.0 << 1000.0 << true;
    QTest::newRow("the wheel keeps the time under the pointer") << "zoom 0.5 0.8" << 460.0 << 940.0 << false;
    QTest::newRow("a drag pans") << "zoom 0.5 0.8;pan 60" << 400.0 << 880.0 << false;
    QTest::newRow("zoomed in no further than 10 s") << "zoom 1 0.0001" << 990.0 << 1000.0 << false;
    QTest::newRow("a double-click follows live again") << "zoom 0.2 3;pan 5;live" << 400.0 << 1000.0 << true;
}

void TrendTest::timeShown()
{
    QFETCH(QString, actions);
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(bool, live);
    constexpr double Now = 1000;
    TimeWindow time;
    for (const QString &action : actions.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList w = action.split(QLatin1Char(' '));
        const auto [f, t] = time.range(Now);
        if (w[0] == QLatin1String("zoom"))
            time.zoom(f + w[1].toDouble() * (t - f), w[2].toDouble(), Now);
        else if (w[0] == QLatin1String("pan"))
            time.pan(w[1].toDouble(), Now);
        else
            time.goLive();
    }
    QCOMPARE(time.range(Now).first, from);
    QCOMPARE(time.range(Now).second, to);
    QCOMPARE(time.live(), live);
}

QTEST_GUILESS_MAIN(TrendTest)
#include "tst_trend.moc"
