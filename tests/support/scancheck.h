#pragma once
// A scan of meter-sim's MV-210 as the window lists it, checked the same way
// on Linux and under wine.
#include "controls.h"
#include "widgets.h"

#include <QRegularExpression>
#include <QTest>

namespace movra::test {

// One line a request, "4000N--AAAA--value--NAME" with N the address + 1,
// BAUD 9600, PF negative, the file's first entry first.
inline void verifyScanOfMv210(const Form1Controls &ui)
{
    QStringList lines = ui.Text12->text().split(QStringLiteral("\r\n"));
    lines.removeLast();
    const int readings = ui.Text4->text().count(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), readings);
    QVERIFY2(readings >= 5, qPrintable(QString::number(readings)));
    static const QRegularExpression shape(QStringLiteral("^(4\\d{4})--([0-9A-F]{4})--(-?\\d+)--([A-Z-]+)$"));
    for (const QString &line : lines) {
        const auto m = shape.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        QCOMPARE(m.captured(1).toInt(), 40001 + m.captured(2).toInt(nullptr, 16));
        if (m.captured(4) == QLatin1String("BAUD"))
            QCOMPARE(m.captured(3), QStringLiteral("9600"));
        if (m.captured(4) == QLatin1String("PF"))
            QVERIFY(m.captured(3).toInt() < 0);
    }
    QVERIFY(lines.last().startsWith(QStringLiteral("40002--0001--")));
}

} // namespace movra::test
