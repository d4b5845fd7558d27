#include "RdsUsbNumber.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <string>

static bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int RdsUsbHexDigit(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Skips white space and a sign; tells whether the sign was a minus.
static const char *skipSpaceAndSign(const char *p, bool *negative)
{
    while (isSpace(*p))
        p++;
    *negative = *p == '-';
    if (*p == '+' || *p == '-')
        p++;
    return p;
}

bool RdsUsbParseDecimal(const char *text, int *number)
{
    bool negative;
    const char *p = skipSpaceAndSign(text, &negative);
    if (!isDigit(*p))
        return false;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long magnitude = 0;
    for (; isDigit(*p); p++)
        if (magnitude < limit)
            magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > limit)
        magnitude = limit;
    *number = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}

bool RdsUsbParseHex(const char *text, unsigned *number)
{
    bool negative;
    const char *p = skipSpaceAndSign(text, &negative);
    bool digits = false;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        digits = true; // "0x" alone is the number 0
        p += 2;
    }
    if (!digits && RdsUsbHexDigit(*p) < 0)
        return false;
    unsigned long long magnitude = 0;
    for (; RdsUsbHexDigit(*p) >= 0; p++)
        if (magnitude <= UINT_MAX)
            magnitude = magnitude * 16 + static_cast<unsigned>(RdsUsbHexDigit(*p));
    if (magnitude > UINT_MAX)
        *number = UINT_MAX;
    else
        *number =
            negative ? 0u - static_cast<unsigned>(magnitude) : static_cast<unsigned>(magnitude);
    return true;
}

bool RdsUsbParseFloat(const char *text, float *number)
{
    bool negative;
    const char *start = skipSpaceAndSign(text, &negative);
    const char *p = start;
    bool digits = false;
    while (isDigit(*p)) {
        p++;
        digits = true;
    }
    if (*p == '.') {
        p++;
        while (isDigit(*p)) {
            p++;
            digits = true;
        }
    }
    if (!digits)
        return false;
    if (*p == 'e' || *p == 'E') {
        const char *e = p + 1;
        if (*e == '+' || *e == '-')
            e++;
        if (isDigit(*e)) {
            while (isDigit(*e))
                e++;
            p = e;
        }
    }
    float value = 0;
    if (std::from_chars(start, p, value).ec == std::errc::result_out_of_range) {
        // Beyond the float range: an infinity, or zero for a value too small.
        double wide = 0;
        if (std::from_chars(start, p, wide).ec == std::errc::result_out_of_range)
            wide = std::string(start, p).find_first_of('-') != std::string::npos ? 0.0 : HUGE_VAL;
        value = std::fabs(wide) > 1.0 ? HUGE_VALF : 0.0f;
    }
    *number = negative ? -value : value;
    return true;
}

bool RdsUsbParseTenths(const char *text, double *tenths)
{
    float megahertz;
    if (!RdsUsbParseFloat(text, &megahertz))
        return false;
    megahertz = megahertz * 10; // in single precision
    *tenths = std::floor(static_cast<double>(megahertz) + 0.5);
    return true;
}

void RdsUsbFormatPi(unsigned code, char *text)
{
    snprintf(text, RDS_USB_PI_TEXT_SIZE, "0x%04X", code);
}
