#include "records.h"

#include <QDir>
#include <QSaveFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdlib>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace movra {

namespace {
const QByteArray Bom("\xEF\xBB\xBF");
const QString CrLf = QStringLiteral("\r\n");
constexpr int SecondsPerMinute = 60;

QString number(int n)
{
    return n < 0 ? QString() : QString::number(n);
}

QString hexNumber(int n, int digits)
{
    return n < 0 ? QString() : QStringLiteral("%1").arg(n, digits, 16, QLatin1Char('0')).toUpper();
}

QByteArray joinRow(const QStringList &fields)
{
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString &f : fields)
        quoted << csvField(f);
    return (quoted.join(QLatin1Char(',')) + CrLf).toUtf8();
}

// What was written reaches the disk, so a power cut loses at most a batch.
void syncToDisk(QFile &file)
{
#ifdef Q_OS_WIN
    _commit(file.handle());
#else
    ::fsync(file.handle());
#endif
}
} // namespace

QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"'))
        && !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString doubled = text;
    doubled.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

QByteArray csvHeader()
{
    return joinRow({QStringLiteral("Time"), QStringLiteral("Sender"), QStringLiteral("Port"),
                    QStringLiteral("Baud rate"), QStringLiteral("Framing"), QStringLiteral("Slave"),
                    QStringLiteral("Function"), QStringLiteral("Register"), QStringLiteral("Data length"),
                    QStringLiteral("Entry"), QStringLiteral("Value"), QStringLiteral("Reason"),
                    QStringLiteral("Answer ms"), QStringLiteral("Request"), QStringLiteral("Answer")});
}

QByteArray csvRow(const RecordRow &row)
{
    constexpr int FunctionDigits = 2;
    constexpr int RegisterDigits = 4;
    return joinRow({isoTime(row.at), row.sender, row.port, row.baud, row.framing, number(row.slave),
                    hexNumber(row.function, FunctionDigits), hexNumber(row.reg, RegisterDigits),
                    number(row.length), row.entry, row.value, row.reason,
                    row.answerMs ? QString::number(*row.answerMs) : QString(), hexBytes(row.request),
                    hexBytes(row.answer)});
}

QString isoTime(const QDateTime &at)
{
    const int offsetMinutes = at.offsetFromUtc() / SecondsPerMinute;
    const int whole = std::abs(offsetMinutes);
    return at.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))
           + QStringLiteral("%1%2:%3")
                 .arg(offsetMinutes < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                 .arg(whole / SecondsPerMinute, 2, 10, QLatin1Char('0'))
                 .arg(whole % SecondsPerMinute, 2, 10, QLatin1Char('0'));
}

QString recordsFolder(const QString &base)
{
    return QDir(base).filePath(QStringLiteral("records"));
}

QString recordFileName(const QDateTime &start)
{
    return start.toString(QStringLiteral("yyyy-MM-dd HH-mm-ss")) + QStringLiteral(".csv");
}

QString hexBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString saveText(const QString &path, const QString &text)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.write(text.toUtf8());
    if (!file.commit())
        return file.errorString();
    return {};
}

// ---------------------------------------------------------------- Recorder

Recorder::Recorder(Options options, QObject *parent) : QObject(parent), m_options(std::move(options))
{
    m_timer.setInterval(FlushMs);
    m_timer.setSingleShot(true); // an idle recording wakes nothing
    connect(&m_timer, &QTimer::timeout, this, &Recorder::flush);
}

Recorder::~Recorder()
{
    // The last rows go as the tool ends, wherever it is.
    m_options.busy = [] { return false; };
    if (m_recording || m_stopping)
        stop();
}

bool Recorder::start()
{
    if (m_recording)
        return true;
    // Rows the last recording still holds (it stopped while a request
    // waited) go to the new file.
    m_stopping = false;
    m_fault = {};
    m_inFallback = false;
    if (!useFolder(m_options.folder)) {
        if (!useFolder(m_options.fallbackFolder)) {
            m_fault = {RecordFault::NoFolder, QString(), m_options.folder};
            emit changed();
            return false;
        }
        m_inFallback = true;
    }
    m_recording = true;
    startFile(m_options.now());
    emit changed();
    return true;
}

bool Recorder::useFolder(const QString &folder)
{
    if (folder.isEmpty() || !QDir().mkpath(folder) || !QFileInfo(folder).isWritable())
        return false;
    m_folder = folder;
    return true;
}

// The name only: the file is made by its first write.
void Recorder::startFile(const QDateTime &at)
{
    m_file.close();
    m_path = QDir(m_folder).filePath(recordFileName(at));
    m_day = at.date();
    m_size = 0;
}

void Recorder::stop()
{
    if (!m_recording)
        return;
    m_recording = false;
    m_stopping = true;
    flush();
    emit changed();
}

void Recorder::add(const RecordRow &row)
{
    if (!m_recording)
        return;
    m_pending.push_back({row.at.date(), row.at, csvRow(row)});
    if (m_due)
        flush();
    else if (!m_timer.isActive())
        m_timer.start();
}

void Recorder::flush()
{
    if (m_options.busy()) {
        m_due = true; // the row of the request on the line writes it
        if (m_stopping)
            m_timer.start(); // no row comes: ask again
        return;
    }
    m_due = false;
    QByteArray batch;
    for (const Pending &row : m_pending) {
        // A file not yet made holds its header once it is.
        const qint64 inFile = m_size == 0 ? Bom.size() + csvHeader().size() : m_size;
        const bool sameFile = row.day == m_day
                              && (inFile + batch.size() + row.bytes.size() <= m_options.maxFileBytes
                                  || (m_size == 0 && batch.isEmpty()));
        if (!sameFile) {
            if (!batch.isEmpty() && !write(batch))
                return;
            batch.clear();
            startFile(row.at);
            emit changed();
        }
        batch += row.bytes;
    }
    m_pending.clear();
    if (!batch.isEmpty() && !write(batch))
        return;
    if (m_stopping)
        close();
}

bool Recorder::openFile()
{
    if (m_file.isOpen())
        return true;
    m_file.setFileName(m_path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        fail(QFileInfo::exists(m_folder) ? RecordFault::WriteFailed : RecordFault::FolderGone,
             m_file.errorString());
        return false;
    }
    m_size = m_file.size();
    return true;
}

// One write for the batch; a new file gets the byte order mark and the
// header in the same write. A write cut short is cut back to the last whole row.
bool Recorder::write(const QByteArray &rows)
{
    if (m_file.isOpen() && !QFileInfo::exists(m_path)) {
        fail(RecordFault::FolderGone, QString());
        return false;
    }
    if (!openFile())
        return false;
    const QByteArray bytes = m_size == 0 ? Bom + csvHeader() + rows : rows;
    const qint64 written = m_file.write(bytes);
    if (written != bytes.size()) {
        const QString why = m_file.errorString();
        if (!m_file.isSequential())
            m_file.resize(m_size);
        fail(RecordFault::WriteFailed, why);
        return false;
    }
    syncToDisk(m_file);
    m_size += bytes.size();
    return true;
}

void Recorder::fail(RecordFault::Kind kind, const QString &detail)
{
    m_fault = {kind, detail, m_path};
    m_pending.clear();
    m_recording = false;
    close();
    emit changed();
}

void Recorder::close()
{
    m_timer.stop();
    m_file.close();
    m_pending.clear();
    m_stopping = false;
    m_due = false;
}

} // namespace movra
