#include "platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QStandardPaths>

#include <utility>

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

quint16 languageIdForLocale(const QString &name)
{
    static const std::pair<const char *, quint16> ids[] = {
        {"zh_TW", 0x0404}, {"zh_CN", 0x0804}, {"zh_HK", 0x0C04}, {"zh_SG", 0x1004},
        {"zh_MO", 0x1404}, {"en_US", 0x0409}, {"en_GB", 0x0809}, {"en_AU", 0x0C09},
        {"en_CA", 0x1009}, {"en_NZ", 0x1409}, {"en_IE", 0x1809}, {"en_ZA", 0x1C09},
        {"en_IN", 0x4009}, {"en_SG", 0x4809}, {"fr_FR", 0x040C}, {"fr_BE", 0x080C},
        {"fr_CA", 0x0C0C}, {"fr_CH", 0x100C}, {"de_DE", 0x0407}, {"de_CH", 0x0807},
        {"de_AT", 0x0C07}, {"it_IT", 0x0410}, {"es_ES", 0x0C0A}, {"es_MX", 0x080A},
        {"pt_BR", 0x0416}, {"pt_PT", 0x0816}, {"nl_NL", 0x0413}, {"nl_BE", 0x0813},
        {"sv_SE", 0x041D}, {"da_DK", 0x0406}, {"nb_NO", 0x0414}, {"fi_FI", 0x040B},
        {"pl_PL", 0x0415}, {"cs_CZ", 0x0405}, {"hu_HU", 0x040E}, {"ru_RU", 0x0419},
        {"uk_UA", 0x0422}, {"tr_TR", 0x041F}, {"el_GR", 0x0408}, {"he_IL", 0x040D},
        {"ar_SA", 0x0401}, {"ja_JP", 0x0411}, {"ko_KR", 0x0412}, {"th_TH", 0x041E},
        {"vi_VN", 0x042A}, {"id_ID", 0x0421}, {"ms_MY", 0x043E}, {"hi_IN", 0x0439},
    };
    for (const auto &[locale, id] : ids) {
        if (name == QLatin1StringView(locale))
            return id;
    }
    return 0x0409;
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
#ifdef Q_OS_WIN
    return GetSystemDefaultLangID();
#else
    return languageIdForLocale(QLocale::system().name());
#endif
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
