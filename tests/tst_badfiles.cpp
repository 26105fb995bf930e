// Bad files beside the executable and odd model names: the tool starts, keeps
// working, skips what it cannot read, and shows only values that came in valid
// answers. Against a scripted meter on virtual time.
#include "captions.h"
#include "form1fixture.h"
#include "lineio.h"
#include "widgets.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>
#include <sys/stat.h>

using namespace movra;
using movra::test::hex;
using movra::test::ModelWindow;
using movra::test::Window;
using movra::test::items;
using movra::test::padded;
using movra::test::writeFileBelow;

namespace {

constexpr std::uint16_t Chinese = 0x0404;
constexpr std::uint16_t English = 0x0409;
constexpr qsizetype MB = 1024 * 1024;


QString nul(int n = 1)
{
    return QString(n, QChar(0));
}

// The meter's registers: isolated addresses, so a read of more than one
// register always gets an exception; each value is 1000 + its address.
const QList<quint16> meterRegisters = {0x10, 0x20, 0x30, 0x40};

void stock(FakeMeter *meter)
{
    for (quint16 a : meterRegisters)
        meter->setRegister(a, quint16(1000 + a));
}

// The value a valid answer to this request carries for the tool: a one-register
// read of a register the meter has. Every other request gets an exception.
QString valueFor(const QByteArray &request)
{
    const int address = (quint8(request[2]) << 8) | quint8(request[3]);
    const int count = (quint8(request[4]) << 8) | quint8(request[5]);
    if (quint8(request[0]) != 1 || request[1] != 3 || count != 1 || !meterRegisters.contains(address))
        return {};
    return QString::number(1000 + address);
}

// Not text: a PNG header, then pseudo-random bytes.
QByteArray binaryBytes(qsizetype size, quint32 seed)
{
    QByteArray out("\x89PNG\r\n\x1a\n", 8);
    QRandomGenerator gen(seed);
    while (out.size() < size)
        out.append(char(gen.generate() & 0xFF));
    return out;
}

// Pseudo-random bytes without line ends.
QByteArray binaryLine(qsizetype size, quint32 seed)
{
    QByteArray out = binaryBytes(size + 8, seed).mid(8);
    out.replace('\r', 'x').replace('\n', 'y');
    return out;
}

// Puts `content` at `relative` below `dir`. "<removed>", "<folder>", "<pipe>"
// and "<device>" stand for no file, a folder, a named pipe with no writer and a
// link to an endless device; any other content is written as Latin-1, one byte
// per character.
bool putBelow(const QString &dir, const QString &relative, const QString &content)
{
    const QString path = QDir(dir).filePath(relative);
    QFile::remove(path);
    QDir(path).removeRecursively();
    if (content == QLatin1String("<removed>"))
        return !QFileInfo::exists(path);
    if (content == QLatin1String("<folder>"))
        return QDir().mkpath(path);
    if (content == QLatin1String("<pipe>"))
        return QDir().mkpath(QFileInfo(path).path()) && ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    if (content == QLatin1String("<device>"))
        return QDir().mkpath(QFileInfo(path).path()) && QFile::link(QStringLiteral("/dev/zero"), path);
    return writeFileBelow(dir, relative, content.toLatin1());
}

// A folder that stands for the executable's, filled before the window starts.
struct Folder {
    QTemporaryDir dir;
    QString path(const QString &relative = {}) const
    {
        return relative.isEmpty() ? dir.path() : dir.filePath(relative);
    }
    bool write(const QString &relative, const QByteArray &bytes) const
    {
        return writeFileBelow(dir.path(), relative, bytes);
    }
    bool put(const QString &relative, const QString &content) const { return putBelow(dir.path(), relative, content); }
};

// The model window's file M replaced (see putBelow).
bool putModel(const ModelWindow &w, const QString &content)
{
    return putBelow(w.dirPath, QStringLiteral("item/M.TXT"), content);
}

// The model window with its port open and the meter stocked.
void openStocked(ModelWindow &w)
{
    w.open();
    stock(w.fake);
}

} // namespace

class BadFilesTest : public QObject {
    Q_OBJECT
private slots:
    void setupList_data();
    void setupList();
    void filesThatAreNoFiles_data();
    void filesThatAreNoFiles();
    void connectWithBadModelFile_data();
    void connectWithBadModelFile();
    void scanWithChangingModelFile_data();
    void scanWithChangingModelFile();
    void refusedReadListsNoValue();
    void typedModelNames_data();
    void typedModelNames();
};

// ---------------------------------------------------------------- the setup list

void BadFilesTest::setupList_data()
{
    QTest::addColumn<QByteArray>("setup");
    QTest::addColumn<int>("langId");
    QTest::addColumn<QStringList>("names");

    static const QByteArray manyLines = [] {
        QByteArray b = "25\r\n";
        for (int i = 1; i <= 25; ++i)
            b += "MV-" + QByteArray::number(i) + "\r\n";
        const QByteArray filler = QByteArray(62, 'z') + "\r\n";
        while (b.size() < 10 * MB)
            b += filler;
        return b;
    }();
    QStringList first18;
    for (int i = 1; i <= 18; ++i)
        first18 << QStringLiteral("MV-%1").arg(i);
    static const QByteArray noLineEnd = "18" + QByteArray(10 * MB, 'x');
    static const QByteArray lineEnds = QByteArray("\r\n").repeated(5 * MB);
    static const QByteArray digits = QByteArray(10 * MB, '7');
    static const QByteArray longName(MB, 'B');
    // 81H is undefined in Windows-1252, and in code page 950 a lead byte that
    // no 81H follows.
    static const QByteArray undefinedBytes(10 * MB, '\x81');
    static const QByteArray binary = binaryBytes(MB, 1);
    static const QByteArray binaryNames[] = {binaryLine(200, 2), binaryLine(200, 3), binaryLine(200, 4)};

    for (const std::uint16_t lang : {English, Chinese}) {
        const char *cp = lang == Chinese ? "0x0404" : "0x0409";
        auto row = [&](const char *name, const QByteArray &setup, const QStringList &names) {
            QTest::addRow("%s, %s", name, cp) << setup << int(lang) << padded(names);
        };
        row("10 MB of model lines: the first 18", manyLines, first18);
        row("10 MB without a line end: no names", noLineEnd, {});
        row("10 MB of line ends: no names", lineEnds, {});
        row("10 MB of digits in line 1: out of range, no names", digits, {});
        row("a 1 MB name between two others", "3\r\nA\r\n" + longName + "\r\nC\r\n",
            {"A", QString::fromLatin1(longName), "C"});
        row("a 1 MB name, selected at start-up", "2\r\n" + longName + "\r\nC",
            {QString::fromLatin1(longName), "C"});
        row("10 MB of undefined bytes in line 1: no names", undefinedBytes, {});
        row("a 10 MB name of undefined bytes", "1\r\n" + undefinedBytes,
            {QString(10 * MB, QChar::ReplacementCharacter)});
        row("1 MB binary file: line 1 is no number, no names", binary, {});
        row("binary names after a count",
            "3\r\n" + binaryNames[0] + "\r\n" + binaryNames[1] + "\r\n" + binaryNames[2] + "\r\n" + binary,
            {decodeText(binaryNames[0], lang), decodeText(binaryNames[1], lang),
             decodeText(binaryNames[2], lang)});
        row("NUL bytes in the count and the names", QByteArray("3\0\r\nA\0B\r\n\0\0\r\nC\0", 15),
            {"A" + nul() + "B", nul(2), "C" + nul()});
        row("1 MB of NUL bytes: no names", QByteArray(MB, '\0'), {});
    }
    // Bytes that the code page leaves undefined become U+FFFD; a lead byte
    // without its trail at a line end as well.
    const QByteArray undefined = "4\r\nA\x81\r\n\x8D\x8F\x90\x9D\r\n\xFF\xA4\r\n\xA4\x40Z\r\n";
    QTest::newRow("bytes the code page does not define, 0x0409")
        << undefined << int(English)
        << padded({QString::fromUtf16(u"A\uFFFD"), QString::fromUtf16(u"\uFFFD\uFFFD\uFFFD\uFFFD"),
                   QString::fromUtf16(u"\u00FF\u00A4"), QString::fromUtf16(u"\u00A4@Z")});
    QTest::newRow("bytes the code page does not define, 0x0404")
        << undefined << int(Chinese)
        << padded({QString::fromUtf16(u"A\uFFFD"), QString::fromUtf16(u"\uFFFD\uFFFD\uFFFD\uFFFD"),
                   QString::fromUtf16(u"\uFFFD\uFFFD"), QString::fromUtf16(u"\u4E00Z")});
}

void BadFilesTest::setupList()
{
    QFETCH(QByteArray, setup);
    QFETCH(int, langId);
    QFETCH(QStringList, names);
    Folder folder;
    QVERIFY(folder.write("RTU_SETUP.TXT", setup));
    QVERIFY(folder.write("item/M.TXT", "1\r\n0010-2 VOLT\r\n"));

    QElapsedTimer timer;
    timer.start();
    Window w(std::uint16_t(langId), folder.path());
    const qint64 loaded = timer.elapsed();
    w.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
    w.form->grab(); // every control painted once
    const qint64 shown = timer.elapsed();
    qInfo("start-up %lld ms, shown and painted after %lld ms", loaded, shown);
    // Linear work on 10 MB takes well under a second in a release build; the
    // bound leaves room for the sanitizers on a busy machine, and none for
    // work that grows with the square of the file.
    QVERIFY2(shown < 15000, qPrintable(QStringLiteral("start-up took %1 ms").arg(shown)));

    QCOMPARE(w.ui().Combo7->count(), 18);
    QCOMPARE(w.ui().Combo5->count(), 18);
    QVERIFY(items(w.ui().Combo7) == names); // QCOMPARE would print megabytes
    QVERIFY(items(w.ui().Combo5) == names);
    QCOMPARE(w.ui().Combo7->currentIndex(), 0);
    // The edit line of a list holds at most 32767 characters (Qt's limit),
    // far more than any file name.
    QCOMPARE(w.ui().Combo5->currentText(), names.first().left(w.ui().Combo5->lineEdit()->maxLength()));
    QCOMPARE(w.ui().Combo6->currentText(), QStringLiteral("1"));

    // The tool works as usual afterwards.
    w.ui().Command1->click();
    QVERIFY(w.fake->portOpen());
    stock(w.fake);
    w.ui().Combo7->setEditText("M");
    w.ui().Command2->click();
    QCOMPARE(w.ui().signal1->text(), QStringLiteral("1016"));
    w.ui().Text2->setText("0020");
    w.ui().Command3->click();
    QCOMPARE(w.ui().Text5->text(), QStringLiteral("1032"));
    QCOMPARE(w.fake->written().size(), 2);
}

// The setup list and the model file are a folder, a named pipe with no writer
// or an endless device: start-up, Connect and the scan skip them at once.
void BadFilesTest::filesThatAreNoFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("folders") << "<folder>";
    QTest::newRow("named pipes no one writes to") << "<pipe>";
    QTest::newRow("links to /dev/zero") << "<device>";
}

void BadFilesTest::filesThatAreNoFiles()
{
    QFETCH(QString, kind);
    Folder folder;
    QVERIFY(folder.put("RTU_SETUP.TXT", kind));
    QVERIFY(folder.put("item/M.TXT", kind));
    Window w(English, folder.path());
    QCOMPARE(items(w.ui().Combo7), padded({}));
    QCOMPARE(items(w.ui().Combo5), padded({}));
    w.ui().Command1->click();
    stock(w.fake);
    w.ui().Combo7->setEditText("M");
    w.ui().Command2->click();
    QVERIFY(w.fake->written().isEmpty());
    QCOMPARE(w.ui().signal2->text(), englishTable().connectHint);
    w.ui().Combo5->setEditText("M");
    w.ui().Command10->click();
    movra::test::tick(w.ui().Timer2);
    QVERIFY(w.fake->written().isEmpty());
    QVERIFY(w.ui().Timer2->isActive());
}

// ---------------------------------------------------------------- Connect

void BadFilesTest::connectWithBadModelFile_data()
{
    QTest::addColumn<QString>("model"); // "<removed>", "<folder>" or the file's text
    QTest::addColumn<int>("langId");
    QTest::addColumn<QByteArray>("sent"); // bytes 0-5 of the request; empty: none
    QTest::addColumn<QString>("value");   // signal1; empty: the hint

    static const QString longEntry = "1\r\n0010-2 " + QString(MB, 'N') + "\r\n";
    static const QString binary = QString::fromLatin1(binaryBytes(4096, 5));
    for (const std::uint16_t lang : {English, Chinese}) {
        const char *cp = lang == Chinese ? "0x0404" : "0x0409";
        auto row = [&](const char *name, const QString &model, const char *sent, const char *value) {
            QTest::addRow("%s, %s", name, cp) << model << int(lang) << hex(sent) << QString(value);
        };
        // The Connect before each row asked for two registers at 0020, 7 bytes.
        row("a folder: hint, nothing sent", "<folder>", "", "");
        row("a named pipe no one writes to: hint, nothing sent", "<pipe>", "", "");
        row("an endless device: hint, nothing sent", "<device>", "", "");
        row("empty: hint, nothing sent", "", "", "");
        row("removed: hint, nothing sent", "<removed>", "", "");
        row("line 1 only: hint, nothing sent", "1\r\n", "", "");
        row("fewer entries than line 1 says: hint, nothing sent", "5\r\n0010-2 VOLT\r\n", "", "");
        row("'0010': that register, the previous count, no value", "1\r\n0010\r\n", "01 03 00 10 00 02", "");
        row("'0010-': the same", "1\r\n0010-\r\n", "01 03 00 10 00 02", "");
        row("'0010-2' without a name: a value", "1\r\n0010-2\r\n", "01 03 00 10 00 01", "1016");
        row("'00': register 0000, the previous count", "1\r\n00\r\n", "01 03 00 00 00 02", "");
        row("a line of blanks: register 0000, the previous count", "1\r\n      \r\n",
            "01 03 00 00 00 02", "");
        row("'0020 4' without a sign: a valid answer, yet no value", "1\r\n0020 4 KWH\r\n",
            "01 03 00 20 00 02", "");
        row("line 1 is 0: line 1 is the entry", "0\r\n0010-2 VOLT\r\n", "01 03 00 00 00 02", "");
        row("a 1 MB entry line", longEntry, "01 03 00 10 00 01", "1016");
        row("a NUL byte in the address", QString("1\r\n") + nul() + "010-2 VOLT\r\n", "01 03 00 10 00 01",
            "1016");
        row("bytes the code page does not define in the name",
            QString::fromLatin1("1\r\n0010-2 \x81\x8D\x8F\xFF\r\n"), "01 03 00 10 00 01", "1016");
        row("a binary file: line 1 is the entry", binary, "01 03 00 00 00 02", "");
    }
}

void BadFilesTest::connectWithBadModelFile()
{
    QFETCH(QString, model);
    QFETCH(int, langId);
    QFETCH(QByteArray, sent);
    QFETCH(QString, value);
    ModelWindow w("1\r\n0020-4 KWH\r\n", std::uint16_t(langId));
    openStocked(w);
    w.fake->setRegister(0x21, 1033);
    w.ui().Combo7->setEditText("M");
    w.ui().Command2->click();
    QCOMPARE(w.ui().signal1->text(), QString::number((1032 << 16) | 1033));
    w.fake->removeRegister(0x21);
    w.fake->clearWritten();

    QVERIFY(putModel(w, model));
    w.ui().Command2->click();
    if (sent.isEmpty()) {
        QVERIFY(w.fake->written().isEmpty());
    } else {
        QCOMPARE(w.fake->written().size(), 1);
        QCOMPARE(w.fake->written().first().left(6), sent);
    }
    QCOMPARE(w.ui().signal1->text(), value);
    const CaptionTable &captions = langId == TraditionalChineseLangId ? chineseTable() : englishTable();
    QCOMPARE(w.ui().signal2->text(), value.isEmpty() ? captions.connectHint : QString());

    // Nothing is left broken: the next good file works.
    QVERIFY(putModel(w, "1\r\n0030-2 HZ\r\n"));
    w.ui().Command2->click();
    QCOMPARE(w.ui().signal1->text(), QStringLiteral("1048"));
    QCOMPARE(w.quits, 0);
}

// ---------------------------------------------------------------- the scan

void BadFilesTest::scanWithChangingModelFile_data()
{
    QTest::addColumn<QString>("change"); // "<removed>", "<folder>" or the new text
    QTest::addColumn<int>("langId");
    QTest::addColumn<bool>("duringWait"); // changed while a reading waits for its answer
    QTest::addColumn<QList<int>>("registers"); // read in the 8 ticks after the change

    const QString binary = QString::fromLatin1(
        QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x01\0\r\n\xFF\xFE\xFD\xFC\xFB\xFA\xF9\r\n", 29));
    const QList<int> none;
    // Before the change the file lists 0010, 0020 and 0030, and the first tick
    // has read 0010.
    QTest::newRow("removed: nothing read, the scan goes on") << "<removed>" << int(English) << false << none;
    QTest::newRow("replaced by a folder") << "<folder>" << int(English) << false << none;
    QTest::newRow("emptied") << "" << int(English) << false << none;
    QTest::newRow("shortened to one entry: never past its end")
        << "1\r\n0040-2 KW\r\n" << int(English) << false << QList<int>{0x40, 0x40, 0x40, 0x40};
    QTest::newRow("lengthened: the count taken at the start still ends the pass")
        << "5\r\n0040-2 KW\r\n0010-2 VOLT\r\n0020-2 AMP\r\n0030-2 HZ\r\n0040-2 KW\r\n" << int(English) << false
        << QList<int>{0x10, 0x20, 0x40, 0x10, 0x20, 0x40};
    QTest::newRow("short lines: the fields they have, no values")
        << "3\r\n0010\r\n00\r\n      \r\n" << int(English) << false << QList<int>{0, 0, 0x10, 0, 0, 0x10};
    QTest::newRow("binary, 0x0409") << binary << int(English) << false << QList<int>{0, 0xD0, 0, 0, 0xD0, 0};
    QTest::newRow("binary, 0x0404") << binary << int(Chinese) << false << QList<int>{0, 0xD0, 0, 0, 0xD0, 0};
    QTest::newRow("rewritten while a reading waits: that reading keeps its answer")
        << "1\r\n0040-2 KW\r\n" << int(English) << true << QList<int>{0x20, 0x40, 0x40, 0x40};
    QTest::newRow("removed while a reading waits") << "<removed>" << int(English) << true << QList<int>{0x20};
}

void BadFilesTest::scanWithChangingModelFile()
{
    QFETCH(QString, change);
    QFETCH(int, langId);
    QFETCH(bool, duringWait);
    QFETCH(QList<int>, registers);
    ModelWindow w("3\r\n0010-2 VOLT\r\n0020-2 AMP\r\n0030-2 HZ\r\n", std::uint16_t(langId));
    openStocked(w);
    w.ui().Combo5->setEditText("M");
    w.ui().Command10->click();

    // One tick, and what it must leave: a reading gives one list line whose
    // value is the one its answer carried; no reading, no line.
    auto tick = [&] {
        const qsizetype sentBefore = w.fake->written().size();
        const int linesBefore = w.ui().Text12->lineCount();
        movra::test::tick(w.ui().Timer2);
        const qsizetype sent = w.fake->written().size() - sentBefore;
        QVERIFY(sent <= 1);
        QCOMPARE(w.ui().Text12->lineCount(), linesBefore + int(sent));
        if (sent == 1) {
            const QString expected = valueFor(w.fake->written().last());
            QCOMPARE(w.ui().Text5->text(), expected);
            QCOMPARE(w.ui().Text12->text().section(QStringLiteral("\r\n"), 0, 0).section(QStringLiteral("--"), 2, 2),
                     expected);
        }
    };

    tick();
    QCOMPARE(w.registersRead(), QList<int>{0x10});
    w.fake->clearWritten();
    bool done = false;
    if (duringWait) {
        w.clock.setDuringWait([&] {
            if (!done)
                done = putModel(w, change);
        });
    } else {
        QVERIFY(putModel(w, change));
    }
    for (int i = 0; i < 8; ++i) {
        tick();
        if (QTest::currentTestFailed())
            return;
    }
    w.clock.setDuringWait({});
    QCOMPARE(w.registersRead(), registers);
    if (duringWait) // the reading under way listed its own register's value
        QVERIFY(w.ui().Text12->text().contains(QStringLiteral("40033--0020--1032--AMP\r\n")));
    QVERIFY(w.ui().Timer2->isActive());
    QVERIFY(!w.ui().Command11->isHidden());
    QCOMPARE(w.quits, 0);

    // A good file again: a whole pass reads its three registers, each listed
    // with its own value.
    QVERIFY(putModel(w, "3\r\n0010-2 VOLT\r\n0020-2 AMP\r\n0030-2 HZ\r\n"));
    w.fake->clearWritten();
    for (int i = 0; i < 8; ++i)
        tick();
    QList<int> read = w.registersRead();
    std::sort(read.begin(), read.end());
    read.erase(std::unique(read.begin(), read.end()), read.end());
    QCOMPARE(read, (QList<int>{0x10, 0x20, 0x30}));
    QVERIFY(w.ui().Text12->text().contains(QStringLiteral("40049--0030--1048--HZ\r\n")));
}

// A reading the manual read refuses to send (the slave address box holds no
// address) lists an empty value, not the value of the reading before.
void BadFilesTest::refusedReadListsNoValue()
{
    ModelWindow w("2\r\n0010-2 VOLT\r\n0020-2 AMP\r\n");
    openStocked(w);
    w.ui().Combo5->setEditText("M");
    w.ui().Command10->click();
    movra::test::tick(w.ui().Timer2);
    QCOMPARE(w.ui().Text5->text(), QStringLiteral("1016"));
    w.ui().Text1->setText("");
    movra::test::tick(w.ui().Timer2);
    QCOMPARE(w.fake->written().size(), 1);
    QCOMPARE(w.ui().Text12->text(), QStringLiteral("40033--0020----AMP\r\n40017--0010--1016--VOLT\r\n"));
    QVERIFY(w.ui().signal1->text().isEmpty());
}

// ---------------------------------------------------------------- model names

void BadFilesTest::typedModelNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("file"); // where a model file for 0010 lies, from the
                                       // executable's folder; empty: none
    QTest::addColumn<bool>("found");

    // item/M.TXT, the model of the list, lists 0020: reading it would be wrong.
    QTest::newRow("'../x' opens x.TXT beside the executable") << "../x" << "x.TXT" << true;
    QTest::newRow("'../x' without x.TXT: nothing") << "../x" << "" << false;
    QTest::newRow("'../../x' opens x.TXT above the executable's folder") << "../../x" << "../x.TXT" << true;
    QTest::newRow("'a/b' opens item/a/b.TXT") << "a/b" << "item/a/b.TXT" << true;
    QTest::newRow("'/etc/passwd' stays below item") << "/etc/passwd" << "item/etc/passwd.TXT" << true;
    QTest::newRow("'/etc/passwd' without item/etc/passwd.TXT: nothing") << "/etc/passwd" << "" << false;
    QTest::newRow("'..' opens item/...TXT") << ".." << "item/...TXT" << true;
    QTest::newRow("'..' without item/...TXT: nothing") << ".." << "" << false;
    QTest::newRow("an empty name opens item/.TXT") << "" << "item/.TXT" << true;
    QTest::newRow("an empty name without item/.TXT: nothing") << "" << "" << false;
    QTest::newRow("'M ' is not M: no blank is removed") << "M " << "" << false;
    QTest::newRow("'m' is not M: no case is changed") << "m" << "" << false;
    QTest::newRow("a NUL in the name opens no file, not item/M") << "M" + nul() + "x" << "item/M" << false;
    QTest::newRow("a name that is one NUL") << nul() << "" << false;
    QTest::newRow("'%00' is no NUL") << "%00" << "item/%00.TXT" << true;
    QTest::newRow("a line end in the name") << "M\r\n" << "" << false;
    QTest::newRow("a name of 255 characters: too long for a file") << QString(255, 'n') << "" << false;
    QTest::newRow("a name of 100 000 characters") << QString(100000, 'n') << "" << false;
    QTest::newRow("a name of 100 000 '../'") << QStringLiteral("../").repeated(100000) << "" << false;
}

void BadFilesTest::typedModelNames()
{
    QFETCH(QString, name);
    QFETCH(QString, file);
    QFETCH(bool, found);
    // The executable's folder is bin/, so a name may also climb above it.
    Folder folder;
    QVERIFY(folder.write("bin/RTU_SETUP.TXT", "1\r\nM\r\n"));
    QVERIFY(folder.write("bin/item/M.TXT", "1\r\n0020-2 AMP\r\n"));
    if (!file.isEmpty() && !file.endsWith('/'))
        QVERIFY(folder.write("bin/" + file, "1\r\n0010-2 VOLT\r\n"));
    Window w(English, folder.path("bin"));
    w.ui().Command1->click();
    stock(w.fake);
    const QByteArray request = FakeMeter::withCrc(hex("01 03 00 10 00 01"));

    w.ui().Combo7->setEditText(name);
    QCOMPARE(w.ui().Combo7->currentText(), name.left(w.ui().Combo7->lineEdit()->maxLength())); // as typed
    w.ui().Command2->click();
    if (found) {
        QCOMPARE(w.fake->written(), QList<QByteArray>{request});
        QCOMPARE(w.ui().signal1->text(), QStringLiteral("1016"));
    } else {
        QVERIFY(w.fake->written().isEmpty());
        QCOMPARE(w.ui().signal2->text(), englishTable().connectHint);
    }

    // The scan takes the name the same way.
    w.fake->clearWritten();
    w.ui().Combo5->setEditText(name);
    w.ui().Command10->click();
    for (int i = 0; i < 3; ++i)
        movra::test::tick(w.ui().Timer2);
    w.ui().Command11->click();
    if (found) {
        QCOMPARE(w.fake->written(), (QList<QByteArray>{request, request}));
        QCOMPARE(w.ui().Text12->text().section(QStringLiteral("\r\n"), 0, 0),
                 QStringLiteral("40017--0010--1016--VOLT"));
    } else {
        QVERIFY(w.fake->written().isEmpty());
        QVERIFY(w.ui().Text12->text().isEmpty());
    }
    QCOMPARE(w.quits, 0);
}

QTEST_MAIN(BadFilesTest)
#include "tst_badfiles.moc"
