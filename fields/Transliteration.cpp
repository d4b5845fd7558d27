#include "Transliteration.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace fields {

namespace {

struct Row {
    char32_t from;
    const char32_t *to; // characters every table has
};

// What music metadata holds and receivers' tables often lack. A row applies
// only where the table lacks its character: the RDS table keeps its own
// "―", the Windows one its "’" and "…".
// clang-format off
constexpr Row Rows[] = {
    // Quotes, apostrophes and primes
    {U'‘', U"'"}, {U'’', U"'"}, {U'‚', U"'"}, {U'‛', U"'"}, {U'′', U"'"}, {U'ʼ', U"'"},
    {U'ʻ', U"'"}, {U'´', U"'"}, {U'`', U"'"}, {U'‹', U"'"}, {U'›', U"'"},
    {U'“', U"\""}, {U'”', U"\""}, {U'„', U"\""}, {U'‟', U"\""}, {U'″', U"\""}, {U'«', U"\""},
    {U'»', U"\""},
    // Dashes, and what separates artist from title
    {U'‐', U"-"}, {U'‑', U"-"}, {U'‒', U"-"}, {U'–', U"-"}, {U'—', U"-"}, {U'―', U"-"},
    {U'−', U"-"}, {U'~', U"-"}, {U'•', U"-"}, {U'·', U"-"},
    {U'…', U"..."}, {U'×', U"x"},
    // Blanks
    {U'\t', U" "}, {U'\u00A0', U" "},
    // Letters whose mark is part of the letter, with no decomposition
    {U'Ł', U"L"}, {U'ł', U"l"}, {U'Đ', U"D"}, {U'đ', U"d"}, {U'Ħ', U"H"}, {U'ħ', U"h"},
    {U'Ŧ', U"T"}, {U'ŧ', U"t"}, {U'Ŀ', U"L"}, {U'ŀ', U"l"}, {U'ı', U"i"}, {U'ĸ', U"k"},
    {U'Ŋ', U"N"}, {U'ŋ', U"n"}, {U'Ø', U"O"}, {U'ø', U"o"}, {U'Ð', U"D"}, {U'ð', U"d"},
    {U'Þ', U"Th"}, {U'þ', U"th"}, {U'Æ', U"AE"}, {U'æ', U"ae"}, {U'Œ', U"OE"}, {U'œ', U"oe"},
    {U'ß', U"ss"}, {U'ƒ', U"f"},
};
// clang-format on

// `text` composed (NFC).
std::u32string composed(std::u32string_view text)
{
    const std::string utf8 = encodeUtf8(text);
    utf8proc_uint8_t *out = nullptr;
    const utf8proc_ssize_t size =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t *>(utf8.data()),
                     static_cast<utf8proc_ssize_t>(utf8.size()), &out,
                     static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(out, &std::free);
    if (size < 0)
        return std::u32string(text);
    return decodeUtf8(std::string_view(reinterpret_cast<const char *>(out), size), "composed");
}

// The compatibility form of `c` (NFKC: "ﬁ" as "fi"), or with `baseOnly` its
// letters without their marks ("ș" as "s").
std::u32string formOf(char32_t c, bool baseOnly)
{
    constexpr utf8proc_ssize_t room = 32;
    utf8proc_int32_t buffer[room];
    int boundary = 0;
    const int options = UTF8PROC_DECOMPOSE | UTF8PROC_COMPAT | (baseOnly ? UTF8PROC_STRIPMARK : 0);
    utf8proc_ssize_t size =
        utf8proc_decompose_char(static_cast<utf8proc_int32_t>(c), buffer, room,
                                static_cast<utf8proc_option_t>(options), &boundary);
    if (size < 0 || size > room)
        return {};
    if (!baseOnly)
        size = utf8proc_normalize_utf32(buffer, size,
                                        static_cast<utf8proc_option_t>(UTF8PROC_COMPOSE));
    return size < 0 ? std::u32string() : std::u32string(buffer, buffer + size);
}

// The characters in the table that stand for `c`, or none. `c`'s
// compatibility form and its base letter are tried only at the first level.
std::u32string plainForm(char32_t c, Charset charset, bool decompose = true)
{
    if (inTable(c, charset))
        return std::u32string(1, c);
    for (const Row &row : Rows)
        if (row.from == c)
            return row.to;
    if (!decompose)
        return {};
    const std::u32string alone(1, c);
    for (const bool baseOnly : {false, true}) {
        const std::u32string parts = formOf(c, baseOnly);
        if (parts.empty() || parts == alone)
            continue;
        std::u32string plain;
        bool whole = true;
        for (const char32_t part : parts) {
            const std::u32string p = plainForm(part, charset, false);
            whole = whole && !p.empty();
            plain += p;
        }
        if (whole)
            return plain;
    }
    return {};
}

std::string listed(const std::vector<std::string> &items)
{
    constexpr size_t most = 8;
    std::string text;
    for (size_t i = 0; i < items.size() && i < most; ++i)
        text += (i ? ", " : "") + items[i];
    if (items.size() > most)
        text += " and " + std::to_string(items.size() - most) + " more";
    return text;
}

} // namespace

std::string Transliterated::changes() const
{
    std::vector<std::string> asWhat, gone;
    for (const auto &[from, to] : replaced) {
        std::string item(1, '"');
        item.append(encodeUtf8(std::u32string(1, from))).append("\" as \"");
        asWhat.push_back(item.append(encodeUtf8(to)).append(1, '"'));
    }
    for (const char32_t c : dropped)
        gone.push_back(describe(c));
    std::string text = asWhat.empty() ? "" : "written " + listed(asWhat);
    if (!gone.empty())
        text += (text.empty() ? "dropped " : "; dropped ") + listed(gone);
    return text;
}

Transliterated transliterate(std::u32string_view text, Charset charset)
{
    Transliterated out;
    bool afterDrop = false; // blanks next to a dropped character collapse
    for (const char32_t c : composed(text)) {
        const std::u32string plain = plainForm(c, charset);
        if (plain.empty()) {
            if (out.dropped.find(c) == std::u32string::npos)
                out.dropped.push_back(c);
            afterDrop = true;
            continue;
        }
        if (plain != std::u32string(1, c) &&
            std::none_of(out.replaced.begin(), out.replaced.end(),
                         [c](const auto &r) { return r.first == c; }))
            out.replaced.emplace_back(c, plain);
        for (const char32_t p : plain) {
            if (p == U' ' && afterDrop && (out.text.empty() || out.text.back() == U' '))
                continue;
            out.text.push_back(p);
            afterDrop = afterDrop && p == U' ';
        }
    }
    if (afterDrop)
        while (!out.text.empty() && out.text.back() == U' ')
            out.text.pop_back();
    return out;
}

} // namespace fields
