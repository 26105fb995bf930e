#pragma once
// A Form1 on a scripted meter and virtual time, in a folder of its own.
#include "clock.h"
#include "fakemeter.h"
#include "form1.h"

#include <QDir>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace movra::test {

// Writes a file below `dir` ("item/X.TXT"), making its folders; false when
// it cannot be written. For files that must be there before a window starts.
inline bool writeFileBelow(const QString &dir, const QString &relative, const QByteArray &bytes)
{
    QDir(dir).mkpath(QFileInfo(relative).path());
    QFile f(QDir(dir).filePath(relative));
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

struct Window {
    explicit Window(std::uint16_t langId = 0x0409, QString exeDir = {})
        : dirPath(exeDir.isEmpty() ? dir.path() : exeDir)
    {
        Form1Environment env;
        env.exeDir = dirPath;
        env.langId = langId;
        env.clock = &clock;
        env.makePort = [this] {
            auto meter = std::make_unique<FakeMeter>(clock);
            fake = meter.get();
            return meter;
        };
        env.quit = [this] { ++quits; };
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
    FakeMeter *fake = nullptr;
    int quits = 0;
    std::unique_ptr<Form1> form;
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

inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

} // namespace movra::test
