#include "wincommport.h"

#include <algorithm>
#include <limits>
#include <string>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace movra {

namespace {

HANDLE handleOf(void *h)
{
    return static_cast<HANDLE>(h);
}

QString systemMessage(DWORD error)
{
    wchar_t *text = nullptr;
    const DWORD size = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                          | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString message = QString::fromWCharArray(text, int(size)).trimmed();
    LocalFree(text);
    return message;
}

OpenStatus openFailure(const QString &device, DWORD error)
{
    OpenStatus status;
    status.device = device;
    status.failure = OpenFailure::Other;
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        status.failure = OpenFailure::NoDevice;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: // a COM port opens for one program at a time
        status.failure = OpenFailure::InUse;
        break;
    default:
        status.detail = systemMessage(error);
        break;
    }
    return status;
}

} // namespace

WinCommPort::WinCommPort(QObject *parent) : SerialPort(parent)
{
}

WinCommPort::~WinCommPort()
{
    close();
}

bool WinCommPort::setCommPort(int n)
{
    if (n < 1 || n > MaxComNumber || portOpen())
        return false;
    m_port = n;
    return true;
}

bool WinCommPort::setSettings(const LineSettings &settings)
{
    if (!settingsPossible(settings))
        return false;
    m_settings = settings;
    if (!portOpen())
        return true;
    applySettings();
    return m_openStatus.refused.isEmpty();
}

namespace {

LineSettings settingsOfDcb(const DCB &dcb)
{
    LineSettings s;
    s.baudRate = int(dcb.BaudRate);
    s.dataBits = dcb.ByteSize;
    // The parity on the line; fParity only says whether received parity is checked.
    switch (dcb.Parity) {
    case EVENPARITY: s.parity = 'E'; break;
    case ODDPARITY: s.parity = 'O'; break;
    case MARKPARITY: s.parity = 'M'; break;
    case SPACEPARITY: s.parity = 'S'; break;
    default: s.parity = 'N'; break;
    }
    s.stopBits = dcb.StopBits == TWOSTOPBITS ? 2 : dcb.StopBits == ONE5STOPBITS ? OneAndHalfStopBits : 1;
    return s;
}

} // namespace

// A driver that refuses the state as a whole keeps what it had; either way
// the state is read back and what differs is named in openStatus().
void WinCommPort::applySettings()
{
    m_openStatus.refused.clear();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handleOf(m_handle), &dcb))
        return;
    dcb.BaudRate = DWORD(m_settings.baudRate);
    dcb.ByteSize = BYTE(m_settings.dataBits);
    switch (m_settings.parity) {
    case 'E': dcb.Parity = EVENPARITY; break;
    case 'O': dcb.Parity = ODDPARITY; break;
    case 'M': dcb.Parity = MARKPARITY; break;
    case 'S': dcb.Parity = SPACEPARITY; break;
    default: dcb.Parity = NOPARITY; break;
    }
    dcb.fParity = dcb.Parity != NOPARITY;
    dcb.StopBits = m_settings.stopBits == 2                    ? TWOSTOPBITS
                   : m_settings.stopBits == OneAndHalfStopBits ? ONE5STOPBITS
                                                               : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    SetCommState(handleOf(m_handle), &dcb);
    DCB now{};
    now.DCBlength = sizeof now;
    if (GetCommState(handleOf(m_handle), &now))
        m_openStatus.refused = refusedSettings(m_settings, settingsOfDcb(now));
}

bool WinCommPort::setPortOpen(bool open)
{
    if (!open) {
        if (!portOpen())
            return false;
        close();
        return true;
    }
    if (portOpen())
        return false;
    const QString name = QStringLiteral("COM%1").arg(m_port);
    // The device namespace also reaches COM10 and above.
    const std::wstring path = (QStringLiteral("\\\\.\\") + name).toStdWString();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        m_openStatus = openFailure(name, GetLastError());
        return false;
    }
    m_handle = h;
    m_openStatus = OpenStatus{};
    m_openStatus.device = name;
    applySettings();
    // Reads return at once with what has arrived; writes wait until sent.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    SetCommTimeouts(h, &timeouts);
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return true;
}

void WinCommPort::close()
{
    if (m_handle) {
        CloseHandle(handleOf(m_handle));
        m_handle = nullptr;
    }
}

// The adapter went away or the driver failed: closed, and said once.
void WinCommPort::lose()
{
    close();
    emit linkLost();
}

bool WinCommPort::output(const QByteArray &bytes)
{
    if (!portOpen())
        return false;
    DWORD written = 0;
    if (!WriteFile(handleOf(m_handle), bytes.constData(), DWORD(bytes.size()), &written, nullptr)) {
        lose();
        return false;
    }
    return written == DWORD(bytes.size());
}

int WinCommPort::inBufferCount()
{
    if (!portOpen())
        return -1;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handleOf(m_handle), &errors, &status)) {
        lose();
        return -1;
    }
    return int(std::min<DWORD>(status.cbInQue, DWORD(std::numeric_limits<int>::max())));
}

QByteArray WinCommPort::input()
{
    QByteArray bytes;
    char chunk[4096];
    while (portOpen()) {
        DWORD got = 0;
        if (!ReadFile(handleOf(m_handle), chunk, sizeof chunk, &got, nullptr)) {
            lose();
            break;
        }
        if (got == 0)
            break;
        bytes.append(chunk, qsizetype(got));
    }
    return bytes;
}

} // namespace movra
