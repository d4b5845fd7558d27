#include "NowPlaying.h"

#include "TextCodec.h"

namespace fields {

std::string nowPlayingText(std::string_view content)
{
    std::u32string line = decodeUtf8OrCp1252(content.substr(0, content.find('\n')));
    if (line.starts_with(U'\uFEFF'))
        line.erase(0, 1);
    const auto blank = [](char32_t c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!line.empty() && blank(line.back()))
        line.pop_back();
    size_t first = 0;
    while (first < line.size() && blank(line[first]))
        ++first;
    return encodeUtf8(std::u32string_view(line).substr(first));
}

} // namespace fields
