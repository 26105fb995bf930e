#pragma once
// A Form1 on a scripted meter and virtual time, in a folder of its own.
#include "clock.h"
#include "fakemeter.h"
#include "form1.h"
#include "testkit.h"
#include "widgets.h"

#include <QDir>
#include <QComboBox>
#include <QPushButton>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <utility>

namespace movra::test {

// Files written below the window's folder before it starts: {"item/M.TXT", bytes}.
using Files = QList<std::pair<QString, QByteArray>>;

struct Window {
    // `realTime`: the window and the meter run on the system clock (benchmarks)
    // instead of `clock`.
    explicit Window(std::uint16_t langId = 0x0409, QString exeDir = {}, const Files &files = {},
                    bool realTime = false)
        : dirPath(exeDir.isEmpty() ? dir.path() : exeDir)
    {
        for (const auto &[relative, bytes] : files) {
            if (!writeFileBelow(dirPath, relative, bytes))
                qFatal("cannot write %s", qPrintable(relative));
        }
        Clock *time = realTime ? static_cast<Clock *>(&systemClock) : &clock;
        Form1Environment env;
        env.exeDir = dirPath;
        env.langId = langId;
        env.clock = time;
        env.makePort = [this, time] {
            auto meter = std::make_unique<FakeMeter>(*time);
            fake = meter.get();
            return meter;
        };
        env.quit = [this] { ++quits; };
        env.dataDir = QDir(dirPath).filePath(QStringLiteral("user"));
        env.askSavePath = [this](QWidget *, const QString &) { return savePath; };
        form = std::make_unique<Form1>(std::move(env));
    }

    const Form1Controls &ui() const { return form->controls(); }

    // Writes a file below the executable's folder ("item/X.TXT").
    void writeFile(const QString &relative, const QByteArray &bytes) const
    {
        if (!writeFileBelow(dirPath, relative, bytes))
            QFAIL("cannot write a test file");
    }

    QTemporaryDir dir;
    QString dirPath;
    VirtualClock clock;
    SystemClock systemClock;
    FakeMeter *fake = nullptr;
    int quits = 0;
    QString savePath; // where "Save as" saves
    std::unique_ptr<Form1> form;
};

// A window whose setup list names models "M" (item/M.TXT, the given file) and
// "N" (no file).
struct ModelWindow : Window {
    explicit ModelWindow(const QByteArray &model, std::uint16_t langId = 0x0409)
        : Window(langId, {}, {{QStringLiteral("RTU_SETUP.TXT"), "2\r\nM\r\nN\r\n"}, {QStringLiteral("item/M.TXT"), model}})
    {
    }
    QString modelPath() const { return QDir(dirPath).filePath(QStringLiteral("item/M.TXT")); }
    void open()
    {
        ui().Command1->click();
        QVERIFY(fake->portOpen());
    }
    // One tick of Timer2, as the timer raises it.
    void tick() { movra::test::tick(ui().Timer2); }
    // The scan list's lines, newest first.
    QStringList list() const
    {
        QStringList lines = ui().Text12->text().split(QStringLiteral("\r\n"));
        lines.removeLast();
        return lines;
    }
    QList<int> registersRead() const { return fake->registersRead(); }
};

// The items of a list, in order.
inline QStringList items(const QComboBox *combo)
{
    QStringList out;
    for (int i = 0; i < combo->count(); ++i)
        out << combo->itemText(i);
    return out;
}

// Names as the 18 model slots hold them: empty slots after the names.
inline QStringList padded(QStringList names)
{
    while (names.size() < 18)
        names << QString();
    return names;
}

} // namespace movra::test
