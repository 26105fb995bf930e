#pragma once
// Small helpers shared by the tests, the benchmarks and the screenshot tool.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QTimer>
#include <cstdio>
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
