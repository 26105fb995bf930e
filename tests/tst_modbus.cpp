#include "frame.h"
#include "response.h"
#include "request.h"
#include "support/testkit.h"

#include <QtTest>

using namespace movra;
using movra::test::hex;

namespace {

QueryFrame frameOf(const char *spaced)
{
    const QByteArray b = hex(spaced);
    QueryFrame f{};
    for (int i = 0; i < b.size() && i < 8; ++i)
        f[std::size_t(i)] = std::uint8_t(b.at(i));
    return f;
}

} // namespace

Q_DECLARE_METATYPE(movra::Reason::Kind)

class TestModbus : public QObject {
    Q_OBJECT

private slots:
    void crcFrame_data();
    void crcFrame();
    void crcCheckValue();
    void crcCoversOnlySixBytes();
    void hexByteDigits_data();
    void hexByteDigits();
    void render_data();
    void render();
    void checkAnswer_data();
    void checkAnswer();
};

void TestModbus::crcFrame_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("line");

    QTest::newRow("01 03 00 00 00 01 -> 84 0A") << hex("01 03 00 00 00 01") << hex("01 03 00 00 00 01 84 0A") << "01,03,00,00,00,01,84,0A";
    QTest::newRow("01 03 00 00 00 02 -> C4 0B") << hex("01 03 00 00 00 02") << hex("01 03 00 00 00 02 C4 0B") << "01,03,00,00,00,02,C4,0B";
    QTest::newRow("01 06 00 00 00 01 -> 48 0A") << hex("01 06 00 00 00 01") << hex("01 06 00 00 00 01 48 0A") << "01,06,00,00,00,01,48,0A";
    QTest::newRow("11 03 00 6B 00 03 -> 76 87") << hex("11 03 00 6B 00 03") << hex("11 03 00 6B 00 03 76 87") << "11,03,00,6B,00,03,76,87";
    QTest::newRow("slave 0 is sent unchanged") << hex("00 03 00 00 00 01") << hex("00 03 00 00 00 01 85 DB") << "00,03,00,00,00,01,85,DB";
}

void TestModbus::crcFrame()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, frame);
    QFETCH(QString, line);

    QueryFrame f{};
    for (int i = 0; i < 6; ++i)
        f[std::size_t(i)] = std::uint8_t(head.at(i));
    f[6] = 0x55; // stale CRC bytes are overwritten
    f[7] = 0xAA;
    CRC(f);
    QCOMPARE(frameBytes(f), frame);
    QCOMPARE(queryLine(f), line);
    QCOMPARE(queryLine(f).size(), 23);
}

void TestModbus::crcCheckValue()
{
    QCOMPARE(crc16(QByteArray("123456789")), std::uint16_t(0x4B37));
    QCOMPARE(crc16(QByteArray()), std::uint16_t(0xFFFF));
    const QByteArray head = hex("01 03 00 00 00 01");
    QCOMPARE(crc16(reinterpret_cast<const std::uint8_t *>(head.constData()), 6), std::uint16_t(0x0A84));
}

void TestModbus::crcCoversOnlySixBytes()
{
    QueryFrame a = frameOf("01 03 00 00 00 01 00 00");
    QueryFrame b = frameOf("01 03 00 00 00 01 FF FF");
    CRC(a);
    CRC(b);
    QCOMPARE(frameBytes(a), frameBytes(b));
}

void TestModbus::hexByteDigits_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("0 -> 00") << 0 << "00";
    QTest::newRow("10 -> 0A") << 10 << "0A";
    QTest::newRow("15 -> 0F") << 15 << "0F";
    QTest::newRow("16 -> 10") << 16 << "10";
    QTest::newRow("132 -> 84") << 132 << "84";
    QTest::newRow("255 -> FF") << 255 << "FF";
}

void TestModbus::hexByteDigits()
{
    QFETCH(int, value);
    QTEST(hexByte(std::uint8_t(value)), "text");
}

void TestModbus::render_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("expectedLength");
    QTest::addColumn<bool>("write");
    QTest::addColumn<QString>("length");
    QTest::addColumn<QString>("sign");
    QTest::addColumn<QString>("hex");
    QTest::addColumn<bool>("logged");
    QTest::addColumn<bool>("convert");
    QTest::addColumn<bool>("hasData");
    QTest::addColumn<QString>("dataHex");

    const QByteArray four = hex("01 03 04 12 34 56 78 81 07");
    const QByteArray eight = hex("01 03 08 01 02 03 04 05 06 07 08 65 13");

    QTest::newRow("read 2: 0064") << hex("01 03 02 00 64 B9 AF") << 5 << false << "2" << "-"
                                  << "01 03 02 00 64 " << true << true << true << "0064";
    QTest::newRow("read 4 sign '-': order received") << four << 7 << false << "4" << "-"
                                                     << "01 03 04 12 34 56 78 " << true << true << true << "12345678";
    QTest::newRow("read 4 sign '+': all four reversed") << four << 7 << false << "4" << "+"
                                                        << "01 03 04 12 34 56 78 " << true << true << true << "78563412";
    QTest::newRow("read 4 other sign: converts the old value") << four << 7 << false << "4" << "*"
                                                               << "01 03 04 12 34 56 78 " << true << true << false << QString();
    QTest::newRow("read 2 exception answer: CRC taken as data") << hex("01 83 02 C0 F1") << 5 << false << "2" << "-"
                                                                << "01 83 02 C0 F1 " << true << true << true << "C0F1";
    QTest::newRow("write echo: logged, no conversion") << hex("01 06 00 00 00 01 48 0A") << 6 << true << "2" << "-"
                                                       << "01 06 00 00 00 01 " << true << false << false << QString();
    QTest::newRow("read 8 uses all eleven slots") << eight << 11 << false << "8" << "-"
                                                  << "01 03 08 01 02 03 04 05 06 07 08 " << true << true << true << "0102030405060708";
    QTest::newRow("read 6: six data bytes, sign ignored") << eight << 9 << false << "6" << "+"
                                                         << "01 03 08 01 02 03 04 05 06 " << true << true << true << "010203040506";
    QTest::newRow("read 2 ignores the sign") << hex("01 03 02 00 64 B9 AF") << 5 << false << "2" << "+"
                                             << "01 03 02 00 64 " << true << true << true << "0064";
    QTest::newRow("length text '3': shown, not logged or converted") << hex("01 03 02 00 64 B9 AF") << 5 << false << "3" << "-"
                                                                     << "01 03 02 00 64 " << false << false << false << QString();
    QTest::newRow("length text ' 2' is not '2'") << hex("01 03 02 00 64 B9 AF") << 5 << false << " 2" << "-"
                                                 << "01 03 02 00 64 " << false << false << false << QString();
    QTest::newRow("no slot past position 10") << eight << 13 << false << "8" << "-"
                                              << "01 03 08 01 02 03 04 05 06 07 08 " << true << true << true << "0102030405060708";
    QTest::newRow("short answer: missing data slots are empty") << hex("01 03 02 00") << 5 << false << "2" << "-"
                                                                << "01 03 02 00 " << true << true << true << "00";
    QTest::newRow("one byte answer: empty data") << hex("01") << 7 << false << "4" << "+"
                                                 << "01 " << true << true << true << "";
    QTest::newRow("write option wins over the length") << hex("01 06 00") << 6 << true << "x" << "-"
                                                       << "01 06 00 " << true << false << false << QString();
    QTest::newRow("expected length 0 shows nothing") << hex("01 03 02 00 64") << 0 << false << "2" << "-"
                                                     << "" << true << true << true << "";
}

void TestModbus::render()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, expectedLength);
    QFETCH(bool, write);
    QFETCH(QString, length);
    QFETCH(QString, sign);
    QFETCH(bool, hasData);

    const RenderedResponse r = renderResponse(bytes, expectedLength, write, valueShapeOf(length, byteOrderOf(sign)));
    QTEST(r.hex, "hex");
    QTEST(r.logged, "logged");
    QTEST(r.convert, "convert");
    QCOMPARE(r.dataHex.has_value(), hasData);
    if (hasData)
        QTEST(*r.dataHex, "dataHex");
}

void TestModbus::checkAnswer_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<Reason::Kind>("status");

    const QByteArray read1 = hex("01 03 00 00 00 01 84 0A");
    const QByteArray read2 = hex("01 03 00 00 00 02 C4 0B");
    const QByteArray write1 = hex("01 06 00 00 00 01 48 0A");
    const QByteArray good = hex("01 03 02 00 64 B9 AF");
    const auto sealed = [](const char *spaced) {
        QByteArray b = hex(spaced);
        const std::uint16_t crc = crc16(b);
        return b + char(crc & 0xFF) + char(crc >> 8);
    };

    QTest::newRow("good 1-register answer") << read1 << good << Reason::None;
    QTest::newRow("good 2-register answer") << read2 << hex("01 03 04 00 64 00 65 7B C7") << Reason::None;
    QTest::newRow("good 4-register answer") << hex("01 03 00 00 00 04 44 09") << hex("01 03 08 01 02 03 04 05 06 07 08 65 13") << Reason::None;
    QTest::newRow("exception 01 83 02 C0 F1") << read1 << hex("01 83 02 C0 F1") << Reason::Exception;
    QTest::newRow("exception to a write") << write1 << hex("01 86 02 C3 A1") << Reason::Exception;
    QTest::newRow("exception with bad CRC") << read1 << hex("01 83 02 C0 F0") << Reason::BadCrc;
    QTest::newRow("exception cut short") << read1 << hex("01 83 02 C0") << Reason::ShortAnswer;
    QTest::newRow("bad CRC") << read1 << hex("01 03 02 00 64 B9 AE") << Reason::BadCrc;
    QTest::newRow("data byte changed in transit") << read1 << hex("01 03 02 00 65 B9 AF") << Reason::BadCrc;
    QTest::newRow("wrong slave") << read1 << hex("02 03 02 00 64 FD AF") << Reason::WrongSlave;
    QTest::newRow("wrong function") << read1 << hex("01 04 02 00 64 B8 DB") << Reason::WrongFunction;
    QTest::newRow("exception to another function") << write1 << hex("01 83 02 C0 F1") << Reason::WrongFunction;
    QTest::newRow("wrong byte count: 1 register for 2") << read2 << good << Reason::WrongByteCount;
    QTest::newRow("wrong byte count: 2 registers for 1") << read1 << hex("01 03 04 00 64 00 65 7B C7") << Reason::WrongByteCount;
    QTest::newRow("byte count 04 over 2 data bytes, CRC good over all: wrong byte count")
        << read1 << sealed("01 03 04 00 64") << Reason::WrongByteCount;
    QTest::newRow("byte count 02 over 4 data bytes, CRC good over all: wrong byte count")
        << read2 << sealed("01 03 02 00 64 00 65") << Reason::WrongByteCount;
    QTest::newRow("nothing received") << read1 << QByteArray() << Reason::NoAnswer;
    QTest::newRow("slave byte only") << read1 << hex("01") << Reason::ShortAnswer;
    QTest::newRow("CRC high byte missing") << read1 << hex("01 03 02 00 64 B9") << Reason::ShortAnswer;
    QTest::newRow("one trailing byte") << read1 << good + hex("00") << Reason::MoreThanOneFrame;
    QTest::newRow("late answer in front of the current one") << read1 << good + good << Reason::MoreThanOneFrame;
    QTest::newRow("write echo good") << write1 << write1 << Reason::None;
    QTest::newRow("write echo with another value") << write1 << hex("01 06 00 00 00 02 08 0B") << Reason::EchoMismatch;
    QTest::newRow("write echo cut short") << write1 << hex("01 06 00 00 00 01 48") << Reason::ShortAnswer;
    QTest::newRow("write echo with bad CRC") << write1 << hex("01 06 00 00 00 01 48 0B") << Reason::BadCrc;
    QTest::newRow("read answer to a write") << write1 << good << Reason::WrongFunction;
    QTest::newRow("bytes at another baud rate: unreadable") << read1 << hex("FE 7E 00 F8 80 E0") << Reason::Unreadable;
    QTest::newRow("wrong slave, bad CRC: unreadable") << read1 << hex("02 03 02 00 64 FD AE") << Reason::Unreadable;
    QTest::newRow("byte count not asked for, bad CRC: unreadable") << read1 << hex("01 03 04 00 64 00 65 7B C6") << Reason::Unreadable;
    QTest::newRow("echo, then an answer with bad CRC") << read1 << read1 + hex("01 03 02 00 64 B9 AE") << Reason::BadCrc;
    QTest::newRow("echo, then an answer cut short") << read1 << read1 + hex("01 03 02 00") << Reason::ShortAnswer;
}

void TestModbus::checkAnswer()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    QFETCH(Reason::Kind, status);

    QueryFrame f{};
    for (int i = 0; i < 8; ++i)
        f[std::size_t(i)] = std::uint8_t(request.at(i));
    const Reason::Kind got = movra::checkAnswer(f, answer).kind;
    QCOMPARE(int(got), int(status));
}


QTEST_APPLESS_MAIN(TestModbus)
#include "tst_modbus.moc"
