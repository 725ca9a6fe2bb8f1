#include "NumberParse.h"

#include <locale.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// C's isspace in the "C" locale.
bool IsSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

const char* SkipDigits(const char* at)
{
    while (IsDigit(*at)) {
        ++at;
    }
    return at;
}

// The end of the decimal number that starts at `at`, or `at` itself.
const char* DecimalEnd(const char* at)
{
    const char* p = at + (*at == '+' || *at == '-' ? 1 : 0);
    const char* wholeEnd = SkipDigits(p);
    bool anyDigit = wholeEnd != p;
    p = wholeEnd;
    if (*p == '.') {
        const char* fractionEnd = SkipDigits(p + 1);
        anyDigit = anyDigit || fractionEnd != p + 1;
        p = fractionEnd;
    }
    if (!anyDigit) {
        return at;
    }
    if (*p == 'e' || *p == 'E') {
        const char* exponent = p + 1 + (p[1] == '+' || p[1] == '-' ? 1 : 0);
        if (IsDigit(*exponent)) {
            p = SkipDigits(exponent);
        }
    }
    return p;
}

}  // namespace

double ParseDecimal(const char* text)
{
    double value = 0.0;
    std::size_t used = 0;
    ParseDecimalPrefix(text, value, used);
    return value;
}

bool ParseDecimalPrefix(const char* text, double& value, std::size_t& used)
{
    const char* start = text;
    while (IsSpace(*text)) {
        ++text;
    }
    const char* end = DecimalEnd(text);
    value = 0.0;
    used = 0;
    if (end == text) {
        return false;
    }
    // Converted on its own, so the C library sees nothing beyond the grammar.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const std::string number(text, end);
    value = strtod_l(number.c_str(), nullptr, cLocale);
    used = static_cast<std::size_t>(end - start);
    return true;
}
