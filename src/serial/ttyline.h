#pragma once
// What a terminal's settings say of the line, read back with tcgetattr: for
// the port, which asks what the driver took, and for meter-sim, which asks
// what the tool set on its pseudo-terminal. Plain C++, no Qt.
#include <termios.h>

namespace movra {

// The baud rate a speed code stands for; 0 for a code this table does not
// know (a custom rate set another way).
inline int baudOfSpeed(speed_t speed)
{
    struct Pair {
        speed_t code;
        int baud;
    };
    static constexpr Pair rates[] = {
        {B50, 50}, {B75, 75}, {B110, 110}, {B134, 134}, {B150, 150}, {B200, 200}, {B300, 300},
        {B600, 600}, {B1200, 1200}, {B1800, 1800}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600},
        {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
#ifdef B460800
        {B460800, 460800}, {B500000, 500000}, {B576000, 576000}, {B921600, 921600},
        {B1000000, 1000000}, {B1152000, 1152000}, {B1500000, 1500000}, {B2000000, 2000000},
        {B2500000, 2500000}, {B3000000, 3000000}, {B3500000, 3500000}, {B4000000, 4000000},
#endif
    };
    for (const Pair &p : rates) {
        if (p.code == speed)
            return p.baud;
    }
    return 0;
}

// The parity letter the control flags give: N while parity is off, whatever
// else is set; M and S for stick parity.
inline char parityOfFlags(tcflag_t cflag)
{
    if (!(cflag & PARENB))
        return 'N';
#ifdef CMSPAR
    if (cflag & CMSPAR)
        return (cflag & PARODD) ? 'M' : 'S';
#endif
    return (cflag & PARODD) ? 'O' : 'E';
}

} // namespace movra
