#pragma once
// SerialPort on the Windows communications driver, polled: the received
// count from ClearCommError, the bytes from a ReadFile that returns at once.
#include "commport.h"

namespace movra {

class WinCommPort : public SerialPort {
    Q_OBJECT
public:
    explicit WinCommPort(QObject *parent = nullptr);
    ~WinCommPort() override;

    bool setCommPort(int n) override;
    int commPort() const override { return m_port; }
    bool setSettings(const LineSettings &settings) override;
    LineSettings settings() const override { return m_settings; }
    bool setPortOpen(bool open) override;
    bool portOpen() const override { return m_handle != nullptr; }
    bool output(const QByteArray &bytes) override;
    int inBufferCount() override;
    QByteArray input() override;
    OpenStatus openStatus() const override { return m_openStatus; }

private:
    void applySettings();
    void close();
    void lose();

    int m_port = 1;
    LineSettings m_settings;
    void *m_handle = nullptr; // HANDLE of the open port
    OpenStatus m_openStatus;
};

} // namespace movra
