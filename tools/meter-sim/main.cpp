// meter-sim: a panel meter on a serial line, a Modbus RTU slave on libmodbus.
//
//   meter-sim (--device PATH | --own-pty LINK) (--model NAME | --file PATH) [--slave N] [--baud B]
//             [--parity N|E|O] [--latency SECONDS] [--latency-after N:SECONDS]
//             [--jitter SECONDS] [--delay MS] [--silent]
//             [--exception CODE]
//             [--bad-crc] [--echo] [--noise N] [--split MS] [--pieces N]
//             [--wrong-slave N] [--wrong-count] [--fault-every N] [--verbose]
//
// --model NAME serves <folder of meter-sim>/item/NAME.TXT. The fault options
// spoil every answer, or with --fault-every N only the answer to every Nth
// request for this slave (the Nth, the 2Nth, ...); the others are good.
// --latency SECONDS holds back every answer that long after its request (a
// slow meter or a gateway); --latency-after N:SECONDS changes that after the
// Nth request (a meter that slows down or speeds up); --jitter SECONDS adds
// up to that much more to each answer, at random; --delay MS is the fault, a
// late spoiled answer, and adds to it.
// --own-pty LINK: meter-sim makes its own pseudo-terminal, LINK a symbolic
// link to the tool's end, and before each answer reads the tool's settings
// from it: it answers only at its own --baud and --parity (a pseudo-terminal
// shows odd parity but not even, so N and E look alike), otherwise it stays
// silent, as a meter does at other settings. It waits while the tool's end is
// closed, and removes LINK when it ends.
// Prints "ready" on standard output once it listens; ends on SIGTERM or
// SIGINT, and with --device when the other end of the line goes away.
#include "meter.h"
#include "ttyline.h"

#include <fcntl.h>
#include <modbus.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <getopt.h>
#include <optional>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

using Bytes = std::vector<std::uint8_t>;

// How the answers are spoiled. Each fault works on the framed answer.
struct Faults {
    int delayMs = 0;       // pause before answering
    bool silent = false;   // never answer
    int exception = 0;     // answer every request with this exception code
    bool badCrc = false;   // last byte of each answer corrupted
    bool echo = false;     // the request echoed in front of the answer
    int noise = 0;         // this many junk bytes in front of the answer
    int splitMs = -1;      // the answer in pieces, this pause between them
    int pieces = 2;        // how many pieces a split answer goes out in
    int wrongSlave = -1;   // answer as this slave address instead
    bool wrongCount = false; // byte count of a read answer off by two
    int every = 1;         // spoil only every this many-th answer
};

struct Options {
    std::string device;
    std::string ownPty; // the link to make to the tool's end
    std::string model;
    std::string file;
    int slave = 1;
    int baud = 9600;
    char parity = 'N';
    bool verbose = false;
    int latencyMs = 0; // every answer this long after its request
    long laterAfter = -1;  // after this many requests the latency is laterMs
    int laterMs = 0;
    int jitterMs = 0;  // up to this much more, at random
    Faults faults;
};

struct Piece {
    Bytes bytes;
    int pauseMs = 0; // before these bytes
};

void usage()
{
    std::fprintf(stderr,
                 "usage: meter-sim (--device PATH | --own-pty LINK) (--model NAME | --file PATH)\n"
                 "                 [--slave N]\n"
                 "                 [--baud B] [--parity N|E|O] [--latency SECONDS]\n"
                 "                 [--delay MS] [--silent] [--exception CODE] [--bad-crc]\n"
                 "                 [--echo] [--noise N] [--split MS] [--pieces N]\n"
                 "                 [--wrong-slave N] [--wrong-count] [--fault-every N] [--verbose]\n"
                 "  --latency SECONDS  every answer goes out this long after its request\n"
                 "  --latency-after N:SECONDS  from the request after the Nth on, this latency\n"
                 "  --jitter SECONDS   each answer up to this much later still, at random\n"
                 "  --delay MS         a fault: the spoiled answers (see --fault-every) go out\n"
                 "                     this much later still\n"
                 "  --own-pty LINK     make a pseudo-terminal, LINK to the tool's end; answer only\n"
                 "                     when the tool has set --baud and --parity on it (N and E\n"
                 "                     look alike there), stay silent otherwise; wait while the\n"
                 "                     tool's end is closed\n");
}

bool toInt(const char *text, int low, int high, int &out)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high)
        return false;
    out = int(v);
    return true;
}

// Seconds, "0.3", as whole milliseconds.
bool toMs(const char *text, int high, int &out)
{
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(v >= 0 && v * 1000 <= high))
        return false;
    out = int(v * 1000 + 0.5);
    return true;
}

bool parseOptions(int argc, char **argv, Options &o)
{
    enum { Device = 1, OwnPty, Model, File, Slave, Baud, Parity, Latency, LatencyAfter, Jitter, Delay, Silent,
           Exception, BadCrc,
           Echo, Noise, Split, Pieces, WrongSlave, WrongCount, FaultEvery, Verbose };
    static const option longOptions[] = {
        {"device", required_argument, nullptr, Device},
        {"own-pty", required_argument, nullptr, OwnPty},
        {"model", required_argument, nullptr, Model},
        {"file", required_argument, nullptr, File},
        {"slave", required_argument, nullptr, Slave},
        {"baud", required_argument, nullptr, Baud},
        {"parity", required_argument, nullptr, Parity},
        {"latency", required_argument, nullptr, Latency},
        {"latency-after", required_argument, nullptr, LatencyAfter},
        {"jitter", required_argument, nullptr, Jitter},
        {"delay", required_argument, nullptr, Delay},
        {"silent", no_argument, nullptr, Silent},
        {"exception", required_argument, nullptr, Exception},
        {"bad-crc", no_argument, nullptr, BadCrc},
        {"echo", no_argument, nullptr, Echo},
        {"noise", required_argument, nullptr, Noise},
        {"split", required_argument, nullptr, Split},
        {"pieces", required_argument, nullptr, Pieces},
        {"wrong-slave", required_argument, nullptr, WrongSlave},
        {"wrong-count", no_argument, nullptr, WrongCount},
        {"fault-every", required_argument, nullptr, FaultEvery},
        {"verbose", no_argument, nullptr, Verbose},
        {nullptr, 0, nullptr, 0},
    };
    Faults &f = o.faults;
    int c;
    while ((c = getopt_long(argc, argv, "", longOptions, nullptr)) != -1) {
        bool ok = true;
        switch (c) {
        case Device: o.device = optarg; break;
        case OwnPty: o.ownPty = optarg; break;
        case Model: o.model = optarg; break;
        case File: o.file = optarg; break;
        case Slave: ok = toInt(optarg, 1, 247, o.slave); break;
        case Baud: ok = toInt(optarg, 1, 4000000, o.baud); break;
        case Parity:
            o.parity = char(std::toupper(static_cast<unsigned char>(optarg[0])));
            ok = optarg[0] && !optarg[1] && (o.parity == 'N' || o.parity == 'E' || o.parity == 'O');
            break;
        case Latency: ok = toMs(optarg, 600000, o.latencyMs); break;
        case LatencyAfter: {
            const std::string text = optarg;
            const std::size_t colon = text.find(':');
            int after = 0;
            ok = colon != std::string::npos && toInt(text.substr(0, colon).c_str(), 0, 1000000000, after)
                 && toMs(text.c_str() + colon + 1, 600000, o.laterMs);
            o.laterAfter = after;
            break;
        }
        case Jitter: ok = toMs(optarg, 600000, o.jitterMs); break;
        case Delay: ok = toInt(optarg, 0, 600000, f.delayMs); break;
        case Silent: f.silent = true; break;
        case Exception: ok = toInt(optarg, 1, 255, f.exception); break;
        case BadCrc: f.badCrc = true; break;
        case Echo: f.echo = true; break;
        case Noise: ok = toInt(optarg, 0, 200, f.noise); break;
        case Split: ok = toInt(optarg, 0, 600000, f.splitMs); break;
        case Pieces: ok = toInt(optarg, 2, 300, f.pieces); break;
        case WrongSlave: ok = toInt(optarg, 0, 255, f.wrongSlave); break;
        case WrongCount: f.wrongCount = true; break;
        case FaultEvery: ok = toInt(optarg, 1, 1000000, f.every); break;
        case Verbose: o.verbose = true; break;
        default: ok = false; break;
        }
        if (!ok) {
            if (c > 0 && optarg)
                std::fprintf(stderr, "meter-sim: bad value '%s'\n", optarg);
            return false;
        }
    }
    if (optind != argc || o.device.empty() == o.ownPty.empty() || o.model.empty() == o.file.empty())
        return false;
    return true;
}

std::string ownFolder(const char *argv0)
{
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    std::string path = n > 0 ? std::string(buffer, std::size_t(n)) : std::string(argv0);
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

void hexDump(const char *what, const Bytes &bytes)
{
    std::fprintf(stderr, "%s", what);
    for (std::uint8_t b : bytes)
        std::fprintf(stderr, " %02X", b);
    std::fprintf(stderr, "\n");
}

// Sleeps, cut short by a stop signal.
void sleepMs(int ms)
{
    timespec left{ms / 1000, long(ms % 1000) * 1000000L};
    while (!g_stop && nanosleep(&left, &left) == -1 && errno == EINTR) {
    }
}

class Line {
public:
    explicit Line(modbus_t *ctx) : m_ctx(ctx) {}
    ~Line()
    {
        if (m_pipe[0] >= 0) {
            close(m_pipe[0]);
            close(m_pipe[1]);
        }
    }
    bool init() { return pipe(m_pipe) == 0; }

    // slave address + pdu + CRC. libmodbus frames it: its send goes to a pipe
    // for a moment, so that the faults can still change the finished bytes.
    Bytes frame(std::uint8_t slave, const Bytes &pdu)
    {
        Bytes raw{slave};
        raw.insert(raw.end(), pdu.begin(), pdu.end());
        const int line = modbus_get_socket(m_ctx);
        modbus_set_socket(m_ctx, m_pipe[1]);
        const int n = modbus_send_raw_request(m_ctx, raw.data(), int(raw.size()));
        modbus_set_socket(m_ctx, line);
        if (n <= 0)
            return {};
        Bytes out(static_cast<std::size_t>(n));
        std::size_t got = 0;
        while (got < out.size()) {
            const ssize_t r = read(m_pipe[0], out.data() + got, out.size() - got);
            if (r <= 0)
                return {};
            got += std::size_t(r);
        }
        return out;
    }

    bool write(const Bytes &bytes)
    {
        const int fd = modbus_get_socket(m_ctx);
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += std::size_t(n);
        }
        return true;
    }

private:
    modbus_t *m_ctx;
    int m_pipe[2] = {-1, -1};
};

// The answer as it goes on the line, piece by piece.
std::vector<Piece> shape(Line &line, const Bytes &request, std::uint8_t slave, Bytes pdu,
                         const Faults &f)
{
    if (f.wrongCount && pdu.size() >= 2 && pdu[0] == 0x03)
        pdu[1] = std::uint8_t(pdu[1] + 2);
    if (f.wrongSlave >= 0)
        slave = std::uint8_t(f.wrongSlave);
    Bytes answer = line.frame(slave, pdu);
    if (answer.empty())
        return {};
    if (f.badCrc)
        answer.back() ^= 0xFF;

    Bytes front;
    if (f.echo)
        front = request;
    for (int i = 0; i < f.noise; ++i)
        front.push_back(std::uint8_t(0xA5 ^ (i * 0x3B)));
    front.insert(front.end(), answer.begin(), answer.end());

    std::vector<Piece> pieces;
    if (f.splitMs < 0 || front.size() < 2) {
        pieces.push_back({front, f.delayMs});
        return pieces;
    }
    // Near-equal pieces, none empty.
    const std::size_t count = std::min(front.size(), std::size_t(f.pieces));
    std::size_t from = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t size = (front.size() - from) / (count - k);
        const std::size_t to = from + std::max<std::size_t>(size, 1);
        pieces.push_back({Bytes(front.begin() + long(from), front.begin() + long(to)),
                          k == 0 ? f.delayMs : f.splitMs});
        from = to;
    }
    return pieces;
}

// While the tool's end of an own pseudo-terminal is closed, look again this often.
constexpr int ClosedEndPollMs = 50;

// A pseudo-terminal pair: the master for meter-sim, LINK to the slave, the
// tool's end. -1 on failure, with the reason on standard error.
int openOwnPty(const std::string &link)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::fprintf(stderr, "meter-sim: no pseudo-terminal: %s\n", std::strerror(errno));
        if (master >= 0)
            close(master);
        return -1;
    }
    // The master sets the terminal of the tool's end: raw until the tool
    // sets its own.
    termios t{};
    if (tcgetattr(master, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(master, TCSANOW, &t);
    }
    const char *slave = ptsname(master);
    unlink(link.c_str());
    if (!slave || symlink(slave, link.c_str()) != 0) {
        std::fprintf(stderr, "meter-sim: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
        close(master);
        return -1;
    }
    return master;
}

// The tool's settings as its end shows them match ours: the baud rate, and
// odd parity or not.
bool toolSettingsMatch(int master, const Options &o, bool verbose)
{
    termios t{};
    if (tcgetattr(master, &t) != 0)
        return false;
    const int baud = movra::baudOfSpeed(cfgetospeed(&t));
    const bool odd = (t.c_cflag & PARODD) != 0;
    const bool match = baud == o.baud && odd == (o.parity == 'O');
    if (!match && verbose)
        std::fprintf(stderr, "meter-sim: the tool is at %d baud, %s; silent\n", baud,
                     odd ? "odd parity" : "no odd parity");
    return match;
}

} // namespace

// How long the answer to the `served`th request waits.
int latencyMs(const Options &o, long served, std::minstd_rand &jitter)
{
    const int base = o.laterAfter >= 0 && served > o.laterAfter ? o.laterMs : o.latencyMs;
    if (o.jitterMs <= 0)
        return base;
    return base + std::uniform_int_distribution<int>(0, o.jitterMs)(jitter);
}

int main(int argc, char **argv)
{
    Options o;
    if (!parseOptions(argc, argv, o)) {
        usage();
        return 2;
    }
    const std::string modelPath = o.file.empty() ? ownFolder(argv[0]) + "/item/" + o.model + ".TXT"
                                                 : o.file;
    std::string error;
    const std::optional<std::vector<metersim::Entry>> entries = metersim::loadModel(modelPath, error);
    if (!entries) {
        std::fprintf(stderr, "meter-sim: %s\n", error.c_str());
        return 1;
    }
    metersim::Meter meter(*entries, o.slave, o.baud);

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: a blocked wait returns and sees the flag
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const bool own = !o.ownPty.empty();
    const int master = own ? openOwnPty(o.ownPty) : -1;
    if (own && master < 0)
        return 1;
    const auto endOwnPty = [&] {
        if (own) {
            close(master);
            unlink(o.ownPty.c_str());
        }
    };
    // On its own pseudo-terminal libmodbus gets the master as its descriptor
    // and never opens or closes a device.
    modbus_t *ctx = modbus_new_rtu(own ? o.ownPty.c_str() : o.device.c_str(), o.baud, o.parity, 8, 1);
    if (!ctx) {
        std::fprintf(stderr, "meter-sim: %s\n", modbus_strerror(errno));
        endOwnPty();
        return 1;
    }
    modbus_set_slave(ctx, o.slave);
    if (own) {
        modbus_set_socket(ctx, master);
    } else if (modbus_connect(ctx) == -1) {
        std::fprintf(stderr, "meter-sim: cannot open %s: %s\n", o.device.c_str(), modbus_strerror(errno));
        modbus_free(ctx);
        return 1;
    }
    // Ends the line as it was begun.
    const auto endLine = [&] {
        if (own)
            endOwnPty();
        else
            modbus_close(ctx);
        modbus_free(ctx);
    };
    // Wake up now and then to see a stop signal; a gap of 50 ms inside a
    // request ends it (a byte takes about 1 ms at 9600 baud). After a bad
    // frame the rest of the input is dropped.
    modbus_set_indication_timeout(ctx, 0, 250000);
    modbus_set_byte_timeout(ctx, 0, 50000);
    modbus_set_response_timeout(ctx, 0, 20000);
    modbus_set_error_recovery(ctx, MODBUS_ERROR_RECOVERY_PROTOCOL);

    Line line(ctx);
    if (!line.init()) {
        std::fprintf(stderr, "meter-sim: pipe: %s\n", std::strerror(errno));
        endLine();
        return 1;
    }
    if (o.verbose)
        std::fprintf(stderr, "meter-sim: slave %d, %zu entries from %s\n", o.slave, entries->size(),
                     modelPath.c_str());
    std::printf("ready\n");
    std::fflush(stdout);

    bool lineOk = true;
    long served = 0; // requests for this slave (or broadcast) so far
    std::minstd_rand jitter; // the same draws on every run
    std::uint8_t buffer[MODBUS_RTU_MAX_ADU_LENGTH];
    while (!g_stop && lineOk) {
        const int n = modbus_receive(ctx, buffer);
        if (n == 0)
            continue; // another slave's request
        if (n < 0) {
            if (errno == ETIMEDOUT || errno == EINTR || errno >= MODBUS_ENOBASE)
                continue; // idle line, or a broken request
            if (own && errno == EIO) {
                sleepMs(ClosedEndPollMs); // the tool's end is closed
                continue;
            }
            if (!g_stop)
                std::fprintf(stderr, "meter-sim: line closed: %s\n", modbus_strerror(errno));
            break;
        }
        const Bytes request(buffer, buffer + n);
        if (o.verbose)
            hexDump("meter-sim: request", request);
        if (own && !toolSettingsMatch(master, o, o.verbose))
            continue;
        ++served;
        const Faults good;
        const Faults &f = served % o.faults.every == 0 ? o.faults : good;
        if (f.silent)
            continue;
        // Requests arrive with a good CRC; n counts it.
        Bytes pdu = f.exception ? Bytes{std::uint8_t(buffer[1] | 0x80), std::uint8_t(f.exception)}
                                : meter.answer(buffer + 1, std::size_t(n - 3));
        if (buffer[0] == MODBUS_BROADCAST_ADDRESS || pdu.empty())
            continue; // a broadcast is carried out, never answered
        std::vector<Piece> pieces = shape(line, request, buffer[0], pdu, f);
        if (!pieces.empty())
            pieces.front().pauseMs += latencyMs(o, served, jitter);
        for (const Piece &piece : pieces) {
            if (piece.pauseMs > 0)
                sleepMs(piece.pauseMs);
            if (g_stop)
                break;
            if (o.verbose)
                hexDump("meter-sim: answer", piece.bytes);
            if (!line.write(piece.bytes)) {
                if (own)
                    break; // the tool closed its end meanwhile
                std::fprintf(stderr, "meter-sim: line closed: %s\n", std::strerror(errno));
                lineOk = false;
                break;
            }
        }
    }
    endLine();
    return 0;
}
