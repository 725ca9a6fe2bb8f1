#include "NumberParse.h"

#include <locale.h>
#include <clocale>
#include <cstdlib>

double ParseDoubleC(const char* text)
{
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return strtod_l(text, nullptr, cLocale);
}
