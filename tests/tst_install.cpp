// The installer: its window, its steps on the Windows layout, and whole runs
// in a temporary folder through a fake platform (and once the real one).
#include "installwindow.h"
#include "platform.h"
#include "steps.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_WIN
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#endif

using namespace movra;

namespace {

const QStringList kModels = {
    u"MV-100"_qs, u"MV-110"_qs, u"MV-120"_qs, u"MV-200"_qs, u"MV-210"_qs, u"MV-220"_qs,
    u"MV-300"_qs, u"MV-310"_qs, u"MV-320"_qs, u"MV-400"_qs, u"MV-410"_qs, u"MV-420"_qs,
    u"MV-500"_qs, u"MV-510"_qs, u"MV-520"_qs, u"MV-600"_qs, u"MV-610"_qs, u"MV-620"_qs,
};

void writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    f.write(content);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

#ifdef Q_OS_WIN
// The target a shell link starts; empty when it cannot be read.
QString shortcutTarget(const QString &link)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    QString target;
    IShellLinkW *shell = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void **>(&shell)))) {
        IPersistFile *file = nullptr;
        wchar_t path[MAX_PATH] = {};
        if (SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
            if (SUCCEEDED(file->Load(reinterpret_cast<LPCWSTR>(link.utf16()), STGM_READ))
                && SUCCEEDED(shell->GetPath(path, MAX_PATH, nullptr, 0)))
                target = QString::fromWCharArray(path);
            file->Release();
        }
        shell->Release();
    }
    return target;
}
#endif

// Sets an environment variable for one scope.
class EnvGuard {
public:
    EnvGuard(const char *name, const QByteArray &value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~EnvGuard() { m_had ? qputenv(m_name, m_old) : qunsetenv(m_name); }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

class FakePlatform : public InstallPlatform {
public:
    QString source, root, desktop;
    quint16 language = 0x0409;
    QStringList started;         // batch paths started
    bool batchThereAtStart = false;
    QList<int> waits;            // the bound of each wait
    bool batchThereAtWait = false;
    QList<QPair<QString, QString>> shortcuts; // link, target

    QString sourceFolder() const override { return source; }
    QString driveRoot() const override { return root; }
    QString desktopFolder() const override { return desktop; }
    quint16 languageId() const override { return language; }
    bool startBatch(const QString &path) override
    {
        started << path;
        batchThereAtStart = QFileInfo::exists(path);
        return true;
    }
    bool waitBatch(int msecs) override
    {
        waits << msecs;
        batchThereAtWait = !started.isEmpty() && QFileInfo::exists(started.last());
        return true;
    }
    bool makeShortcut(const QString &link, const QString &target) override
    {
        shortcuts.append({link, target});
        QFile::remove(link);
        return QFile::link(target, link);
    }
};

// A source folder, a drive root "C" and a desktop "Desktop" in a temporary folder.
struct Machine {
    QTemporaryDir tmp;
    FakePlatform platform;

    explicit Machine(bool withItems = true)
    {
        const QString src = path(u"src"_qs);
        QDir().mkpath(src);
        QDir().mkpath(path(u"C"_qs));
        QDir().mkpath(path(u"Desktop"_qs));
        writeFile(src + u"/MSCOMM32.OCX"_qs, "ocx");
        writeFile(src + u"/TYPE.BAT"_qs, "echo batch\n");
        writeFile(src + u"/"_qs + toolFileName(), "tool");
        QFile::setPermissions(src + u"/"_qs + toolFileName(),
                              QFile::permissions(src + u"/TYPE.BAT"_qs) | QFile::ExeOwner);
        writeFile(src + u"/RTU_SETUP.TXT"_qs, "setup");
        if (withItems) {
            QDir().mkpath(src + u"/item"_qs);
            for (const QString &m : kModels)
                writeFile(src + u"/item/"_qs + m + u".TXT"_qs, "model " + m.toLatin1());
        }
        platform.source = src;
        platform.root = path(u"C"_qs);
        platform.desktop = path(u"Desktop"_qs);
    }

    QString path(const QString &rel) const { return tmp.path() + u"/"_qs + rel; }

    // Everything under the drive root and the desktop: relative path ->
    // "dir", "file <content>" or "link <target>".
    QMap<QString, QString> snapshot() const
    {
        QMap<QString, QString> tree;
        for (const QString &top : {u"C"_qs, u"Desktop"_qs}) {
            QDirIterator it(path(top), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden
                                           | QDir::System,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QFileInfo fi(it.next());
                const QString rel = QDir(tmp.path()).relativeFilePath(fi.filePath());
                if (fi.isSymLink())
                    tree[rel] = u"link "_qs + fi.symLinkTarget();
                else if (fi.isDir())
                    tree[rel] = u"dir"_qs;
                else
                    tree[rel] = u"file "_qs + QString::fromLatin1(readFile(fi.filePath()));
            }
        }
        return tree;
    }

    // The layout a complete installation leaves.
    QMap<QString, QString> fullLayout() const
    {
        const QString tool = u"C/Movra_Modbus/"_qs + toolFileName();
        QMap<QString, QString> tree = {
            {u"C/MSCOMM32.OCX"_qs, u"file ocx"_qs},
            {u"C/Movra_Modbus"_qs, u"dir"_qs},
            {u"C/Movra_Modbus/item"_qs, u"dir"_qs},
            {u"C/Movra_Modbus/TYPE.bat"_qs, u"file echo batch\n"_qs},
            {u"C/Movra_Modbus/MSCOMM32.OCX"_qs, u"file ocx"_qs},
            {tool, u"file tool"_qs},
            {u"C/Movra_Modbus/RTU_SETUP.TXT"_qs, u"file setup"_qs},
            {u"Desktop/Movra_modbus.lnk"_qs, u"link "_qs + path(tool)},
        };
        for (const QString &m : kModels)
            tree[u"C/Movra_Modbus/item/"_qs + m + u".TXT"_qs] = u"file model "_qs + m;
        return tree;
    }
};

// Index of the first model file copy in the step list.
constexpr int kFirstModelStep = 8;

} // namespace

class TestInstall : public QObject {
    Q_OBJECT
private slots:
    void modelListIsTheShippedOne();
    void captionByLanguage_data();
    void captionByLanguage();
    void windowLayout();
    void windowsSteps_data();
    void windowsSteps();
    void shortcutPathOnWindows_data();
    void shortcutPathOnWindows();
    void oneRunLayout();
    void twoRunsSameLayout();
    void rerunOverwritesInstalledCopies();
    void sourceWithoutItem();
    void sourceFileMissing_data();
    void sourceFileMissing();
    void installFolderCannotBeMade();
    void noDesktopNoShortcut();
    void clickInstallsOnceAndCloses();
    void copyOntoItselfKeepsTheFile();
    void runtimeBesideTheInstallerIsCopied();
    void systemPlatformOnLinux();
    void batchWaitIsBounded();
    void installBinaryWaitsForTheClick();
    void shippingFolderInstalls();
};

void TestInstall::modelListIsTheShippedOne()
{
    QCOMPARE(installModelNames(), kModels);
}

void TestInstall::captionByLanguage_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("caption");
    QTest::newRow("0x0404 Chinese Taiwan -> 安裝") << 0x0404 << u"安裝"_qs;
    QTest::newRow("0x0409 English US -> Install") << 0x0409 << u"Install"_qs;
    QTest::newRow("0x0804 Chinese PRC -> Install") << 0x0804 << u"Install"_qs;
    QTest::newRow("0x0C04 Chinese Hong Kong -> Install") << 0x0C04 << u"Install"_qs;
    QTest::newRow("0x1004 Chinese Singapore -> Install") << 0x1004 << u"Install"_qs;
    QTest::newRow("0x1404 Chinese Macao -> Install") << 0x1404 << u"Install"_qs;
    QTest::newRow("0x040C French -> Install") << 0x040C << u"Install"_qs;
    QTest::newRow("0x1009 English Canada -> Install") << 0x1009 << u"Install"_qs;
}

void TestInstall::captionByLanguage()
{
    QFETCH(int, language);
    QFETCH(QString, caption);
    FakePlatform platform;
    platform.language = quint16(language);
    InstallWindow window(platform);
    QCOMPARE(window.button()->text(), caption);
}

void TestInstall::windowLayout()
{
    FakePlatform platform;
    InstallWindow window(platform);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(window.windowTitle(), u"Install Movra_Modbus Test"_qs);
    QCOMPARE(window.size(), QSize(235, 129));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(window.windowFlags() & Qt::WindowMinimizeButtonHint));
    QCOMPARE(window.windowIcon().availableSizes().value(0), QSize(32, 32));
    const QPoint screenCentre = window.screen()->availableGeometry().center();
    QVERIFY2((window.frameGeometry().center() - screenCentre).manhattanLength() <= 2,
             "the window is centred on the screen");

    const QList<QPushButton *> buttons = window.findChildren<QPushButton *>();
    QCOMPARE(buttons.size(), 1);
    QPushButton *button = buttons.first();
    QCOMPARE(button->objectName(), u"Command1"_qs);
    QCOMPARE(button->geometry(), QRect(16, 24, 193, 65));
    QVERIFY(button->font().bold());
    QCOMPARE(button->font().pointSize(), 24);
    const QString family = QFontInfo(button->font()).family();
    QVERIFY2(family.contains(u"CJK TC"_qs) || family == u"標楷體"_qs, qPrintable(family));

    // The face is painted in the button's colour.
    const QImage face = button->grab().toImage();
    QCOMPARE(face.pixelColor(6, 6), QColor(0, 192, 192));
    QCOMPARE(face.pixelColor(face.width() - 7, face.height() - 7), QColor(0, 192, 192));
}

void TestInstall::windowsSteps_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("from");
    const auto row = [](const char *name, int i, InstallStep::Action a, const char *path,
                        const char *from) {
        QTest::newRow(name) << i << int(a) << QString::fromUtf8(path) << QString::fromUtf8(from);
    };
    row("1 OCX into the root", 0, InstallStep::Copy, R"(C:\MSCOMM32.OCX)", R"(E:\SETUP\MSCOMM32.OCX)");
    row("2 batch into the root", 1, InstallStep::Copy, R"(C:\TYPE.BAT)", R"(E:\SETUP\TYPE.BAT)");
    row("3 install folder", 2, InstallStep::MakeFolder, R"(C:\Movra_Modbus)", "");
    row("4 item folder", 3, InstallStep::MakeFolder, R"(C:\Movra_Modbus\item)", "");
    row("5 batch as TYPE.bat", 4, InstallStep::Copy, R"(C:\Movra_Modbus\TYPE.bat)",
        R"(E:\SETUP\TYPE.BAT)");
    row("6 OCX into the folder", 5, InstallStep::Copy, R"(C:\Movra_Modbus\MSCOMM32.OCX)",
        R"(E:\SETUP\MSCOMM32.OCX)");
    row("7 the tool", 6, InstallStep::Copy, R"(C:\Movra_Modbus\Movra_Modbus.EXE)",
        R"(E:\SETUP\Movra_Modbus.EXE)");
    row("8 setup list", 7, InstallStep::Copy, R"(C:\Movra_Modbus\RTU_SETUP.TXT)",
        R"(E:\SETUP\RTU_SETUP.TXT)");
    row("9 first model MV-100", 8, InstallStep::Copy, R"(C:\Movra_Modbus\item\MV-100.TXT)",
        R"(E:\SETUP\item\MV-100.TXT)");
    row("9 seventh model MV-300", 14, InstallStep::Copy, R"(C:\Movra_Modbus\item\MV-300.TXT)",
        R"(E:\SETUP\item\MV-300.TXT)");
    row("9 last model MV-620", 25, InstallStep::Copy, R"(C:\Movra_Modbus\item\MV-620.TXT)",
        R"(E:\SETUP\item\MV-620.TXT)");
    row("10 start the root batch", 26, InstallStep::StartBatch, R"(C:\TYPE.BAT)", "");
    row("11-17 shortcut to the tool", 27, InstallStep::MakeShortcut,
        R"(C:\Movra_Modbus\Movra_Modbus.EXE)", "");
    row("18 delete the root batch", 28, InstallStep::DeleteBatch, R"(C:\TYPE.BAT)", "");
}

void TestInstall::windowsSteps()
{
    QFETCH(int, index);
    QFETCH(int, action);
    QFETCH(QString, path);
    QFETCH(QString, from);
    const QList<InstallStep> steps =
        installSteps(uR"(E:\SETUP)"_qs, uR"(C:\)"_qs, u'\\', u"Movra_Modbus.EXE"_qs);
    QCOMPARE(steps.size(), 8 + 18 + 3);
    QCOMPARE(int(steps[index].action), action);
    QCOMPARE(steps[index].path, path);
    QCOMPARE(steps[index].from, from);
}

void TestInstall::shortcutPathOnWindows_data()
{
    QTest::addColumn<QString>("desktop");
    QTest::addColumn<QString>("link");
    QTest::newRow(R"(C:\Users\op\Desktop gets one backslash)")
        << uR"(C:\Users\op\Desktop)"_qs << uR"(C:\Users\op\Desktop\Movra_modbus.lnk)"_qs;
    QTest::newRow(R"(D:\ gets a second backslash)") << uR"(D:\)"_qs << uR"(D:\\Movra_modbus.lnk)"_qs;
    QTest::newRow("no desktop, no shortcut") << QString() << QString();
}

void TestInstall::shortcutPathOnWindows()
{
    QFETCH(QString, desktop);
    QFETCH(QString, link);
    QCOMPARE(shortcutPath(desktop, u'\\'), link);
}

void TestInstall::oneRunLayout()
{
    Machine m;
    const QList<bool> outcome = runInstallation(m.platform);
    QVERIFY(!outcome.contains(false));
    QCOMPARE(m.snapshot(), m.fullLayout());
    // The root copy was started, while it was there, and waited for before it went.
    QCOMPARE(m.platform.started, QStringList{m.path(u"C/TYPE.BAT"_qs)});
    QVERIFY(m.platform.batchThereAtStart);
    QCOMPARE(m.platform.waits, QList<int>{kBatchWaitMs});
    QVERIFY(m.platform.batchThereAtWait);
    QVERIFY(!QFileInfo::exists(m.path(u"C/TYPE.BAT"_qs)));
    QVERIFY(QFileInfo(m.path(u"C/Movra_Modbus/"_qs + toolFileName())).isExecutable());
}

void TestInstall::twoRunsSameLayout()
{
    Machine m;
    runInstallation(m.platform);
    const auto once = m.snapshot();
    const QList<bool> second = runInstallation(m.platform);
    QCOMPARE(m.snapshot(), once);
    // Only the two folders, made already, fail the second time.
    for (int i = 0; i < second.size(); ++i)
        QCOMPARE(second[i], i != 2 && i != 3);
}

void TestInstall::rerunOverwritesInstalledCopies()
{
    Machine m;
    runInstallation(m.platform);
    writeFile(m.path(u"src/RTU_SETUP.TXT"_qs), "new setup");
    writeFile(m.path(u"src/item/MV-410.TXT"_qs), "x");
    runInstallation(m.platform);
    auto expected = m.fullLayout();
    expected[u"C/Movra_Modbus/RTU_SETUP.TXT"_qs] = u"file new setup"_qs;
    expected[u"C/Movra_Modbus/item/MV-410.TXT"_qs] = u"file x"_qs;
    QCOMPARE(m.snapshot(), expected);
}

void TestInstall::sourceWithoutItem()
{
    Machine m(false);
    const QList<bool> outcome = runInstallation(m.platform);
    auto expected = m.fullLayout();
    for (const QString &model : kModels)
        expected.remove(u"C/Movra_Modbus/item/"_qs + model + u".TXT"_qs);
    QCOMPARE(m.snapshot(), expected);
    for (int i = 0; i < outcome.size(); ++i)
        QCOMPARE(outcome[i], i < kFirstModelStep || i >= kFirstModelStep + 18);
}

void TestInstall::sourceFileMissing_data()
{
    QTest::addColumn<QString>("missing");
    QTest::addColumn<QStringList>("notInstalled");
    QTest::newRow("no MSCOMM32.OCX: neither copy")
        << u"MSCOMM32.OCX"_qs
        << QStringList{u"C/MSCOMM32.OCX"_qs, u"C/Movra_Modbus/MSCOMM32.OCX"_qs};
    QTest::newRow("no TYPE.BAT: no TYPE.bat") << u"TYPE.BAT"_qs
                                              << QStringList{u"C/Movra_Modbus/TYPE.bat"_qs};
    QTest::newRow("no tool: shortcut still made")
        << toolFileName() << QStringList{u"C/Movra_Modbus/"_qs + toolFileName()};
    QTest::newRow("no RTU_SETUP.TXT") << u"RTU_SETUP.TXT"_qs
                                      << QStringList{u"C/Movra_Modbus/RTU_SETUP.TXT"_qs};
    QTest::newRow("no item/MV-310.TXT: only that model")
        << u"item/MV-310.TXT"_qs << QStringList{u"C/Movra_Modbus/item/MV-310.TXT"_qs};
}

void TestInstall::sourceFileMissing()
{
    QFETCH(QString, missing);
    QFETCH(QStringList, notInstalled);
    Machine m;
    QVERIFY(QFile::remove(m.path(u"src/"_qs + missing)));
    runInstallation(m.platform);
    auto expected = m.fullLayout();
    for (const QString &rel : notInstalled)
        QVERIFY(expected.remove(rel) == 1);
    QCOMPARE(m.snapshot(), expected);
}

void TestInstall::installFolderCannotBeMade()
{
    Machine m;
    writeFile(m.path(u"C/Movra_Modbus"_qs), "in the way");
    runInstallation(m.platform);
    const QMap<QString, QString> expected = {
        {u"C/MSCOMM32.OCX"_qs, u"file ocx"_qs},
        {u"C/Movra_Modbus"_qs, u"file in the way"_qs},
        {u"Desktop/Movra_modbus.lnk"_qs,
         u"link "_qs + m.path(u"C/Movra_Modbus/"_qs + toolFileName())},
    };
    QCOMPARE(m.snapshot(), expected);
}

void TestInstall::noDesktopNoShortcut()
{
    Machine m;
    m.platform.desktop.clear();
    const QString cwd = m.path(u"cwd"_qs);
    QVERIFY(QDir().mkpath(cwd));
    const QString before = QDir::currentPath();
    QDir::setCurrent(cwd);
    runInstallation(m.platform);
    QDir::setCurrent(before);

    QVERIFY(m.platform.shortcuts.isEmpty());
    QVERIFY(QDir(cwd).isEmpty());
    auto expected = m.fullLayout();
    expected.remove(u"Desktop/Movra_modbus.lnk"_qs);
    QCOMPARE(m.snapshot(), expected);
}

void TestInstall::clickInstallsOnceAndCloses()
{
    Machine m;
    InstallWindow window(m.platform);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(m.snapshot().isEmpty());
    QTest::mouseClick(window.button(), Qt::LeftButton);
    QVERIFY(!window.isVisible());
    QCOMPARE(m.snapshot(), m.fullLayout());
    window.button()->click();
    QCOMPARE(m.platform.started.size(), 1);
}

void TestInstall::copyOntoItselfKeepsTheFile()
{
    QTemporaryDir tmp;
    const QString file = tmp.filePath(u"RTU_SETUP.TXT"_qs);
    writeFile(file, "setup");
    QVERIFY(copyFile(file, file));
    QCOMPARE(readFile(file), QByteArray("setup"));
    QVERIFY(!copyFile(tmp.filePath(u"missing"_qs), tmp.filePath(u"copy"_qs)));
    QVERIFY(!QFileInfo::exists(tmp.filePath(u"copy"_qs)));
}

// The real platform layer with HOME and the XDG desktop in a temporary folder.
// The DLLs and plugin folders shipped beside the installer go beside the tool.
void TestInstall::runtimeBesideTheInstallerIsCopied()
{
    Machine m;
    QVERIFY(QDir().mkpath(m.path(u"src/platforms"_qs)));
    writeFile(m.path(u"src/Qt6Core.dll"_qs), "core");
    writeFile(m.path(u"src/platforms/qwindows.dll"_qs), "qpa");
    writeFile(m.path(u"src/item/stray.dll"_qs), "not a plugin");
    QCOMPARE(runtimeFiles(m.platform.source), QStringList({u"Qt6Core.dll"_qs, u"platforms/qwindows.dll"_qs}));
    QVERIFY(!runInstallation(m.platform).contains(false));
    QMap<QString, QString> layout = m.fullLayout();
    layout[u"C/Movra_Modbus/Qt6Core.dll"_qs] = u"file core"_qs;
    layout[u"C/Movra_Modbus/platforms"_qs] = u"dir"_qs;
    layout[u"C/Movra_Modbus/platforms/qwindows.dll"_qs] = u"file qpa"_qs;
    QCOMPARE(m.snapshot(), layout);
}

void TestInstall::systemPlatformOnLinux()
{
#ifdef Q_OS_WIN
    QSKIP("the home-folder mapping is the POSIX one");
#else
    Machine m;
    // A blank and a % to quote on the launcher's Exec line.
    const QString home = m.path(u"home 100%"_qs);
    const QString config = m.path(u"config"_qs);
    const QString data = m.path(u"data"_qs);
    QVERIFY(QDir().mkpath(home + u"/Bureau"_qs));
    QVERIFY(QDir().mkpath(config));
    writeFile(config + u"/user-dirs.dirs"_qs, "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n");
    // The batch takes a while and leaves a marker: it must have run to the end.
    writeFile(m.path(u"src/TYPE.BAT"_qs), "sleep 1\necho ran > \"$HOME/batch-ran\"\n");
    EnvGuard homeEnv("HOME", home.toLocal8Bit());
    EnvGuard configEnv("XDG_CONFIG_HOME", config.toLocal8Bit());
    EnvGuard dataEnv("XDG_DATA_HOME", data.toLocal8Bit());

    SystemPlatform platform(m.path(u"src"_qs));
    QCOMPARE(platform.driveRoot(), home);
    QCOMPARE(platform.desktopFolder(), home + u"/Bureau"_qs);
    const QList<bool> outcome = runInstallation(platform);
    QVERIFY(!outcome.contains(false));

    QCOMPARE(readFile(home + u"/batch-ran"_qs), QByteArray("ran\n"));
    QVERIFY(!QFileInfo::exists(home + u"/TYPE.BAT"_qs));
    QCOMPARE(readFile(home + u"/MSCOMM32.OCX"_qs), QByteArray("ocx"));
    const QString tool = home + u"/Movra_Modbus/Movra_Modbus"_qs;
    QVERIFY(QFileInfo(tool).isExecutable());
    QCOMPARE(readFile(home + u"/Movra_Modbus/RTU_SETUP.TXT"_qs), QByteArray("setup"));
    QCOMPARE(QDir(home + u"/Movra_Modbus/item"_qs).entryList(QDir::Files).size(), 18);
    const QFileInfo link(home + u"/Bureau/Movra_modbus.lnk"_qs);
    QVERIFY(link.isSymLink());
    QCOMPARE(link.symLinkTarget(), tool);

    // The menu's launcher starts the tool, shows its icon and is valid.
    const QString launcher = data + u"/applications/movra-modbus.desktop"_qs;
    const QString icon = data + u"/icons/hicolor/64x64/apps/movra-modbus.png"_qs;
    const QByteArray entry = readFile(launcher);
    QVERIFY2(entry.contains("\nExec=\"" + QString(tool).replace(u"%"_qs, u"%%"_qs).toUtf8() + "\"\n"),
             entry.constData());
    QVERIFY(entry.contains("\nIcon=movra-modbus\n"));
    QCOMPARE(QImage(icon).size(), QSize(64, 64));
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(u"desktop-file-validate"_qs, {launcher});
    QVERIFY2(validate.waitForFinished(), "desktop-file-validate missing (scripts/deps installs it)");
    const QByteArray complaints = validate.readAll();
    QVERIFY2(validate.exitCode() == 0 && complaints.isEmpty(), complaints.constData());

    // A second run rewrites the shortcut in place, and the launcher and icon.
    writeFile(launcher, "stale");
    writeFile(icon, "stale");
    QVERIFY(runInstallation(platform)[27]);
    QCOMPARE(QFileInfo(link.filePath()).symLinkTarget(), tool);
    QCOMPARE(readFile(launcher), entry);
    QCOMPARE(QImage(icon).size(), QSize(64, 64));

    QVERIFY(QDir(home + u"/Bureau"_qs).removeRecursively());
    QCOMPARE(platform.desktopFolder(), QString());
#endif
}

void TestInstall::batchWaitIsBounded()
{
#ifdef Q_OS_WIN
    QSKIP("the batch is run with sh here");
#else
    QTemporaryDir tmp;
    const QString batch = tmp.filePath(u"TYPE.BAT"_qs);
    writeFile(batch, "sleep 2\n");
    SystemPlatform platform(tmp.path());
    QVERIFY(platform.startBatch(batch));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!platform.waitBatch(300));
    QVERIFY(clock.elapsed() < 1500);
    QVERIFY(platform.waitBatch(10000));
#endif
}

void TestInstall::installBinaryWaitsForTheClick()
{
    const QString binary = QCoreApplication::applicationDirPath() + u"/Install"_qs;
    if (!QFileInfo(binary).isExecutable())
        QSKIP("the Install program is not built");
    QTemporaryDir home;
    QProcess install;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_qs, home.path());
    env.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
    install.setProcessEnvironment(env);
    install.start(binary, {});
    QVERIFY(install.waitForStarted());
    QVERIFY2(!install.waitForFinished(1500), "the installer waits with its window open");
    install.kill();
    install.waitForFinished();
    QVERIFY(!QFileInfo::exists(home.filePath(u"Movra_Modbus"_qs)));
    QVERIFY(!QFileInfo::exists(home.filePath(u"TYPE.BAT"_qs)));
}

// Installs from the shipping folder named by MOVRA_DIST (e.g. the top-level
// dist/) into a temporary home, then starts the installed tool for a moment.
void TestInstall::shippingFolderInstalls()
{
    const QString dist = qEnvironmentVariable("MOVRA_DIST");
    if (dist.isEmpty())
        QSKIP("set MOVRA_DIST to the shipping folder to check it");
#ifdef Q_OS_WIN
    // Into the real C:\ and the desktop the registry names.
    QTemporaryDir tmp;
    SystemPlatform platform(dist);
    QCOMPARE(platform.driveRoot(), u"C:\\"_qs);
    const QString desktop = platform.desktopFolder();
    QVERIFY(QFileInfo(desktop).isDir());
    const QString folder = u"C:/Movra_Modbus"_qs;
    const QString link = desktop + u"\\Movra_modbus.lnk"_qs;
    QDir(folder).removeRecursively();
    QFile::remove(link);
    const QList<bool> outcome = runInstallation(platform);
    QCOMPARE(outcome.count(false), 2); // no MSCOMM32.OCX is shipped
    QVERIFY(!QFileInfo::exists(u"C:/TYPE.BAT"_qs));
    QCOMPARE(readFile(folder + u"/TYPE.bat"_qs), readFile(dist + u"/TYPE.BAT"_qs));
    QCOMPARE(readFile(folder + u"/Movra_Modbus.EXE"_qs), readFile(dist + u"/Movra_Modbus.EXE"_qs));
    QCOMPARE(readFile(folder + u"/RTU_SETUP.TXT"_qs), readFile(dist + u"/RTU_SETUP.TXT"_qs));
    for (const QString &model : kModels) {
        const QString file = u"/item/"_qs + model + u".TXT"_qs;
        QCOMPARE(readFile(folder + file), readFile(dist + file));
    }
    const QStringList runtime = runtimeFiles(dist);
    QVERIFY(runtime.contains(u"Qt6Core.dll"_qs) && runtime.contains(u"platforms/qwindows.dll"_qs));
    for (const QString &file : runtime)
        QVERIFY2(readFile(folder + u'/' + file) == readFile(dist + u'/' + file), qPrintable(file));
    QCOMPARE(shortcutTarget(link), u"C:\\Movra_Modbus\\Movra_Modbus.EXE"_qs);
    const QString tool = folder + u"/Movra_Modbus.EXE"_qs;
#else
    QTemporaryDir tmp;
    const QString home = tmp.filePath(u"home"_qs);
    QVERIFY(QDir().mkpath(home + u"/Desktop"_qs));
    EnvGuard homeEnv("HOME", home.toLocal8Bit());
    EnvGuard configEnv("XDG_CONFIG_HOME", tmp.filePath(u"config"_qs).toLocal8Bit());
    SystemPlatform platform(dist);
    runInstallation(platform);

    const QString folder = home + u"/Movra_Modbus"_qs;
    QCOMPARE(readFile(folder + u"/RTU_SETUP.TXT"_qs), readFile(dist + u"/RTU_SETUP.TXT"_qs));
    QCOMPARE(readFile(folder + u"/TYPE.bat"_qs), readFile(dist + u"/TYPE.BAT"_qs));
    for (const QString &model : kModels) {
        const QString file = u"/item/"_qs + model + u".TXT"_qs;
        QVERIFY2(!readFile(folder + file).isEmpty(), qPrintable(file));
        QCOMPARE(readFile(folder + file), readFile(dist + file));
    }
    QVERIFY(!QFileInfo::exists(home + u"/TYPE.BAT"_qs));
    QVERIFY(!QFileInfo::exists(home + u"/MSCOMM32.OCX"_qs));
    QCOMPARE(QFileInfo(home + u"/Desktop/Movra_modbus.lnk"_qs).symLinkTarget(),
             folder + u"/Movra_Modbus"_qs);

    const QString tool = folder + u"/Movra_Modbus"_qs;
    if (!QFileInfo(tool).isExecutable())
        QSKIP("the shipping folder has no tool");
#endif
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
#ifdef Q_OS_WIN
    // With the platform plugin shipped beside it.
    env.insert(u"QT_QPA_PLATFORM"_qs, u"windows"_qs);
    env.remove(u"QT_PLUGIN_PATH"_qs);
#else
    env.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
#endif
    env.insert(u"QT_FORCE_STDERR_LOGGING"_qs, u"1"_qs);
    run.setProcessEnvironment(env);
    run.setWorkingDirectory(tmp.path());
    run.setStandardErrorFile(tmp.filePath(u"err.txt"_qs));
    run.start(tool, {});
    QVERIFY(run.waitForStarted());
    QVERIFY2(!run.waitForFinished(2000), readFile(tmp.filePath(u"err.txt"_qs)).constData());
    run.kill();
    run.waitForFinished();
}

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
