#pragma once
// The end-to-end rig: the real window, offscreen, with QtCommPort on a
// pseudo-terminal, meter-sim on the other end, real time.
#include "clock.h"
#include "form1.h"
#include "qtcommport.h"
#include "simline.h"
#include "widgets.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

namespace movra::e2e {

inline const QByteArray defaultTestModel =
    "4\r\n0100-2 ADDR\r\n0010-4 KWH\r\n0020-6 CNT\r\n0030-8 CNT\r\n";

// The tool's folder: the line's folder with the shipped setup list and
// models, and `model` as item/TEST.TXT.
inline void shipData(const QString &dir, const QByteArray &model)
{
    const QDir bin(SimulatedLine::binDir());
    QDir(dir).mkpath(QStringLiteral("item"));
    QFile::copy(bin.filePath("RTU_SETUP.TXT"), dir + "/RTU_SETUP.TXT");
    for (const QString &name : QDir(bin.filePath("item")).entryList({"*.TXT"}, QDir::Files))
        QFile::copy(bin.filePath("item/" + name), dir + "/item/" + name);
    QFile test(dir + "/item/TEST.TXT");
    test.open(QIODevice::WriteOnly);
    test.write(model);
}

struct Rig {
    SimulatedLine line;
    SystemClock clock;
    std::unique_ptr<Form1> form;
    std::uint16_t langId = 0x0409;
    // meter-sim on a pseudo-terminal of its own: it hears the tool's baud
    // rate and parity and answers only at its own.
    bool ownPty = false;
    int quits = 0; // the window asked the program to end

    // "TEST" in the simulator's arguments stands for the test model's file.
    QStringList simulatorArgs(QStringList simArgs) const
    {
        simArgs.replaceInStrings(QRegularExpression("^TEST$"), line.dir() + "/item/TEST.TXT");
        return simArgs;
    }
    bool start(const QStringList &simArgs, const QByteArray &model = defaultTestModel)
    {
        shipData(line.dir(), model);
        const QStringList args = simulatorArgs(simArgs);
        if (!(ownPty ? line.startOwnPty(args) : line.start(args)))
            return false;
        Form1Environment env;
        env.exeDir = line.dir();
        env.langId = langId;
        env.clock = &clock;
        const QString dir = line.dir();
        env.makePort = [dir] { return std::make_unique<QtCommPort>(dir); };
        env.quit = [this] { ++quits; };
        form = std::make_unique<Form1>(std::move(env));
        return true;
    }
    const Form1Controls &ui() const { return form->controls(); }
    void open()
    {
        ui().Command1->click();
        QVERIFY(ui().Shape1->fillColor() == Lamp::Green);
    }
    // Connect's "Find the meter": returns when the search has ended, with
    // its time in ms; -1 when the window has no such item.
    qint64 findMeter()
    {
        auto *find = form->findChild<QAction *>(QStringLiteral("findMeter"));
        if (!find)
            return -1;
        QElapsedTimer clock;
        clock.start();
        find->trigger();
        return clock.elapsed();
    }
    void read(const QString &reg, const QString &length)
    {
        ui().Text2->setText(reg);
        ui().Combo4->setEditText(length);
        ui().Command3->click();
    }
};

} // namespace movra::e2e

#define START_RIG(rig, ...)                                                                        \
    do {                                                                                           \
        if (!movra::SimulatedLine::missingTools().isEmpty())                                       \
            QFAIL(qPrintable("missing: " + movra::SimulatedLine::missingTools()));                 \
        QVERIFY2((rig).start(__VA_ARGS__), qPrintable((rig).line.errorString()));                  \
    } while (0)
