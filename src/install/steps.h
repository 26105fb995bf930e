#pragma once
// The installation: one ordered list of steps, run over the platform layer.
#include <QChar>
#include <QList>
#include <QString>
#include <QStringList>

namespace movra {

class InstallPlatform;

// The meter models whose definition files are installed, in this order.
const QStringList &installModelNames();

// The shortcut's file name in the desktop folder.
inline constexpr QLatin1StringView kShortcutName{"Movra_modbus.lnk"};
// The longest wait for the batch file before its copy in the root is deleted.
inline constexpr int kBatchWaitMs = 60000;

struct InstallStep {
    enum Action {
        Copy,         // from -> path, created or overwritten
        MakeFolder,   // path; fails when it exists or its parent is missing
        StartBatch,   // path; returns at once
        MakeShortcut, // path is the shortcut's target; the link goes on the desktop
        DeleteBatch,  // path; waits for the batch first (at most kBatchWaitMs)
    };
    Action action;
    QString path;
    QString from;

    bool operator==(const InstallStep &) const = default;
};

// The steps for a source folder, a drive root and the tool's file name, all
// paths joined with `sep`. Pure: "C:\" and '\\' give the Windows layout.
QList<InstallStep> installSteps(const QString &source, const QString &root, QChar sep,
                                const QString &toolFile);

// What the tool needs beside it to start, shipped beside the installer: the
// DLLs, and the DLLs in each folder but item (the Qt plugin folders), as
// paths relative to the source folder joined with '/'.
QStringList runtimeFiles(const QString &source);

// The steps that put those files into the install folder under `root`: each
// folder made, then each file copied. Paths joined with `sep`.
QList<InstallStep> runtimeSteps(const QString &source, const QString &root, QChar sep,
                                const QStringList &files);

// Desktop folder + sep + "Movra_modbus.lnk"; a folder that already ends in
// `sep` gets a second one. Empty for an empty folder: then no shortcut is made.
QString shortcutPath(const QString &desktop, QChar sep);

// Runs one step; false when it failed.
bool runStep(const InstallStep &step, InstallPlatform &platform);

// Runs every step in order; a failing step is skipped and the next one runs.
// Returns each step's outcome, for inspection only: nothing is reported.
QList<bool> runInstallation(InstallPlatform &platform);

// Copies a file, creating or replacing the destination as a whole (never half
// written, and a copy onto itself keeps the file).
bool copyFile(const QString &from, const QString &to);

} // namespace movra
