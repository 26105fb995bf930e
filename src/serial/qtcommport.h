#pragma once
// SerialPort on Qt SerialPort.
#include "commport.h"
#include <QString>

class QSerialPort;
struct termios;

namespace movra {

// COMn as a device: on Windows "COMn"; elsewhere the file named COMn in the
// executable's folder when there is one (a symbolic link to a tty, or a
// pseudo-terminal), otherwise /dev/ttyS(n-1).
QString portDevicePath(const QString &exeDir, int n);

#ifndef Q_OS_WIN
// On Windows the driver is polled directly (WinCommPort).
class QtCommPort : public SerialPort {
    Q_OBJECT
public:
    explicit QtCommPort(const QString &exeDir, QObject *parent = nullptr);
    ~QtCommPort() override;

    bool setCommPort(int n) override;
    int commPort() const override;
    bool setSettings(const LineSettings &settings) override;
    LineSettings settings() const override;
    bool setPortOpen(bool open) override;
    bool portOpen() const override;
    bool output(const QByteArray &bytes) override;
    int inBufferCount() override;
    QByteArray input() override;
    OpenStatus openStatus() const override { return m_openStatus; }
    bool signalsArrivals() const override { return true; } // from readyRead

private:
    void applySettings();
    LineSettings inEffect(const termios &t) const;
    void onError(int error);
    bool usable() const;
    void fetch();

    QString m_exeDir;
    int m_port = 1;
    LineSettings m_settings;
    QSerialPort *m_serial;
    bool m_linkLost = false;
    bool m_fetching = false;
    OpenStatus m_openStatus;
};

#endif

} // namespace movra
