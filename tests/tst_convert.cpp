// Number text conversions and the value conversion.
#include "numtext.h"
#include "valueconv.h"

#include <QTest>
#include <cmath>
#include <limits>

using namespace movra;

namespace {

const double inf = std::numeric_limits<double>::infinity();
const double notANumber = std::numeric_limits<double>::quiet_NaN();

QString rep(const char *piece, int count)
{
    return QString::fromLatin1(piece).repeated(count);
}

// Exact comparison (QCOMPARE on doubles is fuzzy).
void checkExact(double actual, double expected)
{
    QVERIFY2(actual == expected || (std::isnan(actual) && std::isnan(expected)),
             qPrintable(QStringLiteral("got %1, expected %2")
                            .arg(actual, 0, 'g', 17)
                            .arg(expected, 0, 'g', 17)));
}

} // namespace

class TestConvert : public QObject
{
    Q_OBJECT

private slots:
    void leadingNumber_data();
    void leadingNumber();
    void leadingNumberLongText_data();
    void leadingNumberLongText();
    void numberOnly_data();
    void numberOnly();
    void rounding_data();
    void rounding();
    void hexToDec_data();
    void hexToDec();
    void hexToDecAllFourDigitTexts();
    void convertValue_data();
    void convertValue();
    void convertLongData_data();
    void convertLongData();
    void convertAgreesWithDecimalText();
    void randomTextsKeepInvariants();
};

void TestConvert::leadingNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    QTest::newRow("'3 models' gives 3") << "3 models" << 3.0;
    QTest::newRow("'x3' gives 0") << "x3" << 0.0;
    QTest::newRow("'2.5' gives 2.5") << "2.5" << 2.5;
    QTest::newRow("empty gives 0") << "" << 0.0;
    QTest::newRow("blanks only give 0") << "   " << 0.0;
    QTest::newRow("leading blanks skipped") << "  42" << 42.0;
    QTest::newRow("leading tab skipped") << "\t7" << 7.0;
    QTest::newRow("plus sign") << "+4" << 4.0;
    QTest::newRow("minus fraction then text") << " -3.5x" << -3.5;
    QTest::newRow("fraction without integer part") << ".5" << 0.5;
    QTest::newRow("point without fraction") << "1." << 1.0;
    QTest::newRow("lone point gives 0") << "." << 0.0;
    QTest::newRow("lone sign gives 0") << "-" << 0.0;
    QTest::newRow("blank after sign ends it") << "- 3" << 0.0;
    QTest::newRow("blank between digits ends the number") << "1 2" << 1.0;
    QTest::newRow("comma ends the number") << "1,5" << 1.0;
    QTest::newRow("leading zeros") << "007" << 7.0;
    QTest::newRow("0.1 correctly rounded") << "0.1" << 0.1;
    QTest::newRow("exponent 1E3") << "1E3" << 1000.0;
    QTest::newRow("negative exponent") << "2.5e-1" << 0.25;
    QTest::newRow("E without digits is not an exponent") << "1E" << 1.0;
    QTest::newRow("E and sign without digits") << "1E+" << 1.0;
    QTest::newRow("exponent then text") << "1e+2x" << 100.0;
    QTest::newRow("too large gives infinity") << "1e400" << inf;
    QTest::newRow("too small gives 0") << "1e-400" << 0.0;
    QTest::newRow("negative too large") << "-1e400" << -inf;
    QTest::newRow("largest double") << "1.7976931348623157e308" << std::numeric_limits<double>::max();
    QTest::newRow("smallest subnormal") << "5e-324" << std::numeric_limits<double>::denorm_min();
    QTest::newRow("&H1F gives 31") << "&H1F" << 31.0;
    QTest::newRow("&h1f lower case") << "&h1f" << 31.0;
    QTest::newRow("&HFFFF is 65535, not -1") << "&HFFFF" << 65535.0;
    QTest::newRow("&HFFFFFFFF is 4294967295") << "&HFFFFFFFF" << 4294967295.0;
    QTest::newRow("&H after blanks") << " &H10" << 16.0;
    QTest::newRow("&H stops at a non-digit") << "&H1G" << 1.0;
    QTest::newRow("&H without digits gives 0") << "&H" << 0.0;
    QTest::newRow("&HG gives 0") << "&HG" << 0.0;
    QTest::newRow("sign before &H gives 0") << "-&H10" << 0.0;
    QTest::newRow("lone & gives 0") << "&" << 0.0;
    QTest::newRow("full-width digit is not a digit") << QString::fromUtf8("\xEF\xBC\x95") << 0.0;
    QTest::newRow("halfway 2^53+1 rounds to even") << "9007199254740993" << 9007199254740992.0;
}

void TestConvert::leadingNumber()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    checkExact(movra::leadingNumber(text), expected);
}

void TestConvert::leadingNumberLongText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    // Digits past the first few hundred still decide the rounding.
    QTest::newRow("halfway plus a far fraction digit rounds up")
        << "9007199254740993." + rep("0", 900) + "1" << 9007199254740994.0;
    QTest::newRow("halfway plus far zeros stays even")
        << "9007199254740993." + rep("0", 900) << 9007199254740992.0;
    QTest::newRow("far integer digit with exponent rounds up")
        << "9007199254740993" + rep("0", 900) + "1e-901" << 9007199254740994.0;
    QTest::newRow("a million ones give infinity") << rep("1", 1000000) << inf;
    QTest::newRow("a million leading zeros") << rep("0", 1000000) + "5" << 5.0;
    QTest::newRow("a million fraction zeros give 0") << "0." + rep("0", 1000000) + "1" << 0.0;
    QTest::newRow("many digits scaled back by exponent") << "1" + rep("0", 5000) + "e-5000" << 1.0;
    QTest::newRow("a million fraction zeros scaled back by a larger exponent")
        << "0." + rep("0", 999999) + "1e1000005" << 100000.0;
    QTest::newRow("a million integer zeros scaled back by a larger exponent")
        << "1" + rep("0", 1000000) + "e-1000005" << 1e-5;
    QTest::newRow("huge exponent gives infinity") << "1e99999999999999999999" << inf;
    QTest::newRow("huge negative exponent gives 0") << "1e-99999999999999999999" << 0.0;
    QTest::newRow("zero with huge exponent") << "0e999999" << 0.0;
    QTest::newRow("a million hex digits give infinity") << "&H" + rep("F", 1000000) << inf;
    QTest::newRow("a million blanks then a number") << rep(" ", 1000000) + "8" << 8.0;
}

void TestConvert::leadingNumberLongText()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    checkExact(movra::leadingNumber(text), expected);
}

void TestConvert::numberOnly_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("expected");

    QTest::newRow("'5'") << "5" << true << 5.0;
    QTest::newRow("blanks around allowed") << " 5 " << true << 5.0;
    QTest::newRow("fraction") << "2.5" << true << 2.5;
    QTest::newRow("negative") << "-1" << true << -1.0;
    QTest::newRow("hexadecimal") << "&H10" << true << 16.0;
    QTest::newRow("empty is no number") << "" << false << 0.0;
    QTest::newRow("blank is no number") << " " << false << 0.0;
    QTest::newRow("letters are no number") << "x" << false << 0.0;
    QTest::newRow("trailing text rejected") << "5x" << false << 0.0;
    QTest::newRow("two numbers rejected") << "1 2" << false << 0.0;
    QTest::newRow("dangling E rejected") << "1E" << false << 0.0;
    QTest::newRow("&H without digits rejected") << "&H" << false << 0.0;
}

void TestConvert::numberOnly()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(double, expected);
    const std::optional<double> r = movra::numberOnly(text);
    QCOMPARE(r.has_value(), ok);
    if (ok)
        checkExact(*r, expected);
}

void TestConvert::rounding_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<qint64>("expected");

    QTest::newRow("int32 2.5 -> 2") << 32 << 2.5 << true << qint64(2);
    QTest::newRow("int32 3.5 -> 4") << 32 << 3.5 << true << qint64(4);
    QTest::newRow("int32 -2.5 -> -2") << 32 << -2.5 << true << qint64(-2);
    QTest::newRow("int32 -3.5 -> -4") << 32 << -3.5 << true << qint64(-4);
    QTest::newRow("int32 0.5 -> 0") << 32 << 0.5 << true << qint64(0);
    QTest::newRow("int32 -0.5 -> 0") << 32 << -0.5 << true << qint64(0);
    QTest::newRow("int32 2.4999 -> 2") << 32 << 2.4999 << true << qint64(2);
    QTest::newRow("int32 2.5000001 -> 3") << 32 << 2.5000001 << true << qint64(3);
    QTest::newRow("int32 -2.6 -> -3") << 32 << -2.6 << true << qint64(-3);
    QTest::newRow("int32 2147483647.4 fits") << 32 << 2147483647.4 << true << qint64(2147483647);
    QTest::newRow("int32 2147483646.5 -> even") << 32 << 2147483646.5 << true << qint64(2147483646);
    QTest::newRow("int32 2147483647.5 overflows") << 32 << 2147483647.5 << false << qint64(0);
    QTest::newRow("int32 -2147483648.5 -> even fits") << 32 << -2147483648.5 << true << qint64(-2147483648LL);
    QTest::newRow("int32 -2147483648.51 overflows") << 32 << -2147483648.51 << false << qint64(0);
    QTest::newRow("int32 1e300 overflows") << 32 << 1e300 << false << qint64(0);
    QTest::newRow("int32 NaN is empty") << 32 << notANumber << false << qint64(0);
    QTest::newRow("int32 infinity is empty") << 32 << inf << false << qint64(0);
    QTest::newRow("int32 -infinity is empty") << 32 << -inf << false << qint64(0);
    QTest::newRow("byte 1.5 -> 2") << 8 << 1.5 << true << qint64(2);
    QTest::newRow("byte 254.5 -> even") << 8 << 254.5 << true << qint64(254);
    QTest::newRow("byte 255.4 fits") << 8 << 255.4 << true << qint64(255);
    QTest::newRow("byte 255.5 rounds to 256, overflows") << 8 << 255.5 << false << qint64(0);
    QTest::newRow("byte -0.5 -> 0") << 8 << -0.5 << true << qint64(0);
    QTest::newRow("byte -0.6 overflows") << 8 << -0.6 << false << qint64(0);
    QTest::newRow("byte -1 overflows") << 8 << -1.0 << false << qint64(0);
    QTest::newRow("byte infinity is empty") << 8 << inf << false << qint64(0);
}

void TestConvert::rounding()
{
    QFETCH(int, width);
    QFETCH(double, value);
    QFETCH(bool, fits);
    QFETCH(qint64, expected);

    std::optional<qint64> r;
    if (width == 32) {
        if (auto v = roundToInt32(value))
            r = *v;
    } else {
        if (auto v = roundToByte(value))
            r = *v;
    }
    QCOMPARE(r.has_value(), fits);
    if (fits)
        QCOMPARE(*r, expected);
}

void TestConvert::hexToDec_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint64>("expected");

    QTest::newRow("empty -> 0") << "" << true << qint64(0);
    QTest::newRow("0000 -> 0") << "0000" << true << qint64(0);
    QTest::newRow("00FF -> 255") << "00FF" << true << qint64(255);
    QTest::newRow("ff -> 255") << "ff" << true << qint64(255);
    QTest::newRow("Ff -> 255") << "Ff" << true << qint64(255);
    QTest::newRow("1234 -> 4660") << "1234" << true << qint64(4660);
    QTest::newRow("abcdef lower case") << "abcdef" << true << qint64(0xABCDEF);
    QTest::newRow("7FFFFFFF -> 2147483647") << "7FFFFFFF" << true << qint64(2147483647);
    QTest::newRow("80000000 overflows") << "80000000" << false << qint64(0);
    QTest::newRow("FFFFFFFF overflows") << "FFFFFFFF" << false << qint64(0);
    QTest::newRow("nine digits overflow") << "100000000" << false << qint64(0);
    QTest::newRow("12G4 -> 4612, G keeps its position") << "12G4" << true << qint64(4612);
    QTest::newRow("-5 -> 5, no sign") << "-5" << true << qint64(5);
    QTest::newRow("&H10 -> 16, no prefix") << "&H10" << true << qint64(16);
    QTest::newRow("1G -> 16") << "1G" << true << qint64(16);
    QTest::newRow("'1 2' -> 258") << "1 2" << true << qint64(258);
    QTest::newRow("ten zeros then FF -> 255") << "0000000000FF" << true << qint64(255);
    QTest::newRow("5000 zeros then 7FFFFFFF") << rep("0", 5000) + "7FFFFFFF" << true << qint64(2147483647);
    QTest::newRow("5000 blanks then 1 far left overflows") << "1" + rep(" ", 5000) << false << qint64(0);
    QTest::newRow("non-ASCII letter is skipped") << QString::fromUtf8("\xC3\x9F" "1") << true << qint64(1);
    QTest::newRow("full-width digits are skipped") << QString::fromUtf8("\xEF\xBC\xA6" "1") << true << qint64(1);
}

void TestConvert::hexToDec()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(qint64, expected);
    const std::optional<std::int32_t> r = HEX_to_DEC(text);
    QCOMPARE(r.has_value(), ok);
    if (ok)
        QCOMPARE(qint64(*r), expected);
}

void TestConvert::hexToDecAllFourDigitTexts()
{
    for (int v = 0; v <= 0xFFFF; ++v) {
        const QString upper = QString::number(v, 16).toUpper().rightJustified(4, u'0');
        const std::optional<std::int32_t> r = HEX_to_DEC(upper);
        QVERIFY2(r && *r == v, qPrintable(upper));
        QCOMPARE(HEX_to_DEC(upper.toLower()), r);
    }
}






void TestConvert::convertValue_data()
{
    QTest::addColumn<QString>("dataHex");
    QTest::addColumn<QString>("bits");
    QTest::addColumn<QString>("inverted");
    QTest::addColumn<QString>("decimal");

    QTest::newRow("empty -> 0") << "" << "" << "" << "0";
    QTest::newRow("blanks only -> 0") << "   " << "" << "" << "0";
    QTest::newRow("00FA -> 250") << "00FA" << "0000000011111010" << "" << "250";
    QTest::newRow("0064 -> 100") << "0064" << "0000000001100100" << "" << "100";
    QTest::newRow("7FFF -> 32767") << "7FFF" << "0" + rep("1", 15) << "" << "32767";
    QTest::newRow("FFFF -> -1") << "FFFF" << rep("1", 16) << rep("0", 16) << "-1";
    QTest::newRow("FF9C -> -100") << "FF9C" << "1111111110011100" << "0000000001100011" << "-100";
    QTest::newRow("ff9c lower case -> -100") << "ff9c" << "1111111110011100" << "0000000001100011" << "-100";
    QTest::newRow("blanks around FF9C ignored") << "  FF9C  " << "1111111110011100" << "0000000001100011" << "-100";
    QTest::newRow("8000 -> -32768") << "8000" << "1" + rep("0", 15) << "0" + rep("1", 15) << "-32768";
    QTest::newRow("C0F1 exception bytes -> -16143") << "C0F1" << "1100000011110001" << "0011111100001110" << "-16143";
    QTest::newRow("0G -> 0, G is 0000") << "0G" << rep("0", 8) << "" << "0";
    QTest::newRow("G8 -> 8") << "G8" << "00001000" << "" << "8";
    QTest::newRow("blank inside counts 0000") << "8 1" << "100000000001" << "011111111110" << "-2047";
    QTest::newRow("single digit 8 -> -8") << "8" << "1000" << "0111" << "-8";
    QTest::newRow("FFFFFFFF -> -1") << "FFFFFFFF" << rep("1", 32) << rep("0", 32) << "-1";
    QTest::newRow("FFFF0000 -> -65536") << "FFFF0000" << rep("1", 16) + rep("0", 16) << rep("0", 16) + rep("1", 16)
                                        << "-65536";
    QTest::newRow("0000FFFF -> 65535") << "0000FFFF" << rep("0", 16) + rep("1", 16) << "" << "65535";
    QTest::newRow("80000000 -> -2147483648, not left stale") << "80000000" << "1" + rep("0", 31) << "0" + rep("1", 31)
                                                             << "-2147483648";
    QTest::newRow("80000001 -> -2147483647") << "80000001" << "1" + rep("0", 30) + "1" << "0" + rep("1", 30) + "0"
                                             << "-2147483647";
    QTest::newRow("7FFFFFFF -> 2147483647") << "7FFFFFFF" << "0" + rep("1", 31) << "" << "2147483647";
    QTest::newRow("01000001 -> 16777217 exactly") << "01000001" << "00000001000000000000000000000001" << ""
                                                  << "16777217";
    QTest::newRow("12345678 -> 305419896") << "12345678" << "00010010001101000101011001111000" << ""
                                           << "305419896";
    QTest::newRow("123456789ABC 48 bits") << "123456789ABC" << "000100100011010001010110011110001001101010111100"
                                          << "" << "20015998343868";
    QTest::newRow("800000000000 48 bits -> -2^47") << "800000000000" << "1" + rep("0", 47) << "0" + rep("1", 47)
                                                   << "-140737488355328";
    QTest::newRow("FFFFFFFFFFFFFFFF -> -1") << "FFFFFFFFFFFFFFFF" << rep("1", 64) << rep("0", 64) << "-1";
    QTest::newRow("7FFFFFFFFFFFFFFF all digits") << "7FFFFFFFFFFFFFFF" << "0" + rep("1", 63) << ""
                                                 << "9223372036854775807";
    QTest::newRow("8000000000000000 -> -2^63") << "8000000000000000" << "1" + rep("0", 63) << "0" + rep("1", 63)
                                               << "-9223372036854775808";
}

void TestConvert::convertValue()
{
    QFETCH(QString, dataHex);
    QFETCH(QString, bits);
    QFETCH(QString, inverted);
    QFETCH(QString, decimal);
    const ConvertedValue v = movra::convertValue(dataHex);
    QCOMPARE(v.bits, bits);
    QCOMPARE(v.inverted, inverted);
    QCOMPARE(v.decimal, decimal);
}

void TestConvert::convertLongData_data()
{
    QTest::addColumn<QString>("dataHex");
    QTest::addColumn<QString>("decimalStart");
    QTest::addColumn<QString>("decimalEnd");
    QTest::addColumn<int>("decimalLength");

    QTest::newRow("17 digits: 2^64") << "10000000000000000" << "18446744073709551616" << "" << 20;
    QTest::newRow("20 digits with leading zeros -> 1") << "00000000000000000001" << "1" << "" << 1;
    QTest::newRow("20 F -> -1") << rep("F", 20) << "-1" << "" << 2;
    QTest::newRow("32 digits: -2^127") << "8" + rep("0", 31) << "-170141183460469231731687303715884105728" << ""
                                       << 40;
    QTest::newRow("42 digits: 2^160") << "01" + rep("0", 40) << "1461501637330902918203684832716283019655932542976"
                                      << "" << 49;
    QTest::newRow("4096 digits: -2^16383 still exact") << "8" + rep("0", 4095) << "-59486574767861588254"
                                                       << "23513645334982033408" << 4933;
    QTest::newRow("positive 2^16383 still exact") << "08" + rep("0", 4095) << "59486574767861588254"
                                                  << "23513645334982033408" << 4932;
    QTest::newRow("2^16383-1, every bit significant, still exact") << "7" + rep("F", 4095) << "59486574767861588254"
                                                                  << "23513645334982033407" << 4932;
    QTest::newRow("2^16384 rounded to six digits") << "1" + rep("0", 4096) << "1.18973E+4932" << "" << 13;
    QTest::newRow("3 x 2^16384 rounded") << "3" + rep("0", 4096) << "3.56919E+4932" << "" << 13;
    QTest::newRow("negative -2^16384 rounded") << "F" + rep("0", 4096) << "-1.18973E+4932" << "" << 14;
    QTest::newRow("a million digits: 2^4000000") << "1" + rep("0", 1000000) << "9.60851E+1204119" << "" << 16;
    QTest::newRow("a million F -> -1") << rep("F", 1000000) << "-1" << "" << 2;
}

void TestConvert::convertLongData()
{
    QFETCH(QString, dataHex);
    QFETCH(QString, decimalStart);
    QFETCH(QString, decimalEnd);
    QFETCH(int, decimalLength);
    const ConvertedValue v = movra::convertValue(dataHex);
    QCOMPARE(v.bits.size(), 4 * dataHex.size());
    QCOMPARE(v.inverted.size(), v.bits.startsWith(u'1') ? v.bits.size() : 0);
    QVERIFY2(v.decimal.startsWith(decimalStart), qPrintable(v.decimal.left(40)));
    QVERIFY2(v.decimal.endsWith(decimalEnd), qPrintable(v.decimal.right(40)));
    QCOMPARE(v.decimal.size(), decimalLength);
}

void TestConvert::convertAgreesWithDecimalText()
{
    // Every width the decoder produces, against the integer's own text.
    for (qint32 x = -32768; x <= 32767; x += 7) {
        const QString hex = QString::number(quint16(x), 16).rightJustified(4, u'0');
        QCOMPARE(movra::convertValue(hex).decimal, QString::number(x));
    }
    for (qint64 x = -2147483648LL; x <= 2147483647LL; x += 104729) {
        const QString hex = QString::number(quint32(x), 16).rightJustified(8, u'0');
        QCOMPARE(movra::convertValue(hex).decimal, QString::number(x));
    }
    quint64 u = 1;
    for (int i = 0; i < 2000; ++i) {
        u = u * 6364136223846793005ULL + 1442695040888963407ULL;
        const qint64 x = qint64(u) >> (i % 64); // every magnitude
        const QString hex48 = QString::number(quint64(x) & 0xFFFFFFFFFFFFULL, 16).rightJustified(12, u'0');
        const qint64 x48 = qint64(quint64(x) << 16) >> 16;
        QCOMPARE(movra::convertValue(hex48).decimal, QString::number(x48));
        const QString hex64 = QString::number(quint64(x), 16).rightJustified(16, u'0');
        QCOMPARE(movra::convertValue(hex64).decimal, QString::number(x));
    }
}



void TestConvert::randomTextsKeepInvariants()
{
    // Texts mixing the characters every reader cares about.
    const QString alphabet = QStringLiteral("0123456789abcdefABCDEFGxX&hH+-.eE \t") + QChar(0xDF) + QChar(0xFF15);
    quint64 state = 42;
    auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return quint32(state >> 33);
    };
    for (int round = 0; round < 20000; ++round) {
        QString text;
        const int length = int(next() % 40);
        for (int i = 0; i < length; ++i)
            text += alphabet[int(next() % alphabet.size())];

        // Nothing after a number can extend it into an "x".
        const double lead = movra::leadingNumber(text);
        checkExact(movra::leadingNumber(text + u'x'), lead);
        if (const std::optional<double> only = movra::numberOnly(text))
            checkExact(*only, lead);

        // Hex reading only looks at digit positions.
        QString digitsOnly = text;
        for (QChar &c : digitsOnly) {
            if (hexDigitValue(c) < 0)
                c = u'0';
        }
        QCOMPARE(HEX_to_DEC(text), HEX_to_DEC(digitsOnly));

        const ConvertedValue v = movra::convertValue(text);
        qsizetype first = 0, last = text.size();
        while (first < last && text[first] == u' ')
            ++first;
        while (last > first && text[last - 1] == u' ')
            --last;
        QCOMPARE(v.bits.size(), 4 * (last - first));
        QVERIFY(!v.decimal.isEmpty());
        QCOMPARE(v.decimal.startsWith(u'-'), v.bits.startsWith(u'1'));
    }
}

QTEST_APPLESS_MAIN(TestConvert)
#include "tst_convert.moc"
