#pragma once
// Taking typed values off the front of a fuzzer's input, and stopping loudly
// when an invariant does not hold.
#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The harness's own reference computations give the fuzzer no coverage
// feedback: its guidance should come from the code under test, and the
// comparison hooks would make long inputs slow.
#if defined(__clang__)
#define FUZZ_REFERENCE __attribute__((no_sanitize("coverage")))
#else
#define FUZZ_REFERENCE
#endif

namespace movra::fuzz {

class Input {
public:
    Input(const std::uint8_t *data, std::size_t size) : p_(data), left_(size) {}

    std::size_t left() const { return left_; }

    // Missing bytes read as zero.
    std::uint8_t byte()
    {
        if (left_ == 0)
            return 0;
        --left_;
        return *p_++;
    }

    template<typename T>
    T value()
    {
        T v{};
        const std::size_t n = std::min(sizeof(T), left_);
        std::memcpy(&v, p_, n);
        p_ += n;
        left_ -= n;
        return v;
    }

    QByteArray bytes(std::size_t n)
    {
        n = std::min(n, left_);
        QByteArray b(reinterpret_cast<const char *>(p_), qsizetype(n));
        p_ += n;
        left_ -= n;
        return b;
    }

    QByteArray rest() { return bytes(left_); }

private:
    const std::uint8_t *p_;
    std::size_t left_;
};

// Bytes as text: UTF-8 (bad bytes become U+FFFD) or one character a byte.
inline QString toText(const QByteArray &bytes, bool utf8)
{
    return utf8 ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
}

// 0-15 for a hexadecimal digit of either case, -1 for anything else.
FUZZ_REFERENCE inline int hexValue(QChar c)
{
    static const char digits[] = "0123456789ABCDEF0123456789abcdef";
    const char *hit = c.unicode() != 0 && c.unicode() < 0x80 ? std::strchr(digits, char(c.unicode())) : nullptr;
    return hit ? int(hit - digits) % 16 : -1;
}

[[noreturn]] inline void fail(const char *file, int line, const char *what, const QString &detail)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n  %s\n", file, line, what,
                 detail.toUtf8().constData());
    std::abort();
}

} // namespace movra::fuzz

// An invariant of the code under test; the optional second argument is a
// QString that says what was seen.
#define FUZZ_CHECK(cond, ...) \
    do { \
        if (!(cond)) \
            ::movra::fuzz::fail(__FILE__, __LINE__, #cond, QString(__VA_ARGS__)); \
    } while (0)
