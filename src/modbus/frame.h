#pragma once
// The eight-byte Modbus RTU request and its CRC-16.
#include <QByteArray>
#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>

namespace movra {

using QueryFrame = std::array<std::uint8_t, 8>;
inline constexpr int RequestBytes = int(std::tuple_size_v<QueryFrame>);
// The CRC-16 at the end of every frame, either way.
inline constexpr int CrcBytes = 2;

// The function codes the tool sends, and the bit a slave sets on an exception.
inline constexpr std::uint8_t ReadHoldingRegisters = 0x03;
inline constexpr std::uint8_t WriteSingleRegister = 0x06;
inline constexpr std::uint8_t ExceptionFlag = 0x80;

// Answer bytes in front of the CRC that a request calls for: slave, function,
// byte count and the data bytes of a read; the six bytes of a write's echo.
double expectedLength(std::uint8_t function, double dataLength);

// How the four data bytes of a 4-byte read are joined: "-" as received, "+"
// all four reversed; any other sign joins nothing.
enum class ByteOrder { AsReceived, Reversed, Unknown };
ByteOrder byteOrderOf(const QString &sign);

// What a read's data bytes make: the value of a 2, 4, 6 or 8-byte data
// length, a 4-byte one joined in `order`; no value for any other length.
struct ValueShape {
    int valueBytes = 0; // 2, 4, 6 or 8; 0: the data length gives no value
    int dataLength = 0; // the data length asked for, bytes
    ByteOrder order = ByteOrder::AsReceived;
    bool operator==(const ValueShape &) const = default;
};

// Modbus CRC-16: reflected polynomial A001H, initial FFFFH, no final XOR.
std::uint16_t crc16(const std::uint8_t *data, std::size_t size);
std::uint16_t crc16(const QByteArray &bytes);

// Bytes 6 and 7 of the frame = CRC of bytes 0..5, low byte first.
void CRC(QueryFrame &frame);

QByteArray frameBytes(const QueryFrame &frame);

// Two upper-case hexadecimal digits.
QString hexByte(std::uint8_t b);

// Every byte as "HH ", as an answer is rendered: "01 03 02 00 64 B9 AF ".
QString bytesLine(const QByteArray &bytes);

// The query log line: "01,03,00,00,00,01,84,0A".
QString queryLine(const QueryFrame &frame);

} // namespace movra
