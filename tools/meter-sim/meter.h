#pragma once
// A panel meter's holding registers, as listed in a model definition file,
// with values that move like a live meter's.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace metersim {

struct Entry {
    std::uint16_t address = 0;
    char sign = '-';     // '+': the four bytes of a 4-byte value go out in reverse
    int length = 2;      // bytes
    std::string name;
};

// Line 1: the number of entries; then one entry a line: address in
// characters 1-4 (hexadecimal), sign in 5, length in 6, name in 8-13.
// Lines end at CR, CR LF or LF. Empty (and error set) when the file cannot
// be read or an entry's address is not hexadecimal.
std::optional<std::vector<Entry>> loadModel(const std::string &path, std::string &error);

class Meter {
public:
    Meter(std::vector<Entry> entries, int slave, int baud);

    // The answer to one request: function code and data, without slave
    // address and CRC. A valid 03H read or 06H write is served; registers
    // that no entry covers give exception 02, other functions exception 01.
    std::vector<std::uint8_t> answer(const std::uint8_t *pdu, std::size_t size);

    // Register value right now; empty when no entry covers the address.
    std::optional<std::uint16_t> word(std::uint16_t address) const;

private:
    struct Cell {
        std::size_t entry;
        int index; // register within the entry, 0 = first
    };
    std::int64_t value(const Entry &entry) const;

    std::vector<Entry> m_entries;
    std::map<std::uint16_t, Cell> m_cells;
    std::map<std::uint16_t, std::uint16_t> m_written;
    int m_slave;
    int m_baud;
    std::int64_t m_tick = 0; // answered reads so far: the live values follow it
};

} // namespace metersim
