// The records: CSV rows, and the recorder's files, batches and faults.
#include "records.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif
using namespace movra;

namespace {
const QByteArray Bom("\xEF\xBB\xBF");

QDateTime at(int h, int m, int s, int ms = 0, int offset = 0)
{
    return QDateTime(QDate(2026, 12, 8), QTime(h, m, s, ms), Qt::OffsetFromUTC, offset);
}

RecordRow rowAt(const QDateTime &t)
{
    return {t, "scan", {}, {}, {}, 1, 3, 0x10, 2, "VOLT", "250", {}, {}, {}, {}};
}
} // namespace

class TestRecords : public QObject {
    Q_OBJECT
private slots:
    void csvField_data();
    void csvField();
    void row();
    void recorder_data();
    void recorder();
};

void TestRecords::csvField_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");
    QTest::newRow("plain as it is") << "VOLT" << "VOLT";
    QTest::newRow("Chinese as it is") << "電壓" << "電壓";
    QTest::newRow("a comma quoted") << "Exception 02: a, b" << "\"Exception 02: a, b\"";
    QTest::newRow("quotes doubled") << "say \"x\"" << "\"say \"\"x\"\"\"";
    QTest::newRow("a line end quoted") << "a\nb" << "\"a\nb\"";
}

void TestRecords::csvField()
{
    QFETCH(QString, text);
    QFETCH(QString, field);
    QCOMPARE(movra::csvField(text), field);
}

void TestRecords::row()
{
    const RecordRow r{at(14, 3, 11, 7, 8 * 3600), "manual", "COM1", "9600", "N,8,1", 1, 3, 0x1A, 2, {}, "10",
                      "Answer in 23 ms", 23, QByteArray::fromHex("0103001A0001A5CD"), QByteArray::fromHex("010302000AB843")};
    QCOMPARE(csvRow(r), QByteArray("2026-12-08T14:03:11.007+08:00,manual,COM1,9600,\"N,8,1\",1,03,001A,2,,10,"
                                   "Answer in 23 ms,23,01 03 00 1A 00 01 A5 CD,01 03 02 00 0A B8 43\r\n"));
    QCOMPARE(isoTime(at(0, 0, 0, 0, -(3 * 3600 + 30 * 60))), QStringLiteral("2026-12-08T00:00:00.000-03:30"));
}

// Steps: "start", "row" (one row now, then a second later), "+N" seconds,
// "flush", "busy"/"idle", "expect N" rows on disk, "full" (the next file is
// /dev/full), "cap N" (files may grow to N rows and a half), "rmdir".
void TestRecords::recorder_data()
{
    QTest::addColumn<QDateTime>("begin");
    QTest::addColumn<int>("maxRows"); // per file; 0: the default limit
    QTest::addColumn<bool>("blocked"); // the folder beside the executable cannot be made
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("files"); // name: rows
    QTest::addColumn<int>("fault");
    const QDateTime noon = at(12, 0, 0);
    const QStringList none; // no file
    QTest::newRow("rows wait for the batch, one file")
        << noon << 0 << false << QStringList{"start", "row", "row", "expect 0", "flush", "expect 2", "row", "flush"}
        << QStringList{"2026-12-08 12-00-00.csv: 3"} << int(RecordFault::None);
    QTest::newRow("midnight starts a new file")
        << at(23, 59, 58) << 0 << false << QStringList{"start", "row", "row", "row", "flush"}
        << QStringList{"2026-12-08 23-59-58.csv: 2", "2026-12-09 00-00-00.csv: 1"} << int(RecordFault::None);
    QTest::newRow("a full file starts a new one")
        << noon << 2 << false << QStringList{"start", "row", "row", "row", "row", "row", "flush"}
        << QStringList{"2026-12-08 12-00-00.csv: 2", "2026-12-08 12-00-02.csv: 2", "2026-12-08 12-00-04.csv: 1"}
        << int(RecordFault::None);
    QTest::newRow("nothing written while a request waits")
        << noon << 0 << false << QStringList{"start", "busy", "row", "flush", "expect 0", "idle", "row", "expect 2"}
        << QStringList{"2026-12-08 12-00-00.csv: 2"} << int(RecordFault::None);
    QTest::newRow("the folder beside the executable blocked: the per-user one")
        << noon << 0 << true << QStringList{"start", "row", "flush"} << QStringList{"2026-12-08 12-00-00.csv: 1"}
        << int(RecordFault::None);
#ifdef Q_OS_UNIX
    QTest::newRow("a full disk stops the recording")
        << noon << 0 << false << QStringList{"start", "full", "row", "flush"} << none << int(RecordFault::WriteFailed);
    QTest::newRow("a write cut short goes back to the last whole row")
        << noon << 0 << false << QStringList{"start", "row", "flush", "cap 2", "row", "row", "flush", "row", "flush"}
        << QStringList{"2026-12-08 12-00-00.csv: 1"} << int(RecordFault::WriteFailed);
    // Windows keeps a folder whose file is open.
    QTest::newRow("the folder removed stops the recording")
        << noon << 0 << false << QStringList{"start", "row", "flush", "rmdir", "row", "flush"} << none
        << int(RecordFault::FolderGone);
#endif
}

void TestRecords::recorder()
{
    QFETCH(QDateTime, begin);
    QFETCH(int, maxRows);
    QFETCH(bool, blocked);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, files);
    QFETCH(int, fault);
    QTemporaryDir tmp;
    const qint64 header = Bom.size() + csvHeader().size();
    const qint64 rowBytes = csvRow(rowAt(begin)).size();
    QDateTime now = begin;
    bool busy = false;
    Recorder::Options options;
    options.folder = tmp.filePath(blocked ? QStringLiteral("file/records") : QStringLiteral("records"));
    options.fallbackFolder = tmp.filePath(QStringLiteral("user/records"));
    options.now = [&] { return now; };
    options.busy = [&] { return busy; };
    if (maxRows)
        options.maxFileBytes = header + maxRows * rowBytes;
    if (blocked)
        QFile(tmp.filePath(QStringLiteral("file"))).open(QIODevice::WriteOnly);
    Recorder recorder(options);
    auto rowsOnDisk = [&](const QString &folder) {
        QStringList found;
        for (const QFileInfo &f : QDir(folder).entryInfoList({QStringLiteral("*.csv")}, QDir::Files | QDir::NoSymLinks)) {
            QFile file(f.filePath());
            file.open(QIODevice::ReadOnly);
            const QByteArray bytes = file.readAll();
            if (!bytes.startsWith(Bom + csvHeader()) || !bytes.endsWith("\r\n") || f.size() > options.maxFileBytes)
                found << f.fileName() + QStringLiteral(": malformed");
            else
                found << f.fileName() + QStringLiteral(": %1").arg(bytes.count("\r\n") - 1);
        }
        return found;
    };
    const QString folder = blocked ? options.fallbackFolder : options.folder;
    for (const QString &step : steps) {
        if (step == QLatin1String("start")) {
            QVERIFY(recorder.start());
            QCOMPARE(recorder.inFallback(), blocked);
        } else if (step == QLatin1String("row")) {
            recorder.add(rowAt(now));
            now = now.addSecs(1);
        } else if (step.startsWith(QLatin1Char('+'))) {
            now = now.addSecs(step.toInt());
        } else if (step == QLatin1String("flush")) {
            recorder.flush();
        } else if (step == QLatin1String("busy") || step == QLatin1String("idle")) {
            busy = step == QLatin1String("busy"); // rows written only when idle
        } else if (step.startsWith(QLatin1String("expect "))) {
            int total = 0;
            for (const QString &f : rowsOnDisk(folder))
                total += f.section(QLatin1Char(' '), -1).toInt();
            QCOMPARE(total, step.mid(7).toInt());
        } else if (step == QLatin1String("full")) {
            QVERIFY(QFile::link(QStringLiteral("/dev/full"), recorder.filePath()));
        } else if (step.startsWith(QLatin1String("cap "))) {
#ifdef Q_OS_UNIX
            std::signal(SIGXFSZ, SIG_IGN);
            const rlim_t cap = header + step.mid(4).toInt() * rowBytes + rowBytes / 2;
            rlimit was{};
            getrlimit(RLIMIT_FSIZE, &was);
            const rlimit limit{cap, was.rlim_max};
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
            QObject::connect(&recorder, &QObject::destroyed, [was] { setrlimit(RLIMIT_FSIZE, &was); }); // row's end
#endif
        } else if (step == QLatin1String("rmdir")) {
            QVERIFY(QDir(options.folder).removeRecursively());
        } else {
            QFAIL(qPrintable(step));
        }
    }
    QCOMPARE(rowsOnDisk(folder), files);
    QCOMPARE(int(recorder.fault().kind), fault);
    QCOMPARE(recorder.recording(), fault == RecordFault::None);
    if (fault != RecordFault::None)
        QVERIFY(!recorder.fault().path.isEmpty());
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
