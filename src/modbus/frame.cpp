#include "frame.h"

namespace movra {

std::uint16_t crc16(const std::uint8_t *data, std::size_t size)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool low = crc & 1u;
            crc >>= 1;
            if (low)
                crc ^= 0xA001;
        }
    }
    return crc;
}

std::uint16_t crc16(const QByteArray &bytes)
{
    return crc16(reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size()));
}

void CRC(QueryFrame &frame)
{
    const std::uint16_t crc = crc16(frame.data(), 6);
    frame[6] = std::uint8_t(crc & 0xFF);
    frame[7] = std::uint8_t(crc >> 8);
}

QByteArray frameBytes(const QueryFrame &frame)
{
    return QByteArray(reinterpret_cast<const char *>(frame.data()), qsizetype(frame.size()));
}

QString hexByte(std::uint8_t b)
{
    return QString::number(b, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

double expectedLength(std::uint8_t function, double dataLength)
{
    constexpr double ReadHead = 3;  // slave, function, byte count
    constexpr double WriteEcho = 6; // slave, function, register, value
    return function == WriteSingleRegister ? WriteEcho : ReadHead + dataLength;
}

ByteOrder byteOrderOf(const QString &sign)
{
    if (sign == QLatin1String("-"))
        return ByteOrder::AsReceived;
    if (sign == QLatin1String("+"))
        return ByteOrder::Reversed;
    return ByteOrder::Unknown;
}

QString bytesLine(const QByteArray &bytes)
{
    QString line;
    line.reserve(bytes.size() * 3);
    for (char b : bytes)
        line += hexByte(std::uint8_t(b)) + QLatin1Char(' ');
    return line;
}

QString queryLine(const QueryFrame &frame)
{
    QString line;
    line.reserve(23);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        if (i > 0)
            line += QLatin1Char(',');
        line += hexByte(frame[i]);
    }
    return line;
}

} // namespace movra
