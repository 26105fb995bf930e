#pragma once
// Everything of the installer that touches the machine beyond plain files.
#include <QString>
#include <memory>

class QProcess;

namespace movra {

class InstallPlatform {
public:
    virtual ~InstallPlatform() = default;
    // The folder holding the files to install.
    virtual QString sourceFolder() const = 0;
    // "C:\" on Windows; the user's home folder elsewhere.
    virtual QString driveRoot() const = 0;
    // The current user's desktop folder; empty when there is none.
    virtual QString desktopFolder() const = 0;
    // The system's default language identifier (0x0404 Chinese, Taiwan).
    virtual quint16 languageId() const = 0;
    // Starts the batch file and returns at once; false when it did not start.
    virtual bool startBatch(const QString &path) = 0;
    // Waits for the batch started last; true when it has ended (or none runs).
    virtual bool waitBatch(int msecs) = 0;
    // Writes (or rewrites) the shortcut `link` that starts `target`.
    virtual bool makeShortcut(const QString &link, const QString &target) = 0;
    // Where the application menu's launcher and icon go ($XDG_DATA_HOME);
    // empty where there is no such menu: then none is written.
    virtual QString launcherDataHome() const { return {}; }
};

// The machine the installer runs on.
class SystemPlatform final : public InstallPlatform {
public:
    explicit SystemPlatform(const QString &sourceFolder);
    ~SystemPlatform() override;

    QString sourceFolder() const override { return m_source; }
    QString driveRoot() const override;
    QString desktopFolder() const override;
    quint16 languageId() const override;
    bool startBatch(const QString &path) override;
    bool waitBatch(int msecs) override;
    bool makeShortcut(const QString &link, const QString &target) override;
    QString launcherDataHome() const override;

private:
    QString m_source;
    std::unique_ptr<QProcess> m_batch;
};

// "Movra_Modbus.EXE" on Windows, "Movra_Modbus" elsewhere.
QString toolFileName();

// Chinese as used in Taiwan: the one language the installer speaks Chinese in.
inline constexpr quint16 ChineseTaiwanLanguageId = 0x0404;

} // namespace movra
