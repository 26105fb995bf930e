#include "steps.h"

#include "launcher.h"
#include "platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace movra {

namespace {

QString join(const QString &folder, QChar sep, const QString &name)
{
    return folder.endsWith(sep) ? folder + name : folder + sep + name;
}

} // namespace

const QStringList &installModelNames()
{
    static const QStringList names = {
        u"MV-100"_qs, u"MV-110"_qs, u"MV-120"_qs, u"MV-200"_qs, u"MV-210"_qs, u"MV-220"_qs,
        u"MV-300"_qs, u"MV-310"_qs, u"MV-320"_qs, u"MV-400"_qs, u"MV-410"_qs, u"MV-420"_qs,
        u"MV-500"_qs, u"MV-510"_qs, u"MV-520"_qs, u"MV-600"_qs, u"MV-610"_qs, u"MV-620"_qs,
    };
    return names;
}

QList<InstallStep> installSteps(const QString &source, const QString &root, QChar sep,
                                const QString &toolFile)
{
    const auto src = [&](const QString &name) { return join(source, sep, name); };
    const QString folder = join(root, sep, u"Movra_Modbus"_qs);
    const QString items = join(folder, sep, u"item"_qs);
    const QString rootBatch = join(root, sep, u"TYPE.BAT"_qs);
    const QString tool = join(folder, sep, toolFile);

    QList<InstallStep> steps = {
        {InstallStep::Copy, join(root, sep, u"MSCOMM32.OCX"_qs), src(u"MSCOMM32.OCX"_qs)},
        {InstallStep::Copy, rootBatch, src(u"TYPE.BAT"_qs)},
        {InstallStep::MakeFolder, folder, {}},
        {InstallStep::MakeFolder, items, {}},
        {InstallStep::Copy, join(folder, sep, u"TYPE.bat"_qs), src(u"TYPE.BAT"_qs)},
        {InstallStep::Copy, join(folder, sep, u"MSCOMM32.OCX"_qs), src(u"MSCOMM32.OCX"_qs)},
        {InstallStep::Copy, tool, src(toolFile)},
        {InstallStep::Copy, join(folder, sep, u"RTU_SETUP.TXT"_qs), src(u"RTU_SETUP.TXT"_qs)},
    };
    const QString sourceItems = src(u"item"_qs);
    for (const QString &name : installModelNames()) {
        const QString file = name + u".TXT"_qs;
        steps.append({InstallStep::Copy, join(items, sep, file), join(sourceItems, sep, file)});
    }
    steps.append({InstallStep::StartBatch, rootBatch, {}});
    steps.append({InstallStep::MakeShortcut, tool, {}});
    steps.append({InstallStep::DeleteBatch, rootBatch, {}});
    return steps;
}

QStringList runtimeFiles(const QString &source)
{
    const QStringList dlls{u"*.dll"_qs};
    const QDir top(source);
    QStringList files = top.entryList(dlls, QDir::Files, QDir::Name);
    for (const QString &folder : top.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (folder.compare(u"item"_qs, Qt::CaseInsensitive) == 0)
            continue;
        for (const QString &file : QDir(top.filePath(folder)).entryList(dlls, QDir::Files, QDir::Name))
            files << folder + u'/' + file;
    }
    return files;
}

QList<InstallStep> runtimeSteps(const QString &source, const QString &root, QChar sep,
                                const QStringList &files)
{
    const QString folder = join(root, sep, u"Movra_Modbus"_qs);
    QList<InstallStep> steps;
    QStringList made;
    for (const QString &file : files) {
        const QString sub = file.section(u'/', 0, -2);
        if (!sub.isEmpty() && !made.contains(sub)) {
            made << sub;
            steps.append({InstallStep::MakeFolder, join(folder, sep, sub), {}});
        }
    }
    for (const QString &file : files) {
        const QString native = QString(file).replace(u'/', sep);
        steps.append({InstallStep::Copy, join(folder, sep, native), join(source, sep, native)});
    }
    return steps;
}

QString shortcutPath(const QString &desktop, QChar sep)
{
    if (desktop.isEmpty())
        return {};
    return desktop + sep + kShortcutName;
}

bool copyFile(const QString &from, const QString &to)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    // Written beside the destination and renamed over it on commit.
    QSaveFile out(to);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    char buffer[64 * 1024];
    for (;;) {
        const qint64 n = in.read(buffer, sizeof buffer);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (out.write(buffer, n) != n)
            return false;
    }
    const QFile::Permissions permissions = in.permissions();
    in.close();
    if (!out.commit())
        return false;
    // The tool must stay executable.
    QFile::setPermissions(to, permissions);
    return true;
}

bool runStep(const InstallStep &step, InstallPlatform &platform)
{
    switch (step.action) {
    case InstallStep::Copy:
        return copyFile(step.from, step.path);
    case InstallStep::MakeFolder:
        return QDir().mkdir(step.path);
    case InstallStep::StartBatch:
        return platform.startBatch(step.path);
    case InstallStep::MakeShortcut: {
        // Linux menus show launchers, not links: one beside the shortcut.
        const QString dataHome = platform.launcherDataHome();
        const bool launcher = dataHome.isEmpty() || writeLauncher(dataHome, step.path);
        const QString link = shortcutPath(platform.desktopFolder(), QDir::separator());
        return !link.isEmpty() && platform.makeShortcut(link, step.path) && launcher;
    }
    case InstallStep::DeleteBatch:
        // The batch may still be reading its file; its outcome is not ours to judge.
        platform.waitBatch(kBatchWaitMs);
        return QFile::remove(step.path);
    }
    return false;
}

QList<bool> runInstallation(InstallPlatform &platform)
{
    QList<InstallStep> steps = installSteps(platform.sourceFolder(), platform.driveRoot(),
                                            QDir::separator(), toolFileName());
    // Without its runtime the installed tool cannot start: copied after the
    // model files, before the batch file runs.
    const qsizetype at = std::find_if(steps.cbegin(), steps.cend(), [](const InstallStep &s) {
        return s.action == InstallStep::StartBatch;
    }) - steps.cbegin();
    const QList<InstallStep> runtime =
        runtimeSteps(platform.sourceFolder(), platform.driveRoot(), QDir::separator(),
                     runtimeFiles(platform.sourceFolder()));
    for (qsizetype i = 0; i < runtime.size(); ++i)
        steps.insert(at + i, runtime[i]);
    QList<bool> outcome;
    outcome.reserve(steps.size());
    for (const InstallStep &step : steps)
        outcome.append(runStep(step, platform));
    return outcome;
}

} // namespace movra
