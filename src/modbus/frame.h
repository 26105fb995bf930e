#pragma once
// The eight-byte Modbus RTU request and its CRC-16.
#include <QByteArray>
#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>

namespace movra {

using QueryFrame = std::array<std::uint8_t, 8>;

// Modbus CRC-16: reflected polynomial A001H, initial FFFFH, no final XOR.
std::uint16_t crc16(const std::uint8_t *data, std::size_t size);
std::uint16_t crc16(const QByteArray &bytes);

// Bytes 6 and 7 of the frame = CRC of bytes 0..5, low byte first.
void CRC(QueryFrame &frame);

QByteArray frameBytes(const QueryFrame &frame);

// Two upper-case hexadecimal digits.
QString hexByte(std::uint8_t b);

// The query log line: "01,03,00,00,00,01,84,0A".
QString queryLine(const QueryFrame &frame);

} // namespace movra
