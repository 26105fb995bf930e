#include "platform.h"

#include "langid.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <QSettings>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#endif

namespace movra {

QString toolFileName()
{
#ifdef Q_OS_WIN
    return u"Movra_Modbus.EXE"_qs;
#else
    return u"Movra_Modbus"_qs;
#endif
}

SystemPlatform::SystemPlatform(const QString &sourceFolder)
    : m_source(QDir::toNativeSeparators(sourceFolder))
{
}

SystemPlatform::~SystemPlatform()
{
    // A batch still running past the wait goes on alone after the installer ends.
    if (m_batch && m_batch->state() != QProcess::NotRunning)
        (void)m_batch.release();
}

QString SystemPlatform::driveRoot() const
{
#ifdef Q_OS_WIN
    return u"C:\\"_qs;
#else
    return QDir::homePath();
#endif
}

QString SystemPlatform::desktopFolder() const
{
#ifdef Q_OS_WIN
    const QSettings folders(
        u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"_qs,
        QSettings::NativeFormat);
    return folders.value(u"Desktop"_qs).toString();
#else
    // Without a desktop set up, Qt still names ~/Desktop; only a real folder counts.
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    return QFileInfo(desktop).isDir() ? desktop : QString();
#endif
}

quint16 SystemPlatform::languageId() const
{
    return systemLangId();
}

bool SystemPlatform::startBatch(const QString &path)
{
    if (m_batch && m_batch->state() != QProcess::NotRunning)
        return false;
    m_batch = std::make_unique<QProcess>();
    m_batch->setProcessChannelMode(QProcess::ForwardedChannels);
    m_batch->setStandardInputFile(QProcess::nullDevice());
#ifdef Q_OS_WIN
    // Its own console, minimised and given the focus.
    m_batch->setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *args) {
        args->flags |= CREATE_NEW_CONSOLE;
        args->startupInfo->dwFlags &= ~STARTF_USESTDHANDLES;
        args->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        args->startupInfo->wShowWindow = SW_SHOWMINIMIZED;
    });
    m_batch->start(u"cmd.exe"_qs, {u"/c"_qs, path});
#else
    m_batch->start(u"sh"_qs, {path});
#endif
    return m_batch->waitForStarted();
}

bool SystemPlatform::waitBatch(int msecs)
{
    if (!m_batch || m_batch->state() == QProcess::NotRunning)
        return true;
    return m_batch->waitForFinished(msecs);
}

#ifdef Q_OS_WIN
// A shell link whose target is `target`, saved as `link` (replacing a file
// that is there).
bool SystemPlatform::makeShortcut(const QString &link, const QString &target)
{
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool saved = false;
    IShellLinkW *shell = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void **>(&shell)))) {
        IPersistFile *file = nullptr;
        if (SUCCEEDED(shell->SetPath(reinterpret_cast<LPCWSTR>(target.utf16())))
            && SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
            const QString native = QDir::toNativeSeparators(link);
            saved = SUCCEEDED(file->Save(reinterpret_cast<LPCWSTR>(native.utf16()), TRUE));
            file->Release();
        }
        shell->Release();
    }
    if (SUCCEEDED(init))
        CoUninitialize();
    return saved;
}
#else
bool SystemPlatform::makeShortcut(const QString &link, const QString &target)
{
    // Saving a shortcut replaces one that is there already.
    QFile::remove(link);
    return QFile::link(target, link);
}
#endif

QString SystemPlatform::launcherDataHome() const
{
#ifdef Q_OS_LINUX
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#else
    return {};
#endif
}

} // namespace movra
