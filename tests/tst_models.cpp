#include "lineio.h"
#include "modelentry.h"
#include "setuplist.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace movra;

namespace {

constexpr int Chinese = 0x0404;
constexpr int English = 0x0409;

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QStringList toList(const ModelSlots &list)
{
    return QStringList(list.begin(), list.end());
}

QStringList padded(QStringList names)
{
    while (names.size() < ModelSlotCount)
        names << QString();
    return names;
}

} // namespace

class TestModels : public QObject {
    Q_OBJECT

private slots:
    void getLine_data();
    void getLine();
    void getLineMissingFile();
    void getLineDirectory();
    void getLineAfterFailure();
    void getLineLargeFile();
    void decode_data();
    void decode();
    void decodeIsLinear();
    void setupList_data();
    void setupList();
    void setupListMissing();
    void parseEntry_data();
    void parseEntry();
    void parseBig5Entry();
    void paths();
    void shippedFiles();
};

void TestModels::getLine_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("langId");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("line");

    const QByteArray abc("A\r\nB\r\nC\r\n");
    QTest::newRow("CR LF: line 1 gives A") << abc << 1 << English << true << "A";
    QTest::newRow("CR LF: line 3 gives C") << abc << 3 << English << true << "C";
    QTest::newRow("CR LF: line 4 fails") << abc << 4 << English << false << QString();
    QTest::newRow("CR: line 2 gives B") << QByteArray("A\rB\rC") << 2 << English << true << "B";
    QTest::newRow("LF: line 2 gives B") << QByteArray("A\nB\nC\n") << 2 << English << true << "B";
    QTest::newRow("mixed ends: line 3") << QByteArray("A\r\nB\rC\nD") << 3 << English << true << "C";
    QTest::newRow("mixed ends: line 4") << QByteArray("A\r\nB\rC\nD") << 4 << English << true << "D";
    QTest::newRow("LF CR is two line ends") << QByteArray("A\n\rB") << 2 << English << true << "";
    QTest::newRow("LF CR: B is line 3") << QByteArray("A\n\rB") << 3 << English << true << "B";
    QTest::newRow("CR CR LF: an empty line between") << QByteArray("A\r\r\nB") << 3 << English << true << "B";
    QTest::newRow("last line without end") << QByteArray("A\r\nlast") << 2 << English << true << "last";
    QTest::newRow("end of file after a line end starts no line") << QByteArray("A\r\n") << 2 << English << false << QString();
    QTest::newRow("empty line gives empty text") << QByteArray("A\r\n\r\nC") << 2 << English << true << "";
    QTest::newRow("line of blanks gives its blanks") << QByteArray("A\r\n   \r\nC") << 2 << English << true << "   ";
    QTest::newRow("empty file: line 1 fails") << QByteArray() << 1 << English << false << QString();
    QTest::newRow("line 0 of an existing file is empty") << abc << 0 << English << true << "";
    QTest::newRow("negative line number is empty") << abc << -5 << English << true << "";
    QTest::newRow("line 0 of an empty file is empty") << QByteArray() << 0 << English << true << "";
    QTest::newRow("NUL bytes are kept") << QByteArray("A\0B\r\n", 5) << 1 << English << true << QString(QStringLiteral("A") + QChar(0) + QStringLiteral("B"));
    QTest::newRow("Big5 under 0x0404: one character each") << QByteArray("\xA4\xA4\xA4\xE5\r\n") << 1 << Chinese << true << QString::fromUtf8("中文");
    QTest::newRow("CP950 euro under 0x0404") << QByteArray("\xA3\xE1") << 1 << Chinese << true << QString::fromUtf8("€");
    QTest::newRow("Windows-1252 byte under 0x0409") << QByteArray("caf\xE9 \x80") << 1 << English << true << QString::fromUtf8("café €");
    QTest::newRow("undefined Windows-1252 byte becomes U+FFFD") << QByteArray("A\x81") << 1 << English << true << QString(QStringLiteral("A") + QChar(QChar::ReplacementCharacter));
    QTest::newRow("Windows-1252 quotes and ÿ") << QByteArray("\x93x\x94\xFF") << 1 << English << true << QString::fromUtf8("“x”ÿ");
    QTest::newRow("UTF-8 under 0x0404") << QByteArray("\xE4\xB8\xAD") << 1 << Chinese << true << QString::fromUtf8("中");
    QTest::newRow("UTF-8 under 0x0409") << QByteArray("caf\xC3\xA9") << 1 << English << true << QString::fromUtf8("café");
    QTest::newRow("Big5 on line 1 makes line 2 Big5 too") << QByteArray("\xA4\xA4\r\n\xC3\xA9") << 2 << Chinese << true << QString::fromUtf8("矇");
    QTest::newRow("UTF-8 byte order mark skipped") << QByteArray("\xEF\xBB\xBF" "18\r\nA") << 1 << English << true << "18";
    QTest::newRow("invalid Big5 byte becomes U+FFFD") << QByteArray("A\xFF" "B") << 1 << Chinese << true << QString(QStringLiteral("A") + QChar(QChar::ReplacementCharacter) + QStringLiteral("B"));
    QTest::newRow("Big5 lead byte cut off by the line end") << QByteArray("A\xA4\r\nB") << 1 << Chinese << true << QString(QStringLiteral("A") + QChar(QChar::ReplacementCharacter));

    // The reader works in 64 KiB blocks; line ends and characters across a block edge.
    const QByteArray filler(64 * 1024 - 1, 'x');
    QTest::newRow("CR LF split by a block edge") << filler + "\r\nB" << 2 << English << true << "B";
    QTest::newRow("UTF-8 character split by a block edge") << filler + "\xC3\xA9" << 1 << Chinese << true << QString(filler) + QString::fromUtf8("é");
}

void TestModels::getLine()
{
    QFETCH(QByteArray, content);
    QFETCH(int, n);
    QFETCH(int, langId);
    QFETCH(bool, found);
    QFETCH(QString, line);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = writeFile(dir, "f.TXT", content);
    const std::optional<QString> got = GetLine(path, n, std::uint16_t(langId));
    QCOMPARE(got.has_value(), found);
    if (found)
        QCOMPARE(*got, line);
}

void TestModels::getLineMissingFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("missing.TXT");
    QVERIFY(!GetLine(path, 0, English));
    QVERIFY(!GetLine(path, 1, English));
}

void TestModels::getLineDirectory()
{
    QTemporaryDir dir;
    QVERIFY(!GetLine(dir.path(), 1, English));
    QVERIFY(!GetLine(dir.path(), 0, English));
}

void TestModels::getLineAfterFailure()
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "abc.TXT", "A\r\nB\r\nC\r\n");
    QVERIFY(!GetLine(path, 4, English));
    QCOMPARE(GetLine(path, 2, English), std::optional<QString>(QStringLiteral("B")));
    // The file was released: it can be replaced and is read afresh.
    QVERIFY(QFile::remove(path));
    writeFile(dir, "abc.TXT", "X\r\nY\r\n");
    QCOMPARE(GetLine(path, 2, English), std::optional<QString>(QStringLiteral("Y")));
}

void TestModels::getLineLargeFile()
{
    // 10 MB of random bytes, NUL included, behind two short lines.
    QByteArray junk(10 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator rng(42);
    for (char &c : junk)
        c = char(rng.bounded(256));
    junk.replace('\r', 'r').replace('\n', 'n');
    QTemporaryDir dir;
    const QString path = writeFile(dir, "big.TXT", "18\r\nMV-100\r\n" + junk + "\r\nend");
    for (std::uint16_t lang : {std::uint16_t(English), std::uint16_t(Chinese)}) {
        QCOMPARE(GetLine(path, 2, lang), std::optional<QString>(QStringLiteral("MV-100")));
        const std::optional<QString> big = GetLine(path, 3, lang);
        QVERIFY(big);
        QVERIFY(big->size() >= junk.size() / 2 && big->size() <= junk.size());
        QCOMPARE(GetLine(path, 4, lang), std::optional<QString>(QStringLiteral("end")));
        QVERIFY(!GetLine(path, 5, lang));
    }
}

void TestModels::decode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("langId");
    QTest::addColumn<QString>("text");

    const QByteArray x255(255, 'x');
    QTest::newRow("Big5 pair across an iconv block") << x255 + "\xA4\xA4" << Chinese << QString(x255) + QString::fromUtf8("中");
    QTest::newRow("Big5 pair after a bad byte across a block") << "\xFF" + QByteArray(254, 'x') + "\xA4\xA4y"
        << Chinese << QChar(QChar::ReplacementCharacter) + QString(QByteArray(254, 'x')) + QString::fromUtf8("中y");
    QTest::newRow("10000 Big5 characters") << QByteArray(20000, '\xA4') << Chinese << QString(10000, QChar(0x4E2D));
    QTest::newRow("UTF-8 byte order mark kept by decodeText") << QByteArray("\xEF\xBB\xBF" "A") << English << QChar(0xFEFF) + QStringLiteral("A");
    QTest::newRow("overlong UTF-8 is not UTF-8") << QByteArray("\xC0\xAF") << English << QString::fromUtf8("À¯");
    QTest::newRow("UTF-8 surrogate is not UTF-8") << QByteArray("\xED\xA0\x80") << English << QString::fromUtf8("í\u00A0€");
    QTest::newRow("empty") << QByteArray() << Chinese << QString();
}

void TestModels::decode()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, langId);
    QTEST(decodeText(bytes, std::uint16_t(langId)), "text");
}

void TestModels::decodeIsLinear()
{
    // Every byte invalid in both code pages: each one is replaced, quickly.
    const QByteArray bad(10 * 1024 * 1024, '\xFF');
    QElapsedTimer timer;
    timer.start();
    const QString big5 = decodeText(bad, Chinese);
    QCOMPARE(big5.size(), bad.size());
    QCOMPARE(big5.front(), QChar(QChar::ReplacementCharacter));
    QCOMPARE(decodeText(bad, English).size(), bad.size()); // 0xFF is ÿ in Windows-1252
    QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
}

void TestModels::setupList_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("langId");
    QTest::addColumn<QStringList>("names");

    QByteArray names25("25\r\n");
    QStringList first18;
    for (int i = 1; i <= 25; ++i) {
        names25 += "M" + QByteArray::number(i) + "\r\n";
        if (i <= 18)
            first18 << QStringLiteral("M%1").arg(i);
    }
    const QByteArray fiveNames("A\r\nB\r\nC\r\nD\r\nE\r\n");

    QTest::newRow("line 1 '3' then A B C") << QByteArray("3\r\nA\r\nB\r\nC\r\n") << English << QStringList{"A", "B", "C"};
    QTest::newRow("25 names give the first 18") << names25 << English << first18;
    QTest::newRow("N=5 with 2 names gives 2") << QByteArray("5\r\nA\r\nB\r\n") << English << QStringList{"A", "B"};
    QTest::newRow("'3 models' gives three") << "3 models\r\n" + fiveNames << English << QStringList{"A", "B", "C"};
    QTest::newRow("'x3' gives none") << "x3\r\n" + fiveNames << English << QStringList{};
    QTest::newRow("'2.5' gives two names") << "2.5\r\n" + fiveNames << English << QStringList{"A", "B"};
    QTest::newRow("'3.5' gives four names") << "3.5\r\n" + fiveNames << English << QStringList{"A", "B", "C", "D"};
    QTest::newRow("leading blanks before N") << "  2\r\n" + fiveNames << English << QStringList{"A", "B"};
    QTest::newRow("'0' gives none") << "0\r\n" + fiveNames << English << QStringList{};
    QTest::newRow("negative N gives none") << "-3\r\n" + fiveNames << English << QStringList{};
    QTest::newRow("N beyond 32 bits gives none") << "3000000000\r\n" + fiveNames << English << QStringList{};
    QTest::newRow("largest N reads what is there") << "2147483647\r\n" + fiveNames << English << QStringList{"A", "B", "C", "D", "E"};
    QTest::newRow("blanks around a name are kept") << QByteArray("2\r\n A \r\nB") << English << QStringList{" A ", "B"};
    QTest::newRow("empty name line gives an empty slot") << QByteArray("3\r\nA\r\n\r\nC") << English << QStringList{"A", "", "C"};
    QTest::newRow("Linux line ends") << QByteArray("2\nA\nB\n") << English << QStringList{"A", "B"};
    QTest::newRow("Big5 names under 0x0404") << QByteArray("1\r\n\xA4\xA4\xA4\xE5\r\n") << Chinese << QStringList{QString::fromUtf8("中文")};
}

void TestModels::setupList()
{
    QFETCH(QByteArray, content);
    QFETCH(int, langId);
    QFETCH(QStringList, names);

    QTemporaryDir dir;
    const QString path = writeFile(dir, "RTU_SETUP.TXT", content);
    QCOMPARE(toList(readSetupList(path, std::uint16_t(langId))), padded(names));
}

void TestModels::setupListMissing()
{
    QTemporaryDir dir;
    QCOMPARE(toList(readSetupList(dir.filePath("RTU_SETUP.TXT"), English)), padded({}));
    QCOMPARE(toList(readSetupList(dir.path(), English)), padded({}));
}

void TestModels::parseEntry_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("sign");
    QTest::addColumn<QString>("length");
    QTest::addColumn<QString>("name");

    QTest::newRow("0010-2 VOLT") << "0010-2 VOLT" << "0010" << "-" << "2" << "VOLT";
    QTest::newRow("0020+4 POWER") << "0020+4 POWER" << "0020" << "+" << "4" << "POWER";
    QTest::newRow("00ff-2: lower-case address kept") << "00ff-2" << "00ff" << "-" << "2" << "";
    QTest::newRow("six characters give an empty name") << "0100+4" << "0100" << "+" << "4" << "";
    QTest::newRow("seven characters give an empty name") << "0100+4 " << "0100" << "+" << "4" << "";
    QTest::newRow("name stops after character 13") << "0010-2 ABCDEFGHI" << "0010" << "-" << "2" << "ABCDEF";
    QTest::newRow("character 7 is not read") << "0010-2XVOLT" << "0010" << "-" << "2" << "VOLT";
    QTest::newRow("three characters: short address only") << "001" << "001" << "" << "" << "";
    QTest::newRow("five characters: no length") << "0010-" << "0010" << "-" << "" << "";
    QTest::newRow("empty line: all fields empty") << "" << "" << "" << "" << "";
}

void TestModels::parseEntry()
{
    QFETCH(QString, line);
    const ModelEntry e = movra::parseEntry(line);
    QTEST(e.address, "address");
    QTEST(e.sign, "sign");
    QTEST(e.length, "length");
    QTEST(e.name, "name");
}

void TestModels::parseBig5Entry()
{
    // Big5 bytes B9 71 C0 A3 are two characters: the name sits at 8-9.
    QTemporaryDir dir;
    const QString path = writeFile(dir, "MV.TXT", "1\r\n\xA4\xA4\xA4\xE5-2 \xB9\x71\xC0\xA3\r\n");
    const std::optional<QString> line = GetLine(path, 2, Chinese);
    QVERIFY(line);
    const ModelEntry e = movra::parseEntry(*line);
    QCOMPARE(e.address, QString::fromUtf8("中文-2"));
    QCOMPARE(e.sign, QStringLiteral(" "));
    QCOMPARE(e.length, QString::fromUtf8("電"));
    QCOMPARE(e.name, QString());

    const QString path2 = writeFile(dir, "MV2.TXT", "0010-2 \xB9\x71\xC0\xA3XYZW\r\n");
    const ModelEntry e2 = movra::parseEntry(GetLine(path2, 1, Chinese).value_or(QString()));
    QCOMPARE(e2.name, QString::fromUtf8("電壓XYZW"));
}

void TestModels::paths()
{
    QCOMPARE(modelFilePath("/opt/mv", "MV-100"), QStringLiteral("/opt/mv/item/MV-100.TXT"));
    QCOMPARE(modelFilePath("/opt/mv", " mv-100 "), QStringLiteral("/opt/mv/item/ mv-100 .TXT"));
    QCOMPARE(modelFilePath("/opt/mv", "../x"), QStringLiteral("/opt/mv/item/../x.TXT"));
    QCOMPARE(modelFilePath("/opt/mv", ""), QStringLiteral("/opt/mv/item/.TXT"));
    QCOMPARE(setupListPath("/opt/mv"), QStringLiteral("/opt/mv/RTU_SETUP.TXT"));

    // A model text with separators just names a file that is not there.
    QTemporaryDir dir;
    QVERIFY(!GetLine(modelFilePath(dir.path(), "../../no/such"), 1, English));
}

void TestModels::shippedFiles()
{
    const QDir data(QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/../data"));
    QVERIFY2(data.exists(), qPrintable(data.path()));
    const QString exeDir = data.absolutePath();
    const QStringList vocabulary{"VOLT", "V-A", "V-B", "V-C", "AMP", "I-A", "I-B", "I-C", "HZ",
                                 "KW", "KVAR", "PF", "KWH", "KVARH", "CNT", "ADDR", "BAUD", "VER"};
    const QStringList expectedModels{"MV-100", "MV-110", "MV-120", "MV-200", "MV-210", "MV-220",
                                     "MV-300", "MV-310", "MV-320", "MV-400", "MV-410", "MV-420",
                                     "MV-500", "MV-510", "MV-520", "MV-600", "MV-610", "MV-620"};

    auto checkLineEnds = [](const QString &path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return false;
        const QByteArray bytes = f.readAll();
        return bytes.endsWith("\r\n") && bytes.count('\r') == bytes.count('\n')
            && bytes.count("\r\n") == bytes.count('\n');
    };

    QVERIFY(checkLineEnds(setupListPath(exeDir)));
    QCOMPARE(GetLine(setupListPath(exeDir), 1, English), std::optional<QString>(QStringLiteral("18")));
    const QStringList models = toList(readSetupList(setupListPath(exeDir), English));
    QCOMPARE(models, expectedModels);
    QVERIFY(!GetLine(setupListPath(exeDir), 20, English));

    for (const QString &model : models) {
        const QString path = modelFilePath(exeDir, model);
        QVERIFY2(QFileInfo::exists(path), qPrintable(path));
        QVERIFY2(checkLineEnds(path), qPrintable(path));
        bool ok = false;
        const int n = GetLine(path, 1, English).value_or(QString()).toInt(&ok);
        QVERIFY2(ok && n > 0, qPrintable(model));
        QVERIFY2(!GetLine(path, n + 2, English), qPrintable(model + ": lines after the last entry"));
        QSet<uint> taken; // no two entries share a register
        for (int k = 2; k <= n + 1; ++k) {
            const std::optional<QString> line = GetLine(path, k, English);
            const QString where = model + ": line " + QString::number(k);
            QVERIFY2(line, qPrintable(where));
            const ModelEntry e = movra::parseEntry(*line);
            bool hexOk = false;
            const uint address = e.address.toUInt(&hexOk, 16);
            QVERIFY2(e.address.size() == 4 && hexOk && address <= 0x0200, qPrintable(where));
            QVERIFY2(e.sign == "-" || e.sign == "+", qPrintable(where));
            QVERIFY2(QStringList({"2", "4", "6", "8"}).contains(e.length), qPrintable(where));
            QVERIFY2(line->size() >= 8 && line->size() <= 13 && line->at(6) == QLatin1Char(' '), qPrintable(where));
            QVERIFY2(vocabulary.contains(e.name), qPrintable(where + " " + e.name));
            for (uint r = address; r < address + uint(e.length.toInt() / 2); ++r) {
                QVERIFY2(!taken.contains(r), qPrintable(where + ": register shared"));
                taken.insert(r);
            }
            if (k == n + 1)
                QVERIFY2(e.name == "VOLT" || e.name == "ADDR", qPrintable(where));
        }
    }
}

QTEST_APPLESS_MAIN(TestModels)
#include "tst_models.moc"
