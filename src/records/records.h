#pragma once
// The records: one CSV row per request (RFC 4180, UTF-8 with a byte order
// mark, CR LF line ends, a header row), written in batches to files named by
// the time they start. A new file starts at local midnight and at a size
// limit; a failed write is cut back to the last whole row and stops the
// recording with its reason.
#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>
#include <vector>

namespace movra {

// One request as a row: what sent it, where, what it asked and what came.
struct RecordRow {
    QDateTime at; // local time, when the outcome was known
    QString sender;
    QString port;
    QString baud;
    QString framing;
    int slave = -1;    // -1: none (a request that could not be built)
    int function = -1;
    int reg = -1;
    int length = -1;   // data length in bytes
    QString entry;     // the model entry's name
    QString value;     // as shown; empty: none
    QString reason;    // as the value's tooltip words it
    std::optional<int> answerMs;
    QByteArray request;
    QByteArray answer;
};

// A field as RFC 4180 has it: quoted when it holds a comma, a quote or a
// line end, its quotes doubled.
QString csvField(const QString &text);
// The header row and a row, each ended by CR LF, in UTF-8.
QByteArray csvHeader();
QByteArray csvRow(const RecordRow &row);
// ISO 8601 local time with milliseconds and the UTC offset:
// "2026-12-08T14:03:11.123+08:00".
QString isoTime(const QDateTime &at);
// The records' folder below `base`: the executable's or the per-user data folder.
QString recordsFolder(const QString &base);
// "2026-12-08 14-03-11.csv"
QString recordFileName(const QDateTime &start);
// Bytes as hex, "01 03 00 00", for the request and answer columns.
QString hexBytes(const QByteArray &bytes);

// A log as it is shown, in UTF-8; empty when saved, else why not.
QString saveText(const QString &path, const QString &text);

// Why a recording stopped, or could not start.
struct RecordFault {
    enum Kind {
        None,
        NoFolder,    // neither records folder can be made or written
        FolderGone,  // the file or its folder went away (a stick pulled, a folder removed)
        WriteFailed, // the write failed: `detail` says why (a full disk, …)
    };
    Kind kind = None;
    QString detail; // the system's words
    QString path;   // the file or folder concerned
};

class Recorder : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 MaxFileBytes = 64LL * 1024 * 1024;
    // A batch is written this long after its first row, or as the request
    // on the line then ends.
    static constexpr int FlushMs = 1000;

    struct Options {
        QString folder;         // records beside the executable
        QString fallbackFolder; // the per-user data folder's records
        std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
        // A request is on the line: its wait runs a nested event loop, and
        // nothing is written inside it.
        std::function<bool()> busy = [] { return false; };
        qint64 maxFileBytes = MaxFileBytes;
    };

    explicit Recorder(Options options, QObject *parent = nullptr);
    ~Recorder() override;

    // Starts a recording; false, with the fault, when no folder takes it.
    bool start();
    // Ends it: pending rows are written once no request is on the line.
    void stop();
    bool recording() const { return m_recording; }
    // Rows of a new file each begin there; the first row creates it.
    void add(const RecordRow &row);
    // Writes the pending rows, one write per file, unless a request is on the line.
    void flush();

    QString filePath() const { return m_path; }
    // The folder beside the executable could not be used.
    bool inFallback() const { return m_inFallback; }
    const RecordFault &fault() const { return m_fault; }

signals:
    // Started, stopped, a new file, or a fault.
    void changed();

private:
    struct Pending {
        QDate day;
        QDateTime at;
        QByteArray bytes;
    };
    bool useFolder(const QString &folder);
    bool openFile();
    bool write(const QByteArray &bytes);
    void startFile(const QDateTime &at);
    void fail(RecordFault::Kind kind, const QString &detail);
    void close();

    Options m_options;
    QString m_folder;
    QString m_path;
    QDate m_day;      // the local day the file started on
    QFile m_file;     // open once its first batch is written
    qint64 m_size = 0; // bytes of whole rows in the file
    std::vector<Pending> m_pending;
    bool m_recording = false;
    bool m_stopping = false;
    bool m_due = false; // a write fell inside a request's wait
    bool m_inFallback = false;
    RecordFault m_fault;
    QTimer m_timer;
};

} // namespace movra
