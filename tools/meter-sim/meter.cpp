#include "meter.h"

#include <cctype>
#include <fstream>
#include <iterator>

namespace metersim {

namespace {

std::vector<std::string> splitLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

int leadingCount(const std::string &line)
{
    std::size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    long n = 0;
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])) && n < 100000)
        n = n * 10 + (line[i++] - '0');
    return int(n);
}

bool parseHex4(const std::string &text, std::uint16_t &value)
{
    if (text.size() < 4)
        return false;
    unsigned v = 0;
    for (int i = 0; i < 4; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isxdigit(c))
            return false;
        v = v * 16 + unsigned(std::isdigit(c) ? c - '0' : std::toupper(c) - 'A' + 10);
    }
    value = std::uint16_t(v);
    return true;
}

bool oneOf(const std::string &name, std::initializer_list<const char *> names)
{
    for (const char *n : names) {
        if (name == n)
            return true;
    }
    return false;
}

} // namespace

std::optional<std::vector<Entry>> loadModel(const std::string &path, std::string &error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<std::string> lines = splitLines(text);
    if (lines.empty()) {
        error = path + " is empty";
        return std::nullopt;
    }
    const int count = leadingCount(lines[0]);
    std::vector<Entry> entries;
    for (int i = 1; i <= count && i < int(lines.size()); ++i) {
        const std::string &line = lines[i];
        Entry e;
        if (!parseHex4(line, e.address)) {
            error = path + " line " + std::to_string(i + 1) + ": no hexadecimal address";
            return std::nullopt;
        }
        e.sign = line.size() > 4 ? line[4] : '-';
        const int length = line.size() > 5 && std::isdigit(static_cast<unsigned char>(line[5]))
                               ? line[5] - '0' : 2;
        e.length = length < 2 ? 2 : length / 2 * 2;
        if (line.size() > 7)
            e.name = line.substr(7, 6);
        while (!e.name.empty() && e.name.back() == ' ')
            e.name.pop_back();
        entries.push_back(e);
    }
    return entries;
}

Meter::Meter(std::vector<Entry> entries, int slave, int baud)
    : m_entries(std::move(entries)), m_slave(slave), m_baud(baud)
{
    // The first entry that covers a register owns it.
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const Entry &e = m_entries[i];
        for (int k = 0; k < e.length / 2; ++k) {
            const unsigned address = unsigned(e.address) + unsigned(k);
            if (address <= 0xFFFF)
                m_cells.emplace(std::uint16_t(address), Cell{i, k});
        }
    }
}

// Live values in the units the model files use; the wobble follows the
// number of reads, so a test sees each read's value move but stay in range.
std::int64_t Meter::value(const Entry &entry) const
{
    const std::string &n = entry.name;
    const std::int64_t phase = std::int64_t(entry.address);
    const auto wobble = [&](std::int64_t amplitude) {
        return (m_tick * 7 + phase * 5) % (2 * amplitude + 1) - amplitude;
    };
    if (oneOf(n, {"VOLT", "V-A", "V-B", "V-C"}))
        return 2300 + wobble(5);            // 0.1 V
    if (oneOf(n, {"AMP", "I-A", "I-B", "I-C"}))
        return 5000 + wobble(20);           // 0.001 A
    if (n == "HZ")
        return 5000 + wobble(2);            // 0.01 Hz
    if (n == "KW")
        return -1500 + wobble(10);          // exporting: negative
    if (n == "KVAR")
        return 600 + wobble(10);
    if (n == "PF")
        return -850 + wobble(3);            // x1000, leading
    if (n == "KWH")
        return 100000 + m_tick;             // rises with every read
    if (n == "KVARH")
        return 50000 + m_tick;
    if (n == "CNT")
        return (std::int64_t(1) << 32) + 1000 + m_tick; // uses the upper bytes
    if (n == "ADDR")
        return m_slave;
    if (n == "BAUD")
        return m_baud;
    if (n == "VER")
        return 0x0103;
    return 0;
}

std::optional<std::uint16_t> Meter::word(std::uint16_t address) const
{
    if (const auto w = m_written.find(address); w != m_written.end())
        return w->second;
    const auto c = m_cells.find(address);
    if (c == m_cells.end())
        return std::nullopt;
    const Entry &e = m_entries[c->second.entry];
    // Big-endian two's complement over the entry's length, high register
    // first. A "+" entry of four bytes goes out with all four bytes reversed,
    // so that the tool, which reverses them again for "+", gets the value.
    const std::uint64_t v = std::uint64_t(value(e));
    std::vector<std::uint8_t> bytes(std::size_t(e.length));
    for (int i = 0; i < e.length; ++i)
        bytes[std::size_t(i)] = std::uint8_t(v >> (8 * (e.length - 1 - i)));
    if (e.sign == '+' && e.length == 4)
        std::swap(bytes[0], bytes[3]), std::swap(bytes[1], bytes[2]);
    const int k = c->second.index;
    return std::uint16_t(bytes[std::size_t(2 * k)] << 8 | bytes[std::size_t(2 * k + 1)]);
}

std::vector<std::uint8_t> Meter::answer(const std::uint8_t *pdu, std::size_t size)
{
    if (size < 1)
        return {};
    const std::uint8_t function = pdu[0];
    const auto exception = [function](std::uint8_t code) {
        return std::vector<std::uint8_t>{std::uint8_t(function | 0x80), code};
    };
    if ((function != 0x03 && function != 0x06) || size < 5)
        return exception(0x01);
    const unsigned address = unsigned(pdu[1]) << 8 | pdu[2];
    const unsigned operand = unsigned(pdu[3]) << 8 | pdu[4];

    if (function == 0x06) {
        if (!word(std::uint16_t(address)))
            return exception(0x02);
        m_written[std::uint16_t(address)] = std::uint16_t(operand);
        return std::vector<std::uint8_t>(pdu, pdu + 5);
    }

    if (operand < 1 || operand > 125)
        return exception(0x03);
    std::vector<std::uint8_t> out{0x03, std::uint8_t(2 * operand)};
    for (unsigned i = 0; i < operand; ++i) {
        const std::optional<std::uint16_t> w =
            address + i <= 0xFFFF ? word(std::uint16_t(address + i)) : std::nullopt;
        if (!w)
            return exception(0x02);
        out.push_back(std::uint8_t(*w >> 8));
        out.push_back(std::uint8_t(*w));
    }
    ++m_tick;
    return out;
}

} // namespace metersim
