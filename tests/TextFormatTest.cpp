#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <utility>

#include "NumberParse.h"
#include "TextFormat.h"

namespace {

std::string Fixed3(double value)
{
    char text[kFixed3MaxLength];
    return {text, FormatFixed3(value, text)};
}

std::string Format(const char* format, std::initializer_list<FormatArg> args,
                   std::size_t size = 256)
{
    char text[256];
    FormatText(text, size, format, args);
    return text;
}

// An exact tie: value * 1000 ends in exactly .5. The product is exact in
// the 64-bit mantissa of long double for every double below 2^53.
bool IsTie(double value)
{
    const long double scaled = static_cast<long double>(value) * 1000.0L;
    return scaled - std::floor(scaled) == 0.5L;
}

TEST(FormatFixed3, exactTies_roundAwayFromZero)
{
    EXPECT_EQ(Fixed3(2.0625), "2.063");
    EXPECT_EQ(Fixed3(-2.0625), "-2.063");
    EXPECT_EQ(Fixed3(0.0625), "0.063");
    EXPECT_EQ(Fixed3(0.0005 + 0.0), "0.001");  // just above the tie in binary
    EXPECT_EQ(Fixed3(1.0005), "1.000");        // just below the tie in binary
    EXPECT_EQ(Fixed3(0.9375), "0.938");
    EXPECT_EQ(Fixed3(0.9996), "1.000");
    EXPECT_EQ(Fixed3(1023.9375), "1023.938");
    EXPECT_EQ(Fixed3(std::nextafter(2.0625, 0.0)), "2.062");
    EXPECT_EQ(Fixed3(std::nextafter(2.0625, 3.0)), "2.063");
}

TEST(FormatFixed3, specialAndExtremeValues)
{
    EXPECT_EQ(Fixed3(0.0), "0.000");
    EXPECT_EQ(Fixed3(-0.0), "-0.000");
    EXPECT_EQ(Fixed3(-0.0001), "-0.000");
    EXPECT_EQ(Fixed3(5e-324), "0.000");
    EXPECT_EQ(Fixed3(500.0), "500.000");
    EXPECT_EQ(Fixed3(16000.0), "16000.000");
    EXPECT_EQ(Fixed3(10.0006396), "10.001");
    EXPECT_EQ(Fixed3(0x1p53), "9007199254740992.000");
    EXPECT_EQ(Fixed3(1e22), "10000000000000000000000.000");
    EXPECT_EQ(Fixed3(-1.7976931348623157e308).size(), 1u + 309u + 4u);
    EXPECT_EQ(Fixed3(INFINITY), "inf");
    EXPECT_EQ(Fixed3(-INFINITY), "-inf");
    EXPECT_EQ(Fixed3(NAN), "nan");
}

TEST(FormatFixed3, agreesWithTheCLibraryWhereverThereIsNoTie)
{
    std::mt19937_64 random(20261208);
    std::uniform_real_distribution<double> magnitude(-12.0, 20.0);
    char expected[512];
    int compared = 0;
    for (int i = 0; i < 200000; ++i) {
        double value = std::pow(10.0, magnitude(random));
        if (i % 7 == 0) {  // values on a fine binary grid make ties likely
            value = std::round(value * 4096.0) / 4096.0;
        }
        if (i % 2 == 0) {
            value = -value;
        }
        if (IsTie(value)) {
            continue;
        }
        std::snprintf(expected, sizeof expected, "%.3f", value);
        ASSERT_EQ(Fixed3(value), expected) << std::hexfloat << value;
        ++compared;
    }
    EXPECT_GT(compared, 190000);
}

TEST(FormatText, conversionsAndTruncation)
{
    EXPECT_EQ(Format("Frequency is too high; try less than %d", {16000}),
              "Frequency is too high; try less than 16000");
    EXPECT_EQ(Format("%.3f-%.3f Hz %d%%", {1.5, 2.0625, -3}), "1.500-2.063 Hz -3%");
    EXPECT_EQ(Format("no arguments %.3f", {}), "no arguments %.3f");
    EXPECT_EQ(Format("%.3f", {123456.0}, 5), "1234");
    EXPECT_EQ(Format("abcdef", {}, 1), "");
}

// Only the decimal grammar counts: what the C library would read beyond it
// (infinities, NaN, hexadecimal) is no number at all, or ends at its prefix.
TEST(ParseDecimal, readsTheLongestDecimalPrefixOnly)
{
    const double kTiny = 1e-320;
    const std::pair<const char*, double> cases[] = {
        {"500.000", 500.0}, {"  \t12.5xyz", 12.5}, {" 440", 440.0},    {"440Hz", 440.0},
        {"1,5", 1.0},       {"+.5e1", 5.0},        {"5e", 5.0},        {"5e+", 5.0},
        {"-5", -5.0},       {"1e5", 100000.0},     {".", 0.0},         {"", 0.0},
        {"abc", 0.0},       {"inf", 0.0},          {"-inf", 0.0},      {"INFINITY", 0.0},
        {"infinity", 0.0},  {"nan", 0.0},          {"-NAN(123)", 0.0}, {"0x10", 0.0},
        {"0x1p4", 0.0},     {"1e-320", kTiny},     {"-.e5", 0.0},      {"2.e1", 20.0},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(ParseDecimal(text), expected) << '"' << text << '"';
    }
    EXPECT_TRUE(std::isinf(ParseDecimal("1e400")));
    EXPECT_GT(ParseDecimal("1e400"), 0.0);
}

TEST(ParseDecimal, ignoresTheProcessLocale)
{
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "no German locale on this machine";
    }
    char text[kFixed3MaxLength];
    const std::string formatted(text, FormatFixed3(12.5, text));
    const double parsed = ParseDecimal("12.5");
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(parsed, 12.5);
    EXPECT_EQ(formatted, "12.500");
}

}  // namespace
