#include "TextFormat.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

std::size_t CopyWord(const char* word, char* out)
{
    const std::size_t length = std::strlen(word);
    std::memcpy(out, word, length);
    return length;
}

// value * 1000 rounded to the nearest integer, halves away from zero, for
// 0 <= value < 2^53. value = mantissa * 2^exponent exactly, with exponent <= 0.
std::uint64_t RoundedThousandths(double value)
{
    int binaryExponent = 0;
    const double fraction = std::frexp(value, &binaryExponent);
    const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    const int shift = 53 - binaryExponent;
    const unsigned __int128 scaled = static_cast<unsigned __int128>(mantissa) * 1000u;
    if (shift <= 0) {
        return static_cast<std::uint64_t>(scaled << -shift);
    }
    if (shift >= 64) {  // scaled < 2^63 <= half of 2^shift: rounds to 0
        return 0;
    }
    const unsigned __int128 whole = scaled >> shift;
    const unsigned __int128 remainder = scaled - (whole << shift);
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
    return static_cast<std::uint64_t>(whole + (remainder >= half ? 1 : 0));
}

std::size_t FormatThousandths(std::uint64_t thousandths, char* out)
{
    const auto integral = std::to_chars(out, out + 24, thousandths / 1000u).ptr;
    const auto fraction = static_cast<unsigned>(thousandths % 1000u);
    integral[0] = '.';
    integral[1] = static_cast<char>('0' + fraction / 100u);
    integral[2] = static_cast<char>('0' + fraction / 10u % 10u);
    integral[3] = static_cast<char>('0' + fraction % 10u);
    return static_cast<std::size_t>(integral + 4 - out);
}

}  // namespace

std::size_t FormatFixed3(double value, char* out)
{
    std::size_t length = 0;
    if (std::signbit(value)) {
        out[length++] = '-';
        value = -value;
    }
    if (std::isnan(value)) {
        return length + CopyWord("nan", out + length);
    }
    if (std::isinf(value)) {
        return length + CopyWord("inf", out + length);
    }
    if (value >= 0x1p53) {  // a whole number: its exact digits, then ".000"
        char* end =
            std::to_chars(out + length, out + kFixed3MaxLength, value, std::chars_format::fixed, 0)
                .ptr;
        return static_cast<std::size_t>(end - out) + CopyWord(".000", end);
    }
    return length + FormatThousandths(RoundedThousandths(value), out + length);
}

std::size_t FormatText(char* out, std::size_t size, const char* format,
                       std::initializer_list<FormatArg> args)
{
    if (size == 0) {
        return 0;
    }
    const FormatArg* arg = args.begin();
    std::size_t length = 0;
    auto append = [&](const char* text, std::size_t count) {
        const std::size_t room = size - 1 - length;
        const std::size_t taken = count < room ? count : room;
        std::memcpy(out + length, text, taken);
        length += taken;
    };
    for (const char* p = format; *p != '\0'; ++p) {
        char scratch[kFixed3MaxLength];
        if (std::strncmp(p, "%.3f", 4) == 0 && arg != args.end()) {
            append(scratch, FormatFixed3((arg++)->real, scratch));
            p += 3;
        } else if (std::strncmp(p, "%d", 2) == 0 && arg != args.end()) {
            append(scratch,
                   static_cast<std::size_t>(
                       std::to_chars(scratch, scratch + 16, (arg++)->whole).ptr - scratch));
            p += 1;
        } else if (std::strncmp(p, "%%", 2) == 0) {
            append("%", 1);
            p += 1;
        } else {
            append(p, 1);
        }
    }
    out[length] = '\0';
    return length;
}
