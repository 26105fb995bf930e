#include "portinfo.h"

#include "qtcommport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSerialPort>
#include <QSerialPortInfo>


#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace movra {

namespace {

// More hops than this is a loop.
constexpr int MaxLinkHops = 40;

bool isLink(const QString &path)
{
    return QFileInfo(path).isSymLink();
}

} // namespace

std::optional<int> comNumberFromText(const QString &text)
{
    const QString t = text.trimmed();
    static const QString prefix = QStringLiteral("COM");
    if (!t.startsWith(prefix, Qt::CaseInsensitive) || t.size() == prefix.size())
        return std::nullopt;
    const QStringView digits = QStringView(t).mid(prefix.size());
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const int n = digits.toInt(&ok);
    if (!ok || n < 1 || n > MaxComNumber)
        return std::nullopt;
    return n;
}

QString followLinks(const QString &path)
{
    const QFileInfo file(path);
    const QString canonical = file.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    QString at = file.absoluteFilePath();
    for (int i = 0; i < MaxLinkHops && isLink(at); ++i)
        at = QFileInfo(at).symLinkTarget();
    return at;
}

namespace {

PortInfo portInfoFrom(const QList<QSerialPortInfo> &listed, const QString &exeDir, int n)
{
    PortInfo info;
    info.name = QStringLiteral("COM%1").arg(n);
#ifdef Q_OS_WIN
    info.device = portDevicePath(exeDir, n);
#else
    info.device = followLinks(portDevicePath(exeDir, n));
    info.pseudoTerminal = info.device.startsWith(QLatin1String("/dev/pts/"));
#endif
    const QFileInfo file(info.device);
    const bool exists = file.exists();
    for (const QSerialPortInfo &port : listed) {
        if (port.systemLocation() != info.device && port.portName() != info.device)
            continue;
        info.present = true;
        info.description = port.description();
        info.manufacturer = port.manufacturer();
        info.serialNumber = port.serialNumber();
        break;
    }
    // The enumeration lists no ptys; a node of a UART that is not fitted
    // (most /dev/ttyS*) is not listed either and counts as absent.
    if (info.pseudoTerminal && exists)
        info.present = true;
#ifndef Q_OS_WIN
    struct stat st {};
    info.notSerial = !info.present && exists
                     && ::stat(QFile::encodeName(info.device).constData(), &st) == 0
                     && !S_ISCHR(st.st_mode);
#endif
    return info;
}

} // namespace

PortInfo portInfo(const QString &exeDir, int n)
{
    return portInfoFrom(QSerialPortInfo::availablePorts(), exeDir, n);
}

QList<PortInfo> portInfos(const QString &exeDir, int count)
{
    const QList<QSerialPortInfo> listed = QSerialPortInfo::availablePorts();
    QList<PortInfo> out;
    for (int n = 1; n <= count; ++n)
        out.append(portInfoFrom(listed, exeDir, n));
    return out;
}

namespace {

// The COM number a file beside the executable stands for: its name exactly as
// portDevicePath looks for it ("COM17", not "com17" or "COM017").
std::optional<int> linkedComNumber(const QString &fileName)
{
    const std::optional<int> n = comNumberFromText(fileName);
    if (n && fileName == QStringLiteral("COM%1").arg(*n))
        return n;
    return std::nullopt;
}

} // namespace

QStringList unlinkedAdapters(const QString &linkFolder, const QString &devRoot, const QString &byIdRoot)
{
    const QStringList adapterPatterns{QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")};
    const QDir dev(devRoot);
    const QStringList adapters = dev.entryList(adapterPatterns, QDir::AllEntries | QDir::System, QDir::Name);
    if (adapters.isEmpty())
        return {};

    QSet<QString> linked;
    const QDir folder(linkFolder);
    for (const QString &name : folder.entryList({QStringLiteral("COM*")}, QDir::AllEntries | QDir::System))
        if (linkedComNumber(name))
            linked.insert(followLinks(folder.filePath(name)));

    QHash<QString, QString> byId; // device -> its stable name
    const QDir ids(byIdRoot);
    for (const QString &name : ids.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString device = followLinks(ids.filePath(name));
        if (!byId.contains(device))
            byId.insert(device, ids.filePath(name));
    }

    QStringList out;
    for (const QString &name : adapters) {
        const QString device = followLinks(dev.filePath(name));
        if (!linked.contains(device))
            out.append(byId.value(device, dev.filePath(name)));
    }
    return out;
}

OpenStatus diagnoseOpenFailure(const QString &path, int serialError, const QString &errorText)
{
    OpenStatus status;
#ifdef Q_OS_WIN
    status.device = path;
#else
    status.device = followLinks(path);
#endif
    const QByteArray device = QFile::encodeName(status.device);
#ifndef Q_OS_WIN
    struct stat st {};
    if (::stat(device.constData(), &st) != 0) {
        status.failure = isLink(path) ? OpenFailure::LinkLeadsNowhere : OpenFailure::NoDevice;
        return status;
    }
    if (!S_ISCHR(st.st_mode)) {
        status.failure = OpenFailure::NotSerial;
        return status;
    }
#endif
    switch (serialError) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::ResourceError: // EIO: a UART node with no UART behind it
        status.failure = OpenFailure::NoDevice;
        break;
    case QSerialPort::PermissionError:
        // Qt reports a refused open and a port locked or held exclusively by
        // another program alike; the file's permissions tell them apart.
#ifdef Q_OS_WIN
        status.failure = OpenFailure::InUse;
#else
        status.failure = ::access(device.constData(), R_OK | W_OK) == 0
                             ? OpenFailure::InUse
                             : OpenFailure::PermissionDenied;
#endif
        break;
    case QSerialPort::UnsupportedOperationError: // ENOTTY: not a terminal
        status.failure = OpenFailure::NotSerial;
        break;
    default:
        status.failure = OpenFailure::Other;
        status.detail = errorText;
        break;
    }
    return status;
}

} // namespace movra
