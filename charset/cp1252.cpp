#include "cp1252.h"

namespace {

// Bytes 0x80-0x9F of Windows-1252, where it differs from ISO 8859-1 (bytes
// 0x00-0x7F and 0xA0-0xFF equal their code points). The undefined bytes
// 0x81, 0x8D, 0x8F, 0x90 and 0x9D keep their own value.
constexpr char32_t HighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 0x98
};

} // namespace

char32_t Cp1252ToUnicode(unsigned char byte)
{
    if (byte >= 0x80 && byte <= 0x9F)
        return HighControls[byte - 0x80];
    return byte;
}

int UnicodeToCp1252(char32_t codePoint)
{
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF))
        return static_cast<int>(codePoint);
    for (int i = 0; i < 32; ++i) {
        if (HighControls[i] == codePoint)
            return 0x80 + i;
    }
    return -1;
}

std::u32string Cp1252ToUnicode(std::string_view bytes)
{
    std::u32string text;
    text.reserve(bytes.size());
    for (char c : bytes)
        text.push_back(Cp1252ToUnicode(static_cast<unsigned char>(c)));
    return text;
}

std::string UnicodeToCp1252(std::u32string_view text)
{
    std::string bytes;
    bytes.reserve(text.size());
    for (char32_t c : text) {
        int byte = UnicodeToCp1252(c);
        bytes.push_back(static_cast<char>(byte < 0 ? '?' : byte));
    }
    return bytes;
}
