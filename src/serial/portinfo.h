#pragma once
// Where a COM port goes on this machine, and why an open of it failed.
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace movra {

// The highest COM number a port takes (COM1 to COM256).
inline constexpr int MaxComNumber = 256;

// "COM17", any case, blanks around it ignored: 17 (1..256); empty when the text names no port.
std::optional<int> comNumberFromText(const QString &text);

// What the system knows of COMn's device.
struct PortInfo {
    QString name;       // "COM2"
    QString device;     // the device it opens, links followed: "/dev/ttyUSB0"
    bool present = false;      // the device is there (a listed serial port or a pty)
    bool pseudoTerminal = false;
    bool notSerial = false;    // something is there, but not a device (a file, a folder)
    QString description;       // as the serial port enumeration gives them
    QString manufacturer;
    QString serialNumber;
};

// COMn in `exeDir`: the link beside the executable followed to its device,
// or /dev/ttyS(n-1); on Windows COMn itself.
PortInfo portInfo(const QString &exeDir, int n);
// COM1 to COMcount, the ports enumerated once.
QList<PortInfo> portInfos(const QString &exeDir, int count);

// USB and ACM serial adapters (ttyUSB*, ttyACM* in `devRoot`) that no COMn
// entry in `linkFolder` leads to, in name order; each as its link in
// `byIdRoot` where one leads to it, otherwise as its path in `devRoot`.
QStringList unlinkedAdapters(const QString &linkFolder, const QString &devRoot = QStringLiteral("/dev"),
                             const QString &byIdRoot = QStringLiteral("/dev/serial/by-id"));

// The end of a chain of links: the device itself when the chain resolves,
// otherwise the last path it names.
QString followLinks(const QString &path);

// Why the last open failed; None after a good open.
enum class OpenFailure {
    None,
    NoDevice,         // nothing at the path, or no hardware behind it
    LinkLeadsNowhere, // COMn is a link to a path that does not exist
    PermissionDenied, // the user may not open it (not in the dialout group)
    InUse,            // another program holds it
    NotSerial,        // a file, folder or device that is not a serial line
    NoSuchPortName,   // the typed text names no port; detail holds the text
    SettingsRefused,  // the port refused the settings text; detail holds the text ("9600,X,8,1")
    Other,            // see detail
};

// One line parameter of the settings.
enum class LineParameter { BaudRate, Parity, DataBits, StopBits };

// A parameter the driver did not take: what was asked and what is in effect
// instead, each as in a settings text ("E", "N"; "19200"; "1.5").
struct RefusedSetting {
    LineParameter parameter = LineParameter::BaudRate;
    QString asked;
    QString inEffect;
    bool operator==(const RefusedSetting &) const = default;
};

// The device the last open tried and its outcome.
struct OpenStatus {
    QString device;   // links followed
    OpenFailure failure = OpenFailure::None;
    QString detail;   // the system's own text for Other; the text for NoSuchPortName, SettingsRefused
    // Linux, after a failed open: USB and ACM adapters that no COMn link in
    // linkFolder (the executable's folder) names, each by its
    // /dev/serial/by-id path where it has one, else its /dev path.
    QStringList unlinkedAdapters;
    QString linkFolder;
    // After a good open, or settings applied to the open port: each parameter
    // the driver did not take. The port is open with what it did take.
    QList<RefusedSetting> refused;
    bool operator==(const OpenStatus &) const = default;
};

// Sorts a failed open of `path` (the COMn path as opened) given the error
// the serial port reported (a QSerialPort::SerialPortError) and its text.
OpenStatus diagnoseOpenFailure(const QString &path, int serialError, const QString &errorText);

} // namespace movra
