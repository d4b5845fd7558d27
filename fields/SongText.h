// Song text from playout software on its way to a PS name or a RadioText:
// whatever its length or characters, it goes on air, cut and transliterated.
#ifndef FIELDS_SONG_TEXT_H
#define FIELDS_SONG_TEXT_H

#include "TextCodec.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace fields {

// The longest scrolling PS text taken; a longer one is cut.
inline constexpr size_t MaxScrollingPs = 128;

enum class SongField { Ps, RadioText, ScrollingPs };

struct SongText {
    std::string boardText; // in the table's codes, as long as the field allows at most
    bool cut = false;      // it was longer, and was cut
    std::string changes;   // what transliteration changed, for the log; empty when nothing
};

// `text` transliterated into `charset`, then cut: a RadioText at the last
// blank among characters 49 to 65, so that it ends with a whole word, else
// after 64 characters; a PS name after 8, a scrolling one after 128.
SongText songText(std::u32string_view text, SongField field, Charset charset);

} // namespace fields

#endif
