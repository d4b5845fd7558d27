// The ASCII command lines: the input cut in chunks whose sizes come from its
// last bytes. Cutting changes nothing; no line holds an ending or passes the
// limit; every line parses, a setting keeping its value as given; a text
// value, as song text, fits its field in the table's codes.
#include "AsciiCommand.h"
#include "AsciiLines.h"
#include "FuzzUsb.h"
#include "SongText.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <tuple>

using namespace ascii;

namespace {

bool lowerName(const std::string &name)
{
    return !name.empty() && std::ranges::none_of(name, [](char c) { return c >= 'A' && c <= 'Z'; });
}

void checkSong(const std::string &bytes)
{
    using fields::Charset, fields::SongField;
    const std::u32string text = fields::decodeUtf8OrCp1252(bytes);
    for (const auto &[as, charset, most] : {std::tuple{SongField::Ps, Charset::Rds, 8},
                                            {SongField::RadioText, Charset::Cp1252, 64},
                                            {SongField::ScrollingPs, Charset::Rds, 128}}) {
        const fields::SongText song = fields::songText(text, as, charset);
        fuzzusb::check(song.boardText.size() <= size_t(most));
        fields::fromBoardText(song.boardText, charset, "song"); // no byte without a character
    }
}

void checkLine(const Line &line)
{
    fuzzusb::check(line.text.size() <= maxLine &&
                   line.text.find_first_of("\r\n") == std::string::npos);
    fuzzusb::check(!line.tooLong || line.text.empty());
    const Command command = parseLine(line.text);
    fuzzusb::check(std::holds_alternative<Empty>(command) == line.text.empty());
    if (const auto *set = std::get_if<Set>(&command)) {
        fuzzusb::check(lowerName(set->name) &&
                       line.text.substr(line.text.find('=') + 1) == set->value);
        checkSong(set->value);
    }
    if (const auto *query = std::get_if<Query>(&command))
        fuzzusb::check(lowerName(query->name) && line.text.ends_with('?'));
}

std::vector<Line> split(LineSplitter &splitter, std::string_view bytes,
                        std::vector<Line> lines = {})
{
    for (Line &line : splitter.feed(bytes))
        lines.push_back(std::move(line));
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    LineSplitter chunked;
    std::vector<Line> lines;
    std::string stream;
    while (provider.remaining_bytes() > 0) {
        const size_t length = provider.ConsumeIntegralInRange(1, 2000);
        const std::string chunk = provider.ConsumeBytesAsString(length);
        stream += chunk;
        lines = split(chunked, chunk, std::move(lines));
    }
    LineSplitter whole;
    fuzzusb::check(split(whole, stream) == lines);
    const std::optional<Line> rest = chunked.finish();
    fuzzusb::check(whole.finish() == rest);
    if (rest)
        lines.push_back(*rest);
    for (const Line &line : lines)
        checkLine(line);
    return 0;
}
