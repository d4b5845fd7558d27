// 8-bit texts and integer arithmetic shared by the platform's parts.
#include "QtPlatform.h"

#include "cp1252.h"

#include <cstdlib>

namespace platform {

QString FromAnsi(const char *text)
{
    QString result;
    for (const char *c = text; c && *c; ++c) {
        char32_t codePoint = Cp1252ToUnicode(static_cast<unsigned char>(*c));
        result.append(QChar(static_cast<char16_t>(codePoint))); // the code page is all BMP
    }
    return result;
}

std::string ToAnsi(const QString &text)
{
    return UnicodeToCp1252(text.toStdU32String());
}

int MulDiv(int number, int numerator, int denominator)
{
    if (denominator == 0)
        return -1;
    long long product = static_cast<long long>(number) * numerator;
    long long divisor = denominator;
    if (divisor < 0) {
        divisor = -divisor;
        product = -product;
    }
    long long magnitude = (std::llabs(product) + divisor / 2) / divisor;
    return static_cast<int>(product < 0 ? -magnitude : magnitude);
}

} // namespace platform
