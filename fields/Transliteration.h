// Text into one of the board's character tables when the table lacks some of
// its characters: typographic punctuation becomes its plain form, a letter
// its base letter, and what has no form in the table goes.
#ifndef FIELDS_TRANSLITERATION_H
#define FIELDS_TRANSLITERATION_H

#include "TextCodec.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fields {

struct Transliterated {
    std::u32string text; // every character in the table
    // Each character replaced, once, with what it became; each dropped, once.
    std::vector<std::pair<char32_t, std::u32string>> replaced;
    std::u32string dropped;

    bool changed() const { return !replaced.empty() || !dropped.empty(); }
    // For people: written "’" as "'", "…" as "..."; dropped "🔥" (U+1F525)
    std::string changes() const;
};

// `text` in the table of `charset`. Combining marks join their letters first
// (NFC). A character the table has stays; one it lacks becomes its row of the
// transliteration table, else its compatibility form (ligatures, full-width
// and styled letters, ™), else its base letter without marks (ș as s), as far
// as the table has those. What is still left (emoji, pictographs, other
// scripts, controls but the tab) is dropped, and the blanks around it
// collapse into one, none at the start or end.
Transliterated transliterate(std::u32string_view text, Charset charset);

} // namespace fields

#endif
