#pragma once
// Small helpers shared by the tests, the benchmarks and the screenshot tool.
#include <QByteArray>
#include <ctime>

namespace movra::test {

// Bytes from hex digits; spaces between them are skipped: hex("01 03 00 00").
inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// Processor time this process has used so far, user and system, in seconds.
inline double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

} // namespace movra::test
