#include "TextCodec.h"

#include "FieldError.h"
#include "cp1252.h"
#include "rdsG0.h"

#include <cstdio>
#include <variant>

namespace fields {

namespace {

// The length of the UTF-8 sequence a byte starts; 0 for a byte that starts none.
int sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead < 0xE0)
        return 2;
    if (lead >= 0xE0 && lead < 0xF0)
        return 3;
    if (lead >= 0xF0 && lead < 0xF5)
        return 4;
    return 0;
}

bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

} // namespace

const char *tableName(Charset charset)
{
    return charset == Charset::Rds ? "the RDS character table" : "Windows-1252";
}

std::string describe(char32_t c)
{
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
    if (isControl(c))
        return code;
    std::string text(1, '"');
    text.append(encodeUtf8(std::u32string(1, c))).append("\" (").append(code).append(")");
    return text;
}

bool inTable(char32_t c, Charset charset)
{
    if (isControl(c))
        return false;
    return (charset == Charset::Rds ? UnicodeToRdsG0(c) : UnicodeToCp1252(c)) >= 0;
}

std::string_view trimmed(std::string_view text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::optional<Charset> charsetByName(std::string_view name)
{
    if (name == "cp1252")
        return Charset::Cp1252;
    if (name == "rds")
        return Charset::Rds;
    return std::nullopt;
}

const char *charsetName(Charset charset)
{
    return charset == Charset::Rds ? "rds" : "cp1252";
}

namespace {

// The code points of `text`, or the offset of its first byte that is not UTF-8.
std::variant<std::u32string, size_t> utf8CodePoints(std::string_view text)
{
    std::u32string out;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = sequenceLength(lead);
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        bool valid = length > 0 && i + length <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        // Overlong forms and surrogates are not UTF-8.
        static constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!valid || c < least[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
            return i;
        out.push_back(c);
        i += length;
    }
    return out;
}

} // namespace

std::u32string decodeUtf8(std::string_view text, const std::string &what)
{
    auto decoded = utf8CodePoints(text);
    if (const size_t *at = std::get_if<size_t>(&decoded))
        throw Error{{}, what + ": invalid UTF-8 at byte " + std::to_string(*at)};
    return std::get<std::u32string>(std::move(decoded));
}

std::u32string decodeUtf8OrCp1252(std::string_view bytes)
{
    auto decoded = utf8CodePoints(bytes);
    if (std::holds_alternative<size_t>(decoded))
        return Cp1252ToUnicode(bytes);
    return std::get<std::u32string>(std::move(decoded));
}

std::string encodeUtf8(std::u32string_view text)
{
    std::string out;
    for (char32_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string toBoardText(std::u32string_view text, Charset charset, const std::string &what)
{
    std::string bytes;
    for (char32_t c : text) {
        if (isControl(c))
            throw Error{{}, what + ": control character " + describe(c) + " is not allowed"};
        const int byte = charset == Charset::Rds ? UnicodeToRdsG0(c) : UnicodeToCp1252(c);
        if (byte < 0)
            throw Error{{}, what + ": " + describe(c) + " is not in " + tableName(charset)};
        bytes += static_cast<char>(byte);
    }
    return bytes;
}

std::string fromBoardText(std::string_view bytes, Charset charset, const std::string &what)
{
    std::u32string text;
    for (char b : bytes) {
        const auto byte = static_cast<unsigned char>(b);
        if (charset == Charset::Cp1252) {
            text.push_back(Cp1252ToUnicode(byte));
            continue;
        }
        const std::optional<char32_t> c = RdsG0ToUnicode(byte);
        if (!c) {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02X", byte);
            throw Error{{}, what + ": byte " + code + " has no character in " + tableName(charset)};
        }
        text.push_back(*c);
    }
    return encodeUtf8(text);
}

} // namespace fields
