#include "qtcommport.h"

#include <QDir>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <QSerialPort>

#include <algorithm>
#include <limits>

#ifndef Q_OS_WIN
#include "ttyline.h"
#include <termios.h>
#endif

namespace movra {

QString portDevicePath(const QString &exeDir, int n)
{
    const QString name = QStringLiteral("COM%1").arg(n);
#ifdef Q_OS_WIN
    Q_UNUSED(exeDir);
    return name;
#else
    const QString local = QDir(exeDir).filePath(name);
    // A link whose device has gone (an unplugged adapter, an ended pty) still
    // names this port: opening it fails, rather than opening another port.
    const QFileInfo file(local);
    if (file.isSymLink() || file.exists())
        return local;
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

#ifndef Q_OS_WIN

QtCommPort::QtCommPort(const QString &exeDir, QObject *parent)
    : SerialPort(parent), m_exeDir(exeDir), m_serial(new QSerialPort(this))
{
    connect(m_serial, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { onError(error); });
    // Bytes that fetch() pulls in are the poller's own: it has them already.
    connect(m_serial, &QSerialPort::readyRead, this, [this] {
        if (!m_fetching)
            emit bytesArrived();
    });
}

QtCommPort::~QtCommPort()
{
    if (m_serial->isOpen())
        m_serial->close();
}

bool QtCommPort::setCommPort(int n)
{
    if (n < 1 || n > MaxComNumber || usable())
        return false;
    m_port = n;
    return true;
}

int QtCommPort::commPort() const
{
    return m_port;
}

bool QtCommPort::setSettings(const LineSettings &settings)
{
    if (!settingsPossible(settings))
        return false;
    m_settings = settings;
    if (!usable())
        return true;
    applySettings();
    return m_openStatus.refused.isEmpty();
}

LineSettings QtCommPort::settings() const
{
    return m_settings;
}

// Each line parameter on its own, a refusal ignored: a pseudo-terminal takes
// the baud rate but not parity, and the port is usable all the same. What the
// driver did not take is then read back and named in openStatus().
void QtCommPort::applySettings()
{
    const auto attempt = [this](bool ok) {
        if (!ok)
            m_serial->clearError();
    };
    attempt(m_serial->setBaudRate(m_settings.baudRate));
    attempt(m_serial->setDataBits(QSerialPort::DataBits(m_settings.dataBits)));
    QSerialPort::Parity parity = QSerialPort::NoParity;
    switch (m_settings.parity) {
    case 'E': parity = QSerialPort::EvenParity; break;
    case 'O': parity = QSerialPort::OddParity; break;
    case 'M': parity = QSerialPort::MarkParity; break;
    case 'S': parity = QSerialPort::SpaceParity; break;
    default: break;
    }
    attempt(m_serial->setParity(parity));
    QSerialPort::StopBits stop = QSerialPort::OneStop;
    if (m_settings.stopBits == 2)
        stop = QSerialPort::TwoStop;
    else if (m_settings.stopBits == OneAndHalfStopBits)
        stop = QSerialPort::OneAndHalfStop;
    attempt(m_serial->setStopBits(stop));
    attempt(m_serial->setFlowControl(QSerialPort::NoFlowControl));

    m_openStatus.refused.clear();
    termios t{};
    if (::tcgetattr(int(m_serial->handle()), &t) != 0)
        return; // cannot tell: taken as asked
    // No parity leaves the odd flag set after O; clear it, so that the line
    // tells no parity from odd parity also where only that flag shows.
    if (parity == QSerialPort::NoParity && (t.c_cflag & PARODD)) {
        t.c_cflag &= ~tcflag_t(PARODD);
        ::tcsetattr(int(m_serial->handle()), TCSANOW, &t);
    }
    m_openStatus.refused = refusedSettings(m_settings, inEffect(t));
}

LineSettings QtCommPort::inEffect(const termios &t) const
{
    LineSettings s;
    s.baudRate = baudOfSpeed(cfgetospeed(&t));
    s.parity = parityOfFlags(t.c_cflag);
    switch (t.c_cflag & CSIZE) {
    case CS5: s.dataBits = 5; break;
    case CS6: s.dataBits = 6; break;
    case CS7: s.dataBits = 7; break;
    default: s.dataBits = 8; break;
    }
    // Two stop bits at 5 data bits are 1.5 on the wire.
    if (!(t.c_cflag & CSTOPB))
        s.stopBits = 1;
    else
        s.stopBits = s.dataBits == 5 && m_settings.stopBits == OneAndHalfStopBits ? OneAndHalfStopBits : 2;
    return s;
}

bool QtCommPort::setPortOpen(bool open)
{
    if (!open) {
        if (!m_serial->isOpen())
            return false;
        m_serial->close();
        m_serial->clearError();
        return true;
    }
    if (usable())
        return false;
    if (m_serial->isOpen()) // still held after a lost link
        m_serial->close();
    const QString path = portDevicePath(m_exeDir, m_port);
    // The device itself, not the link: the lock that keeps two programs off
    // one port is named after the device.
    m_serial->setPortName(followLinks(path));
    // QSerialPort applies its stored parameters inside open() and fails the
    // whole open when one is refused, so open with plain 8,N,1 and set the
    // chosen parameters afterwards.
    m_serial->setBaudRate(m_settings.baudRate);
    m_serial->setDataBits(QSerialPort::Data8);
    m_serial->setParity(QSerialPort::NoParity);
    m_serial->setStopBits(QSerialPort::OneStop);
    m_serial->setFlowControl(QSerialPort::NoFlowControl);
    m_linkLost = false;
    if (!m_serial->open(QIODevice::ReadWrite)) {
        m_openStatus = diagnoseOpenFailure(path, m_serial->error(), m_serial->errorString());
        m_serial->clearError();
        // An adapter plugged in but not yet linked as any COM number is the
        // likely port the operator meant.
        m_openStatus.unlinkedAdapters = unlinkedAdapters(m_exeDir);
        m_openStatus.linkFolder = QDir(m_exeDir).absolutePath();
        return false;
    }
    m_openStatus = OpenStatus{};
    m_openStatus.device = followLinks(path);
    applySettings();
    return true;
}

bool QtCommPort::portOpen() const
{
    return usable();
}

bool QtCommPort::usable() const
{
    return m_serial->isOpen() && !m_linkLost;
}

bool QtCommPort::output(const QByteArray &bytes)
{
    if (!usable())
        return false;
    const qint64 written = m_serial->write(bytes);
    if (written != bytes.size())
        return false;
    // Hand the bytes to the driver now rather than at the next event loop pass.
    m_serial->flush();
    return usable();
}

// Moves what the driver has received into QSerialPort's buffer. Without this
// bytesAvailable() only grows when the event loop has run the read notifier.
void QtCommPort::fetch()
{
    // Each pass takes everything the driver holds; a few more catch bytes
    // that land meanwhile.
    const QScopedValueRollback fetching(m_fetching, true);
    for (int i = 0; i < 4 && usable(); ++i) {
        if (!m_serial->waitForReadyRead(0))
            break;
    }
    if (m_serial->error() == QSerialPort::TimeoutError)
        m_serial->clearError();
}

int QtCommPort::inBufferCount()
{
    if (!usable())
        return -1;
    fetch();
    if (!usable())
        return -1;
    return int(std::min<qint64>(m_serial->bytesAvailable(), std::numeric_limits<int>::max()));
}

QByteArray QtCommPort::input()
{
    if (!usable())
        return {};
    fetch();
    return m_serial->readAll();
}

void QtCommPort::onError(int error)
{
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        break;
    default:
        return;
    }
    if (!m_serial->isOpen() || m_linkLost)
        return;
    m_linkLost = true;
    // Close later, outside QSerialPort's own call that reported the error; a
    // pty that lost its other end would otherwise wake the read notifier on
    // every pass of the event loop.
    QMetaObject::invokeMethod(this, [this] {
        if (m_linkLost && m_serial->isOpen())
            m_serial->close();
        m_serial->clearError();
    }, Qt::QueuedConnection);
    emit linkLost();
}

#endif // Q_OS_WIN

} // namespace movra
