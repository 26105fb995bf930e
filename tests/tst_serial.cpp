// The serial layer: line settings, device paths, the clocks, the scripted
// meter, QtCommPort on a real pseudo-terminal, and meter-sim on the line.
#include "clock.h"
#include "commport.h"
#include "fakemeter.h"
#include "frame.h"
#include "qtcommport.h"
#include "simline.h"
#include "testkit.h"
#include "porttips.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace movra;
using movra::test::cpuSeconds;
using movra::test::hex;

Q_DECLARE_METATYPE(std::optional<LineSettings>)
Q_DECLARE_METATYPE(movra::OpenStatus)

namespace {

QByteArray request(std::uint8_t slave, std::uint8_t function, std::uint16_t address,
                   std::uint16_t operand)
{
    QueryFrame f{slave, function, std::uint8_t(address >> 8), std::uint8_t(address),
                 std::uint8_t(operand >> 8), std::uint8_t(operand), 0, 0};
    CRC(f);
    return frameBytes(f);
}

bool crcFits(const QByteArray &frame)
{
    if (frame.size() < 3)
        return false;
    const std::uint16_t crc = crc16(frame.left(frame.size() - 2));
    return quint8(frame[frame.size() - 2]) == (crc & 0xFF) && quint8(frame.back()) == (crc >> 8);
}

// The far end of a pseudo-terminal pair, opened raw and non-blocking.
class FarEnd {
public:
    explicit FarEnd(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd >= 0) {
            termios t{};
            tcgetattr(m_fd, &t);
            cfmakeraw(&t);
            tcsetattr(m_fd, TCSANOW, &t);
        }
    }
    ~FarEnd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }
    bool write(const QByteArray &bytes) const
    {
        return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // Whatever arrives within `ms`, until `count` bytes are there.
    QByteArray read(int count, int ms) const
    {
        QByteArray got;
        QDeadlineTimer deadline(ms);
        while (got.size() < count && !deadline.hasExpired()) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(deadline.remainingTime())) <= 0)
                continue;
            char buffer[256];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, n);
        }
        return got;
    }

private:
    int m_fd = -1;
};

// Polls the port without running the event loop, as the transaction cycle
// would after its wait.
int countWithin(SerialPort &port, int minimum, int ms)
{
    QDeadlineTimer deadline(ms);
    int n = port.inBufferCount();
    while (n >= 0 && n < minimum && !deadline.hasExpired()) {
        QThread::msleep(5);
        n = port.inBufferCount();
    }
    return n;
}

const char *const TestModel =
    "7\r\n"
    "0000-2 VOLT\r\n"
    "0010+4 KWH\r\n"
    "0012-4 KWH\r\n"
    "0020-8 CNT\r\n"
    "0030-2 PF\r\n"
    "0031-2 ADDR\r\n"
    "0040-4 KW\r\n";

} // namespace

class TestSerial : public QObject {
    Q_OBJECT

private slots:
    void parseSettingsTable_data();
    void parseSettingsTable();
    void rejectedSettingsKeepThePrevious_data();
    void rejectedSettingsKeepThePrevious();
    void settingsTextRoundTrip_data();
    void settingsTextRoundTrip();

    void portDevicePathTable_data();
    void portDevicePathTable();
    void comNumberFromTextTable_data();
    void comNumberFromTextTable();
    void unlinkedAdaptersInADevTree();
    void lampOpenTipTable_data();
    void lampOpenTipTable();

    void virtualWaitAdvancesPastTheTime_data();
    void virtualWaitAdvancesPastTheTime();
    void virtualHookRunsHalfwayOncePerWait();
    void virtualHookThatWaitsDoesNotRecurse();
    void virtualWaitProcessesPendingEvents();
    void systemWaitIdlesAndServesTimers();

    void fakeAnswerInvisibleBeforeItsDelay();
    void fakeTwoAnswersComeBackTogetherOlderFirst();
    void fakeDefaultAnswers_data();
    void fakeDefaultAnswers();
    void fakeWriteIsStoredAndEchoed();
    void fakePartialAnswerArrivesInPieces();
    void fakeQueuedReplyThenDefault();
    void fakeRefusedAndClosedWrites();
    void fakeOpenFailsAndPortNumber();
    void fakeTracksPortAndSettingsOfTheOpen();
    void fakeLinkLost();

    void ptyOpenAtEvenParityWritesAndReads();
    void ptyMissingDeviceDoesNotOpen();
    void ptyLinkLostWhenTheLineGoes();
    void ptyGoneLinkDoesNotOpenAnotherPort();

    void meterSimAnswers_data();
    void meterSimAnswers();
    void meterSimValuesMoveLikeAMeter();
    void meterSimModelFromItemFolder();
    void meterSimStopsOnTermAndWhenTheLineGoes();
    void meterSimOwnPtyAnswersOnlyAtItsSettings_data();
    void meterSimOwnPtyAnswersOnlyAtItsSettings();

private:
    bool needLine();
    QString writeModel(const QTemporaryDir &dir);
};

// --- line settings --------------------------------------------------------

void TestSerial::parseSettingsTable_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<LineSettings>>("expected");
    using S = LineSettings;
    const std::optional<LineSettings> none;
    QTest::newRow("9600,N,8,1") << "9600,N,8,1" << std::optional(S{9600, 'N', 8, 1});
    QTest::newRow("19200,E,8,1") << "19200,E,8,1" << std::optional(S{19200, 'E', 8, 1});
    QTest::newRow("2400,O,8,1") << "2400,O,8,1" << std::optional(S{2400, 'O', 8, 1});
    QTest::newRow("lower-case parity e") << "4800,e,8,1" << std::optional(S{4800, 'E', 8, 1});
    QTest::newRow("7 data bits, 2 stop bits") << "9600,N,7,2" << std::optional(S{9600, 'N', 7, 2});
    QTest::newRow("5 data bits, 1.5 stop bits")
        << "110,N,5,1.5" << std::optional(S{110, 'N', 5, OneAndHalfStopBits});
    QTest::newRow("mark parity") << "9600,M,8,1" << std::optional(S{9600, 'M', 8, 1});
    QTest::newRow("space parity") << "9600,s,8,1" << std::optional(S{9600, 'S', 8, 1});
    QTest::newRow("blanks around fields") << " 9600 , N , 8 , 1 " << std::optional(S{9600, 'N', 8, 1});
    QTest::newRow("empty text rejected") << "" << none;
    QTest::newRow("baud only rejected") << "9600" << none;
    QTest::newRow("three fields rejected") << "9600,N,8" << none;
    QTest::newRow("five fields rejected") << "9600,N,8,1,0" << none;
    QTest::newRow("baud 0 rejected") << "0,N,8,1" << none;
    QTest::newRow("negative baud rejected") << "-9600,N,8,1" << none;
    QTest::newRow("baud with sign rejected") << "+9600,N,8,1" << none;
    QTest::newRow("baud with letters rejected") << "96OO,N,8,1" << none;
    QTest::newRow("fractional baud rejected") << "9600.5,N,8,1" << none;
    QTest::newRow("baud beyond int rejected") << "99999999999,N,8,1" << none;
    QTest::newRow("parity X rejected") << "9600,X,8,1" << none;
    QTest::newRow("parity of two letters rejected") << "9600,NO,8,1" << none;
    QTest::newRow("empty parity rejected") << "9600,,8,1" << none;
    QTest::newRow("9 data bits rejected") << "9600,N,9,1" << none;
    QTest::newRow("4 data bits rejected") << "9600,N,4,1" << none;
    QTest::newRow("stop bits 0 rejected") << "9600,N,8,0" << none;
    QTest::newRow("stop bits 3 rejected") << "9600,N,8,3" << none;
    QTest::newRow("stop bits 1.0 rejected") << "9600,N,8,1.0" << none;
    QTest::newRow("semicolons rejected") << "9600;N;8;1" << none;
}

void TestSerial::parseSettingsTable()
{
    QFETCH(QString, text);
    QFETCH(std::optional<LineSettings>, expected);
    QCOMPARE(parseSettings(text), expected);
}

void TestSerial::rejectedSettingsKeepThePrevious_data()
{
    QTest::addColumn<bool>("fake");
    QTest::newRow("QtCommPort") << false;
    QTest::newRow("FakeMeter") << true;
}

void TestSerial::rejectedSettingsKeepThePrevious()
{
    QFETCH(bool, fake);
    VirtualClock clock;
    QTemporaryDir dir;
    std::unique_ptr<SerialPort> port;
    if (fake)
        port = std::make_unique<FakeMeter>(clock);
    else
        port = std::make_unique<QtCommPort>(dir.path());
    QVERIFY(port->setSettings({19200, 'E', 8, 1}));
    QVERIFY(!port->setSettings({19200, 'Q', 8, 1}));
    QVERIFY(!port->setSettings({0, 'N', 8, 1}));
    QVERIFY(!port->setSettings({9600, 'N', 9, 1}));
    QCOMPARE(port->settings(), (LineSettings{19200, 'E', 8, 1}));
    QVERIFY(port->setCommPort(3));
    QVERIFY(!port->setCommPort(0));
    QVERIFY(!port->setCommPort(-2));
    QCOMPARE(port->commPort(), 3);
}

void TestSerial::settingsTextRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("19200,E,8,1") << "19200,E,8,1";
    QTest::newRow("2400,O,7,2") << "2400,O,7,2";
    QTest::newRow("300,N,5,1.5") << "300,N,5,1.5";
}

void TestSerial::settingsTextRoundTrip()
{
    QFETCH(QString, text);
    const std::optional<LineSettings> parsed = parseSettings(text);
    QVERIFY(parsed);
    QCOMPARE(settingsText(*parsed), text);
}

// --- device paths ---------------------------------------------------------

void TestSerial::portDevicePathTable_data()
{
    QTest::addColumn<QString>("present"); // file in the folder, "" for none
    QTest::addColumn<bool>("dangling");   // a link to nothing
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("expected"); // "<dir>/" stands for the folder
    QTest::newRow("COM1 file present") << "COM1" << false << 1 << "<dir>/COM1";
    QTest::newRow("COM1 absent gives ttyS0") << "" << false << 1 << "/dev/ttyS0";
    QTest::newRow("COM15 absent gives ttyS14") << "" << false << 15 << "/dev/ttyS14";
    QTest::newRow("COM3 present, COM1 asked") << "COM3" << false << 1 << "/dev/ttyS0";
    QTest::newRow("COM3 present, COM3 asked") << "COM3" << false << 3 << "<dir>/COM3";
    QTest::newRow("dangling COM2 link stays COM2, not ttyS1") << "COM2" << true << 2 << "<dir>/COM2";
    QTest::newRow("COM256 absent gives ttyS255") << "" << false << 256 << "/dev/ttyS255";
}

void TestSerial::portDevicePathTable()
{
    QFETCH(QString, present);
    QFETCH(bool, dangling);
    QFETCH(int, port);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (!present.isEmpty()) {
        const QString path = dir.filePath(present);
        if (dangling) {
            QVERIFY(QFile::link(dir.filePath("gone"), path));
        } else {
            QFile f(dir.filePath("target"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(QFile::link(f.fileName(), path));
        }
    }
    expected.replace("<dir>/", dir.path() + "/");
    QCOMPARE(portDevicePath(dir.path(), port), expected);
}

void TestSerial::comNumberFromTextTable_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected"); // 0: names no port
    QTest::newRow("COM17") << "COM17" << 17;
    QTest::newRow("lower case, blanks around") << " com3 " << 3;
    QTest::newRow("COM256") << "COM256" << 256;
    QTest::newRow("COM0") << "COM0" << 0;
    QTest::newRow("COM257") << "COM257" << 0;
    QTest::newRow("COMX") << "COMX" << 0;
    QTest::newRow("number alone") << "17" << 0;
}

void TestSerial::comNumberFromTextTable()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    QCOMPARE(comNumberFromText(text).value_or(0), expected);
}

// A /dev tree in a temporary folder: ttyUSB0 and ttyUSB1 with by-id names,
// ttyACM0 without, ttyS0; COMn links beside the executable into it.
void TestSerial::unlinkedAdaptersInADevTree()
{
    QTemporaryDir tmp;
    const QDir root(tmp.path());
    const auto link = [&](const QString &to, const QString &at) {
        return ::symlink(QFile::encodeName(to).constData(), QFile::encodeName(root.filePath(at)).constData()) == 0;
    };
    QVERIFY(root.mkpath("dev/serial/by-id") && root.mkpath("exe"));
    for (const char *node : {"ttyUSB0", "ttyUSB1", "ttyACM0", "ttyS0"})
        QVERIFY(QFile(root.filePath("dev/") + node).open(QIODevice::WriteOnly));
    const QString idB = "dev/serial/by-id/usb-Maker_B-if00-port0", idA = "dev/serial/by-id/usb-Maker_A-if00-port0";
    QVERIFY(link("../../ttyUSB0", idB) && link("../../ttyUSB1", idA));
    QVERIFY(link(root.filePath(idB), "exe/COM2") && link(root.filePath("dev/ttyS0"), "exe/COM17"));
    QVERIFY(link(root.filePath("gone"), "exe/COM16"));
    // Names portDevicePath never opens link no port.
    QVERIFY(link(root.filePath("dev/ttyUSB1"), "exe/com4") && link(root.filePath("dev/ttyACM0"), "exe/COM04"));
    const QString exe = root.filePath("exe");
    QCOMPARE(unlinkedAdapters(exe, root.filePath("dev"), root.filePath("dev/serial/by-id")),
             QStringList({root.filePath("dev/ttyACM0"), root.filePath(idA)}));
}

void TestSerial::lampOpenTipTable_data()
{
    QTest::addColumn<OpenStatus>("status");
    QTest::addColumn<Language>("language");
    QTest::addColumn<QString>("expected"); // for COM3
    const OpenStatus noName{"", OpenFailure::NoSuchPortName, "COMX", {}, {}, {}};
    const OpenStatus refused{"/dev/ttyUSB0", OpenFailure::SettingsRefused, "9600,X,8,1", {}, {}, {}};
    const OpenStatus notTaken{"/dev/pts/3", OpenFailure::None, "", {}, {},
                              {{LineParameter::Parity, "E", "N"}, {LineParameter::DataBits, "7", "8"}}};
    QTest::newRow("text names no port") << noName << Language::English << "\"COMX\" names no port: type COM1 to COM256";
    QTest::newRow("text names no port, Chinese") << noName << Language::Chinese << "「COMX」不是埠的名稱:請輸入 COM1 到 COM256";
    QTest::newRow("settings refused")
        << refused << Language::English << "COM3 → /dev/ttyUSB0: the port refuses the settings 9600,X,8,1";
    QTest::newRow("settings refused, Chinese") << refused << Language::Chinese << "COM3 → /dev/ttyUSB0:此埠不接受設定 9600,X,8,1";
    QTest::newRow("open, parity and data bits not taken")
        << notTaken << Language::English
        << "COM3 → /dev/pts/3: open\nParity E not taken by the driver: N in effect\n"
           "Data bits 7 not taken by the driver: 8 in effect";
    QTest::newRow("open, parity and data bits not taken, Chinese")
        << notTaken << Language::Chinese << "COM3 → /dev/pts/3:已開啟\n驅動程式未接受同位檢查 E：實際為 N\n驅動程式未接受資料位元 7：實際為 8";
    QTest::newRow("adapters unlinked, COM3 a link that leads nowhere in a folder with blanks")
        << OpenStatus{"/x/gone", OpenFailure::LinkLeadsNowhere, "", {"/dev/ttyACM0", "/dev/ttyUSB0"}, "/o's m", {}} << Language::English
        << "COM3 → /x/gone: no such device, the link leads nowhere\nAdapters no COM link names: /dev/ttyACM0, "
           "/dev/ttyUSB0\nTo open /dev/ttyACM0 as COM3: ln -sf /dev/ttyACM0 '/o'\\''s m/COM3'";
}

void TestSerial::lampOpenTipTable()
{
    QFETCH(OpenStatus, status);
    QFETCH(Language, language);
    QFETCH(QString, expected);
    QCOMPARE(lampOpenTip("COM3", status, language), expected);
}

// --- clocks ---------------------------------------------------------------

void TestSerial::virtualWaitAdvancesPastTheTime_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<double>("startAt");
    QTest::newRow("0.2 s") << 0.2 << 0.0;
    QTest::newRow("0.1 s") << 0.1 << 0.0;
    QTest::newRow("0.2 s late in the day") << 0.2 << 86399.9;
    QTest::newRow("0 s still moves on") << 0.0 << 5.0;
}

void TestSerial::virtualWaitAdvancesPastTheTime()
{
    QFETCH(double, seconds);
    QFETCH(double, startAt);
    VirtualClock clock;
    clock.advance(startAt);
    const double t0 = clock.now();
    clock.wait(seconds);
    QVERIFY2(clock.now() - t0 > seconds, qPrintable(QString::number(clock.now() - t0, 'g', 17)));
    // Rounded to single precision, as the transaction cycle measures it.
    QVERIFY(float(clock.now() - t0) >= float(seconds));
    QVERIFY(clock.now() - t0 < seconds + 0.001);
    QCOMPARE(clock.waits(), 1);
}

void TestSerial::virtualHookRunsHalfwayOncePerWait()
{
    VirtualClock clock;
    QList<double> seen;
    clock.setDuringWait([&] { seen.append(clock.now()); });
    clock.wait(0.2);
    clock.wait(0.1);
    QCOMPARE(seen.size(), 2);
    QVERIFY(qAbs(seen[0] - 0.1) < 1e-9);
    QVERIFY(seen[1] > 0.2 && qAbs(seen[1] - (0.2 + 0.05)) < 1e-5);
    QCOMPARE(clock.waits(), 2);
}

void TestSerial::virtualHookThatWaitsDoesNotRecurse()
{
    VirtualClock clock;
    int hookRuns = 0;
    clock.setDuringWait([&] {
        ++hookRuns;
        clock.wait(0.2); // a click that starts a second cycle inside the first
    });
    clock.wait(0.2);
    QCOMPARE(hookRuns, 1);
    QCOMPARE(clock.waits(), 2);
    QVERIFY(clock.now() > 0.4);
    // The next wait runs the hook again.
    clock.wait(0.1);
    QCOMPARE(hookRuns, 2);
}

void TestSerial::virtualWaitProcessesPendingEvents()
{
    VirtualClock clock;
    bool ran = false;
    QMetaObject::invokeMethod(this, [&] { ran = true; }, Qt::QueuedConnection);
    QVERIFY(!ran);
    clock.wait(0.2);
    QVERIFY(ran);
}

void TestSerial::systemWaitIdlesAndServesTimers()
{
    SystemClock clock;
    bool ticked = false;
    QTimer::singleShot(50, this, [&] { ticked = true; });
    const double t0 = clock.now();
    QElapsedTimer real;
    real.start();
    const double cpu0 = cpuSeconds();
    clock.wait(0.2);
    const double cpu = cpuSeconds() - cpu0;
    const double elapsed = clock.now() - t0;
    QVERIFY2(elapsed > 0.2, qPrintable(QString::number(elapsed)));
    QVERIFY(real.elapsed() >= 200);
    QVERIFY2(elapsed < 1.0, qPrintable(QString::number(elapsed)));
    QVERIFY2(cpu < 0.2 * elapsed, qPrintable(QStringLiteral("cpu %1 s of %2 s").arg(cpu).arg(elapsed)));
    QVERIFY(ticked);
    QVERIFY(clock.now() >= t0 + elapsed);
}

// --- FakeMeter ------------------------------------------------------------

void TestSerial::fakeAnswerInvisibleBeforeItsDelay()
{
    VirtualClock clock;
    FakeMeter meter(clock);
    meter.setRegister(0x0000, 0x0064);
    meter.setAnswerDelay(0.15);
    QVERIFY(meter.setPortOpen(true));
    QVERIFY(meter.output(hex("010300000001840A")));
    QCOMPARE(meter.inBufferCount(), 0);
    clock.advance(0.149);
    QCOMPARE(meter.inBufferCount(), 0);
    QVERIFY(meter.input().isEmpty());
    clock.advance(0.002);
    QCOMPARE(meter.inBufferCount(), 7);
    QCOMPARE(meter.input(), hex("01030200 64B9AF"));
    QCOMPARE(meter.inBufferCount(), 0);
    QCOMPARE(meter.written(), QList<QByteArray>{hex("010300000001840A")});
}

void TestSerial::fakeTwoAnswersComeBackTogetherOlderFirst()
{
    VirtualClock clock;
    FakeMeter meter(clock);
    meter.setRegisters(0x0000, {0x0064, 0x1234});
    QVERIFY(meter.setPortOpen(true));
    meter.setAnswerDelay(0.3); // late: not there at the end of its own cycle
    QVERIFY(meter.output(request(1, 3, 0x0000, 1)));
    clock.wait(0.2);
    QCOMPARE(meter.inBufferCount(), 0);
    clock.wait(0.5); // it lands while nobody reads
    meter.setAnswerDelay(0.02);
    QVERIFY(meter.output(request(1, 3, 0x0001, 1)));
    clock.wait(0.2);
    QCOMPARE(meter.inBufferCount(), 14);
    QCOMPARE(meter.input(), FakeMeter::readAnswer(1, {0x0064}) + FakeMeter::readAnswer(1, {0x1234}));
}

void TestSerial::fakeDefaultAnswers_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("01 03 00 00 00 01 -> 01 03 02 00 64")
        << request(1, 3, 0, 1) << FakeMeter::readAnswer(1, {0x0064});
    QTest::newRow("two registers, high word first")
        << request(1, 3, 0x0010, 2) << FakeMeter::readAnswer(1, {0xFFFF, 0xFCAE});
    QTest::newRow("unknown register -> 01 83 02 C0 F1") << request(1, 3, 0x0005, 1) << hex("018302C0F1");
    QTest::newRow("range running past the map -> exception 02")
        << request(1, 3, 0x0011, 2) << FakeMeter::exceptionAnswer(1, 3, 2);
    QTest::newRow("count 0 -> exception 03") << request(1, 3, 0, 0) << FakeMeter::exceptionAnswer(1, 3, 3);
    QTest::newRow("function 04 -> exception 01") << request(1, 4, 0, 1) << FakeMeter::exceptionAnswer(1, 4, 1);
    QTest::newRow("another slave -> silence") << request(2, 3, 0, 1) << QByteArray();
    QTest::newRow("broadcast -> silence") << request(0, 3, 0, 1) << QByteArray();
    QTest::newRow("bad CRC -> silence") << hex("010300000001840B") << QByteArray();
    QTest::newRow("short frame -> silence") << hex("0103000000") << QByteArray();
}

void TestSerial::fakeDefaultAnswers()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, answer);
    VirtualClock clock;
    FakeMeter meter(clock);
    meter.setRegister(0x0000, 0x0064);
    meter.setRegisters(0x0010, {0xFFFF, 0xFCAE});
    QVERIFY(meter.setPortOpen(true));
    QVERIFY(meter.output(sent));
    clock.wait(0.2);
    QCOMPARE(meter.input(), answer);
    QCOMPARE(meter.pendingBytes(), 0);
}

void TestSerial::fakeWriteIsStoredAndEchoed()
{
    VirtualClock clock;
    FakeMeter meter(clock);
    meter.setRegister(0x0000, 0x0064);
    QVERIFY(meter.setPortOpen(true));
    QVERIFY(meter.output(hex("010600000001480A")));
    clock.wait(0.2);
    QCOMPARE(meter.input(), hex("010600000001480A"));
    QCOMPARE(meter.registerValue(0x0000), std::optional<quint16>(1));
    QVERIFY(meter.output(request(1, 6, 0x0007, 5)));
    clock.wait(0.2);
    QCOMPARE(meter.input(), FakeMeter::exceptionAnswer(1, 6, 2));
    QVERIFY(!meter.registerValue(0x0007));
}

void TestSerial::fakePartialAnswerArrivesInPieces()
{
    VirtualClock clock;
    FakeMeter meter(clock);
    const QByteArray answer = FakeMeter::readAnswer(1, {0x1234, 0x5678});
    meter.setResponder([&](const QByteArray &) -> std::optional<FakeMeter::Reply> {
        return FakeMeter::Reply{{answer.left(4), 0.05}, {answer.mid(4), 0.25}};
    });
    QVERIFY(meter.setPortOpen(true));
    QVERIFY(meter.output(request(1, 3, 0, 2)));
    clock.wait(0.2);
    QCOMPARE(meter.input(), answer.left(4));
    clock.wait(0.2);
    QCOMPARE(meter.input(), answer.mid(4));
}

void TestSerial::fakeQueuedReplyThenDefault()
{
    VirtualClock clock;
    FakeMeter meter(clock);
    meter.setRegister(0, 0x0064);
    const QByteArray req = request(1, 3, 0, 1);
    // An echo in front, a wrong slave, garbage, and no answer at all.
    meter.queueReply({{req, 0.0}, {FakeMeter::readAnswer(1, {0x0064}), 0.02}});
    meter.queueReply({{FakeMeter::readAnswer(9, {0x0064}), 0.02}});
    meter.queueReply({{hex("FF00FF"), 0.01}});
    meter.queueReply({});
    QVERIFY(meter.setPortOpen(true));
    const QList<QByteArray> expected{req + FakeMeter::readAnswer(1, {0x0064}),
                                     FakeMeter::readAnswer(9, {0x0064}), hex("FF00FF"), QByteArray(),
                                     FakeMeter::readAnswer(1, {0x0064})};
    for (const QByteArray &want : expected) {
        QVERIFY(meter.output(req));
        clock.wait(0.2);
        QCOMPARE(meter.input(), want);
    }
    QCOMPARE(meter.written().size(), 5);
    QVERIFY(!crcFits(FakeMeter::badCrc(FakeMeter::readAnswer(1, {0x0064}))));
}

void TestSerial::fakeRefusedAndClosedWrites()
{
    VirtualClock clock;
    FakeMeter meter(clock);
    meter.setRegister(0, 1);
    QVERIFY(!meter.output(request(1, 3, 0, 1))); // closed
    QCOMPARE(meter.inBufferCount(), -1);
    QVERIFY(meter.setPortOpen(true));
    meter.setWriteRefused(true);
    QVERIFY(!meter.output(request(1, 3, 0, 1)));
    clock.wait(0.2);
    QCOMPARE(meter.inBufferCount(), 0);
    QVERIFY(meter.written().isEmpty());
    QCOMPARE(meter.refusedWrites(), 2);
}

void TestSerial::fakeOpenFailsAndPortNumber()
{
    VirtualClock clock;
    FakeMeter meter(clock);
    meter.setOpenFails(true);
    QVERIFY(!meter.setPortOpen(true));
    QVERIFY(!meter.portOpen());
    QCOMPARE(meter.openCount(), 0);
    QVERIFY(!meter.setPortOpen(false)); // closing a closed port
    meter.setOpenFails(false);
    QVERIFY(meter.setPortOpen(true));
    QVERIFY(!meter.setPortOpen(true)); // already open
    QVERIFY(!meter.setCommPort(4));    // not while open
    QCOMPARE(meter.commPort(), 1);
    QVERIFY(meter.setPortOpen(false));
    QVERIFY(!meter.portOpen());
}

void TestSerial::fakeTracksPortAndSettingsOfTheOpen()
{
    VirtualClock clock;
    FakeMeter meter(clock);
    QVERIFY(meter.setCommPort(3));
    QVERIFY(meter.setSettings({19200, 'E', 8, 1}));
    QVERIFY(meter.setPortOpen(true));
    QCOMPARE(meter.openedPort(), 3);
    QCOMPARE(settingsText(meter.openedSettings()), QStringLiteral("19200,E,8,1"));
    QVERIFY(!meter.setSettings({19200, 'E', 8, 0}));
    QCOMPARE(meter.lastSettings(), (LineSettings{19200, 'E', 8, 0}));
    QCOMPARE(settingsText(meter.settings()), QStringLiteral("19200,E,8,1"));
}

void TestSerial::fakeLinkLost()
{
    VirtualClock clock;
    FakeMeter meter(clock);
    meter.setRegister(0, 1);
    QSignalSpy lost(&meter, &SerialPort::linkLost);
    QVERIFY(meter.setPortOpen(true));
    QVERIFY(meter.output(request(1, 3, 0, 1)));
    meter.loseLink();
    meter.loseLink();
    QCOMPARE(lost.count(), 1);
    clock.wait(0.2);
    QVERIFY(!meter.portOpen());
    QCOMPARE(meter.inBufferCount(), -1);
    QVERIFY(meter.input().isEmpty());
    QVERIFY(!meter.output(request(1, 3, 0, 1)));
    QVERIFY(!meter.setPortOpen(true));
    meter.restoreLink();
    QVERIFY(meter.setPortOpen(true));
    QCOMPARE(meter.inBufferCount(), 0); // the old answer went with the link
}

// --- QtCommPort on a pseudo-terminal --------------------------------------

bool TestSerial::needLine()
{
    const QString missing = SimulatedLine::missingTools();
    if (!missing.isEmpty())
        qWarning("missing: %s", qPrintable(missing));
    return missing.isEmpty();
}

void TestSerial::ptyOpenAtEvenParityWritesAndReads()
{
    if (!needLine())
        QFAIL("socat or meter-sim missing (scripts/deps installs socat; the build makes meter-sim)");
    SimulatedLine line;
    QVERIFY2(line.startSocat(), qPrintable(line.errorString()));
    QtCommPort port(line.dir());
    QVERIFY(port.setCommPort(1));
    QVERIFY(port.setSettings({19200, 'E', 8, 1}));
    QVERIFY(port.setPortOpen(true));
    QVERIFY(port.portOpen());
    QCOMPARE(port.settings(), (LineSettings{19200, 'E', 8, 1}));
    QCOMPARE(port.inBufferCount(), 0);
    QSignalSpy arrived(&port, &SerialPort::bytesArrived);

    FarEnd far(line.simPath());
    QVERIFY(far.ok());
    const QByteArray frame = hex("010300000001840A");
    QVERIFY(port.output(frame));
    QCOMPARE(far.read(8, 2000), frame);

    // Bytes from the far end become visible without the event loop running.
    const QByteArray answer = hex("0103020064B9AF");
    QVERIFY(far.write(answer.left(3)));
    QCOMPARE(countWithin(port, 3, 2000), 3);
    QVERIFY(far.write(answer.mid(3)));
    QCOMPARE(countWithin(port, 7, 2000), 7);
    QCOMPARE(port.input(), answer);
    QCOMPARE(port.inBufferCount(), 0);
    QCOMPARE(arrived.count(), 0); // bytes a poll takes raise no signal

    // Close and open again; the line survives the close.
    QVERIFY(port.setPortOpen(false));
    QVERIFY(!port.portOpen());
    QVERIFY(!port.setPortOpen(false));
    QCOMPARE(port.inBufferCount(), -1);
    QVERIFY(!port.output(frame));
    QVERIFY(port.setPortOpen(true));
    QVERIFY(far.write(hex("AA55")));
    QVERIFY(arrived.wait(2000)); // the event loop's read notifier
    QCOMPARE(port.inBufferCount(), 2);
    QTest::qWait(50);
    QCOMPARE(arrived.count(), 1);
    QCOMPARE(port.input(), hex("AA55"));

    // What the driver did not take, read back at the open and on a change.
    using P = LineParameter;
    using Refused = QList<RefusedSetting>;
    QCOMPARE(port.openStatus().refused, (Refused{{P::Parity, "E", "N"}})); // a pty has no parity
    QVERIFY(port.setSettings({9600, 'N', 8, 1}));
    QCOMPARE(port.openStatus().refused, Refused());
    QVERIFY(!port.setSettings({2400, 'O', 7, 2}));
    QCOMPARE(port.openStatus().refused, (Refused{{P::Parity, "O", "N"}, {P::DataBits, "7", "8"}}));
    QVERIFY(!port.setSettings({9600, 'N', 8, OneAndHalfStopBits}));
    QCOMPARE(port.openStatus().refused, (Refused{{P::StopBits, "1.5", "1"}}));
}

void TestSerial::ptyMissingDeviceDoesNotOpen()
{
    QTemporaryDir dir;
    QtCommPort port(dir.path());
    QVERIFY(!port.setCommPort(MaxComNumber + 1));
    QVERIFY(port.setCommPort(MaxComNumber));
    QVERIFY(port.setCommPort(200)); // /dev/ttyS199
    QVERIFY(!port.setPortOpen(true));
    QVERIFY(!port.portOpen());
    QCOMPARE(port.openStatus().linkFolder, dir.path());
    QCOMPARE(port.inBufferCount(), -1);
    QVERIFY(!port.output(hex("01")));
    QVERIFY(!port.setPortOpen(false));
}

void TestSerial::ptyGoneLinkDoesNotOpenAnotherPort()
{
    if (!needLine())
        QFAIL("socat or meter-sim missing (scripts/deps installs socat; the build makes meter-sim)");
    // COM1 is a link to a pty; once the pty is gone the link still names COM1,
    // and the open fails rather than falling back to /dev/ttyS0.
    SimulatedLine line(1);
    QVERIFY2(line.startSocat(), qPrintable(line.errorString()));
    line.killSocat();
    QVERIFY(QFileInfo(line.comPath()).isSymLink());
    QVERIFY(!QFileInfo::exists(line.comPath()));
    QtCommPort port(line.dir());
    QVERIFY(port.setCommPort(1));
    QVERIFY(!port.setPortOpen(true));
    QVERIFY(!port.portOpen());
}

void TestSerial::ptyLinkLostWhenTheLineGoes()
{
    if (!needLine())
        QFAIL("socat or meter-sim missing (scripts/deps installs socat; the build makes meter-sim)");
    // COM200: once the line is gone, its fallback /dev/ttyS199 is missing too.
    SimulatedLine line(200);
    QVERIFY2(line.startSocat(), qPrintable(line.errorString()));
    QtCommPort port(line.dir());
    QVERIFY(port.setCommPort(200));
    QVERIFY(port.setSettings({9600, 'N', 8, 1}));
    QVERIFY(port.setPortOpen(true));
    QSignalSpy lost(&port, &SerialPort::linkLost);
    line.killSocat();

    QDeadlineTimer deadline(3000);
    while (lost.isEmpty() && !deadline.hasExpired()) {
        port.inBufferCount();
        QTest::qWait(10);
    }
    QCOMPARE(lost.count(), 1);
    QVERIFY(!port.portOpen());
    QCOMPARE(port.inBufferCount(), -1);
    QVERIFY(!port.output(hex("010300000001840A")));

    // A broken pty must not keep the event loop busy, nor signal again.
    SystemClock clock;
    const double cpu0 = cpuSeconds();
    clock.wait(0.3);
    const double cpu = cpuSeconds() - cpu0;
    QVERIFY2(cpu < 0.1, qPrintable(QString::number(cpu)));
    QCOMPARE(lost.count(), 1);
    QVERIFY(!port.setPortOpen(true)); // the line is gone
}

// --- meter-sim on the line ------------------------------------------------

QString TestSerial::writeModel(const QTemporaryDir &dir)
{
    const QString path = dir.filePath("TEST.TXT");
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(TestModel);
    return path;
}

void TestSerial::meterSimAnswers_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<double>("waitFor");
    // Expected bytes; "??" marks a byte that varies (a live value or a CRC).
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("crcOk");
    QTest::addColumn<int>("frameFrom"); // where the answer's own frame starts

    const QByteArray volt = request(1, 3, 0x0000, 1);
    QTest::newRow("01 03 00 00 00 01 -> 01 03 02 value") << QStringList{} << volt << 0.2
                                                         << "01 03 02 ?? ?? ?? ??" << true << 0;
    QTest::newRow("unknown register -> 01 83 02 C0 F1")
        << QStringList{} << request(1, 3, 0x0005, 1) << 0.2 << "01 83 02 C0 F1" << true << 0;
    QTest::newRow("read beyond an entry -> exception 02")
        << QStringList{} << request(1, 3, 0x0031, 2) << 0.2 << "01 83 02 ?? ??" << true << 0;
    QTest::newRow("function 04 -> exception 01")
        << QStringList{} << request(1, 4, 0x0000, 1) << 0.2 << "01 84 01 ?? ??" << true << 0;
    QTest::newRow("another slave -> silence") << QStringList{} << request(2, 3, 0, 1) << 0.3 << ""
                                              << false << 0;
    QTest::newRow("slave 7 answers at 7") << QStringList{"--slave", "7"} << request(7, 3, 0x0031, 1)
                                          << 0.2 << "07 03 02 00 07 ?? ??" << true << 0;
    QTest::newRow("write echoed") << QStringList{} << request(1, 6, 0x0000, 0x0001) << 0.2
                                  << "01 06 00 00 00 01 48 0A" << true << 0;
    QTest::newRow("--exception 4 -> 01 83 04")
        << QStringList{"--exception", "4"} << volt << 0.2 << "01 83 04 ?? ??" << true << 0;
    QTest::newRow("--bad-crc spoils the CRC") << QStringList{"--bad-crc"} << volt << 0.2
                                              << "01 03 02 ?? ?? ?? ??" << false << 0;
    QTest::newRow("--silent -> silence") << QStringList{"--silent"} << volt << 0.3 << "" << false << 0;
    QTest::newRow("--delay 400 -> nothing within 0.2 s")
        << QStringList{"--delay", "400"} << volt << 0.2 << "" << false << 0;
    QTest::newRow("--delay 100 -> answer within 0.2 s")
        << QStringList{"--delay", "100"} << volt << 0.2 << "01 03 02 ?? ?? ?? ??" << true << 0;
    QTest::newRow("--latency 0.4 holds back a good answer too")
        << QStringList{"--latency", "0.4", "--fault-every", "9"} << volt << 0.2 << "" << false << 0;
    QTest::newRow("--latency 0.1 -> answer within 0.2 s")
        << QStringList{"--latency", "0.1"} << volt << 0.2 << "01 03 02 ?? ?? ?? ??" << true << 0;
    QTest::newRow("--echo puts the request in front")
        << QStringList{"--echo"} << volt << 0.2 << "01 03 00 00 00 01 84 0A 01 03 02 ?? ?? ?? ??" << true << 8;
    QTest::newRow("--wrong-slave 9") << QStringList{"--wrong-slave", "9"} << volt << 0.2
                                     << "09 03 02 ?? ?? ?? ??" << true << 0;
    QTest::newRow("--wrong-count gives 4 for one register")
        << QStringList{"--wrong-count"} << volt << 0.2 << "01 03 04 ?? ?? ?? ??" << true << 0;
    QTest::newRow("--noise 3 in front") << QStringList{"--noise", "3"} << volt << 0.2
                                        << "?? ?? ?? 01 03 02 ?? ?? ?? ??" << true << 3;
    QTest::newRow("--split 300 -> first half within 0.2 s")
        << QStringList{"--split", "300"} << volt << 0.2 << "01 03 02" << false << 0;
}

void TestSerial::meterSimAnswers()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, sent);
    QFETCH(double, waitFor);
    QFETCH(QString, expected);
    QFETCH(bool, crcOk);
    QFETCH(int, frameFrom);
    if (!needLine())
        QFAIL("socat or meter-sim missing (scripts/deps installs socat; the build makes meter-sim)");
    QTemporaryDir models;
    SimulatedLine line;
    QVERIFY2(line.start(QStringList{"--file", writeModel(models)} + options), qPrintable(line.errorString()));
    QtCommPort port(line.dir());
    QVERIFY(port.setPortOpen(true));
    QVERIFY(port.output(sent));
    SystemClock clock;
    clock.wait(waitFor);
    const QByteArray got = port.inBufferCount() > 0 ? port.input() : QByteArray();
    const QStringList want = expected.split(' ', Qt::SkipEmptyParts);
    QCOMPARE(got.size(), want.size());
    for (int i = 0; i < want.size(); ++i) {
        if (want[i] != "??")
            QCOMPARE(got.mid(i, 1).toHex(' ').toUpper(), want[i].toLatin1());
    }
    if (!got.isEmpty())
        QCOMPARE(crcFits(got.mid(frameFrom)), crcOk);
}

void TestSerial::meterSimValuesMoveLikeAMeter()
{
    if (!needLine())
        QFAIL("socat or meter-sim missing (scripts/deps installs socat; the build makes meter-sim)");
    QTemporaryDir models;
    SimulatedLine line;
    QVERIFY2(line.start({"--file", writeModel(models), "--slave", "3"}), qPrintable(line.errorString()));
    QtCommPort port(line.dir());
    QVERIFY(port.setPortOpen(true));
    SystemClock clock;
    const auto read = [&](std::uint16_t address, int registers) {
        port.output(request(3, 3, address, std::uint16_t(registers)));
        clock.wait(0.15);
        const QByteArray a = port.input();
        return a.size() == 5 + 2 * registers && crcFits(a) ? a.mid(3, 2 * registers) : QByteArray();
    };
    const auto big = [](const QByteArray &b) {
        qint64 v = qint8(b.isEmpty() ? 0 : b[0]); // sign from the first byte
        for (int i = 1; i < b.size(); ++i)
            v = v * 256 + quint8(b[i]);
        return v;
    };

    QList<qint64> volts, energy, reversedEnergy;
    for (int i = 0; i < 3; ++i) {
        volts << big(read(0x0000, 1));
        energy << big(read(0x0012, 2));
        QByteArray plus = read(0x0010, 2);
        std::reverse(plus.begin(), plus.end()); // what the tool does for "+"
        reversedEnergy << big(plus);
    }
    for (qint64 v : volts)
        QVERIFY2(v >= 2290 && v <= 2310, qPrintable(QString::number(v)));
    QVERIFY(energy[0] < energy[1] && energy[1] < energy[2]);
    QVERIFY(energy[0] > 1000);
    QVERIFY(reversedEnergy[0] < reversedEnergy[1] && reversedEnergy[1] < reversedEnergy[2]);
    QVERIFY(qAbs(reversedEnergy[2] - energy[2]) < 10);
    const qint64 pf = big(read(0x0030, 1));
    QVERIFY2(pf < -800 && pf > -900, qPrintable(QString::number(pf)));
    QCOMPARE(big(read(0x0031, 1)), 3); // ADDR
    const qint64 kw = big(read(0x0040, 2));
    QVERIFY2(kw < 0, qPrintable(QString::number(kw)));
    const QByteArray counter = read(0x0020, 4);
    QCOMPARE(counter.size(), 8);
    QVERIFY(big(counter) > 0xFFFFFFFFLL); // the upper bytes are in use
    // A range that covers parts of two entries is served.
    QCOMPARE(read(0x0030, 2).size(), 4);
}

void TestSerial::meterSimModelFromItemFolder()
{
    if (!needLine())
        QFAIL("socat or meter-sim missing (scripts/deps installs socat; the build makes meter-sim)");
    const QString model = QDir(SimulatedLine::binDir()).filePath("item/MV-100.TXT");
    if (!QFile::exists(model))
        QFAIL("no MV-100.TXT in the item folder beside the tests");
    {
        SimulatedLine line;
        QVERIFY2(line.start({"--model", "MV-100", "--slave", "5"}), qPrintable(line.errorString()));
        QtCommPort port(line.dir());
        QVERIFY(port.setPortOpen(true));
        // The model's first entry, whatever it is, is served.
        QFile f(model);
        QVERIFY(f.open(QIODevice::ReadOnly));
        f.readLine();
        const QByteArray entry = f.readLine();
        const std::uint16_t address = std::uint16_t(entry.left(4).toUInt(nullptr, 16));
        QVERIFY(port.output(request(5, 3, address, 1)));
        SystemClock clock;
        clock.wait(0.2);
        const QByteArray answer = port.input();
        QCOMPARE(answer.size(), 7);
        QCOMPARE(answer.left(3), hex("050302"));
        QVERIFY(crcFits(answer));
    }
    SimulatedLine missing;
    QVERIFY(!missing.start({"--model", "NO-SUCH-MODEL"}));
    QVERIFY2(missing.errorString().contains("NO-SUCH-MODEL"), qPrintable(missing.errorString()));
}

void TestSerial::meterSimStopsOnTermAndWhenTheLineGoes()
{
    if (!needLine())
        QFAIL("socat or meter-sim missing (scripts/deps installs socat; the build makes meter-sim)");
    QTemporaryDir models;
    {
        SimulatedLine line;
        QVERIFY2(line.start({"--file", writeModel(models)}), qPrintable(line.errorString()));
        QElapsedTimer t;
        t.start();
        line.stop(); // SIGTERM, SIGKILL only after 3 s
        QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(!line.simulatorRunning());
    }
    SimulatedLine line;
    QVERIFY2(line.start({"--file", writeModel(models)}), qPrintable(line.errorString()));
    line.killSocat();
    QVERIFY(line.waitForSimulatorExit(3000));
    QVERIFY2(line.simulatorLog().contains("line closed"), qPrintable(line.simulatorLog()));
}

// meter-sim on its own pty at 19200,O: the tool's settings decide.
void TestSerial::meterSimOwnPtyAnswersOnlyAtItsSettings_data()
{
    QTest::addColumn<QString>("openAt");
    QTest::addColumn<QString>("changeTo"); // on the open port; "" for no change
    QTest::addColumn<bool>("reopen");
    QTest::addColumn<bool>("answers");
    QTest::newRow("answers at 19200 O") << "19200,O,8,1" << "" << false << true;
    QTest::newRow("silent at 19200 N set after O") << "19200,O,8,1" << "19200,N,8,1" << false << false;
    QTest::newRow("answers after the tool closes and reopens") << "19200,O,8,1" << "" << true << true;
}

void TestSerial::meterSimOwnPtyAnswersOnlyAtItsSettings()
{
    QFETCH(QString, openAt);
    QFETCH(QString, changeTo);
    QFETCH(bool, reopen);
    QFETCH(bool, answers);
    if (!needLine())
        QFAIL("socat or meter-sim missing (scripts/deps installs socat; the build makes meter-sim)");
    QTemporaryDir models;
    SimulatedLine line;
    QVERIFY2(line.startOwnPty({"--file", writeModel(models), "--baud", "19200", "--parity", "O"}),
             qPrintable(line.errorString()));
    QtCommPort port(line.dir());
    QVERIFY(port.setSettings(*parseSettings(openAt)));
    QVERIFY(port.setPortOpen(true));
    if (!changeTo.isEmpty())
        port.setSettings(*parseSettings(changeTo));
    if (reopen) {
        QVERIFY(port.setPortOpen(false));
        QThread::msleep(200); // meter-sim meets the closed end
        QVERIFY(port.setPortOpen(true));
    }
    QVERIFY(port.output(hex("010300000001840A")));
    SystemClock clock;
    clock.wait(0.3);
    const QByteArray got = port.input();
    QCOMPARE(got.left(3), answers ? hex("010302") : QByteArray());
    QCOMPARE(crcFits(got), answers);
    QVERIFY(line.simulatorRunning());
    line.stop();
    QVERIFY(!QFileInfo(line.comPath()).isSymLink()); // removed as it ended
}

QTEST_GUILESS_MAIN(TestSerial)
#include "tst_serial.moc"
