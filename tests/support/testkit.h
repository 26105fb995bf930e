#pragma once
// Small helpers shared by the tests, the benchmarks and the screenshot tool.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

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

// Resident memory, KiB, from /proc/self/status; -1 where there is none.
inline qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// The middle of the values; 0 for none.
inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

// Writes a file below `dir` ("item/X.TXT"), making its folders; false when
// it cannot be written. For files that must be there before a window starts.
inline bool writeFileBelow(const QString &dir, const QString &relative, const QByteArray &bytes)
{
    QDir(dir).mkpath(QFileInfo(relative).path());
    QFile f(QDir(dir).filePath(relative));
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// A benchmark runs offscreen unless QT_QPA_PLATFORM says otherwise, and
// prints line by line. Call before the application object is made.
inline void benchEnvironment()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

// One tick of a timer, as the timer raises it.
inline void tick(QTimer *timer)
{
    QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection);
}

} // namespace movra::test
