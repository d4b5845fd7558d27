#include "SongText.h"

#include "Transliteration.h"
#include "rds_usb.h"

namespace fields {

namespace {

// A RadioText cut at a blank keeps at least this many characters.
constexpr size_t ShortestCutRadioText = 48;

size_t lengthOf(SongField field)
{
    switch (field) {
    case SongField::Ps: return RDS_USB_PS_LENGTH;
    case SongField::RadioText: return RDS_USB_RT_LENGTH;
    case SongField::ScrollingPs: return MaxScrollingPs;
    }
    return 0;
}

} // namespace

SongText songText(std::u32string_view text, SongField field, Charset charset)
{
    Transliterated fitted = transliterate(text, charset);
    std::u32string &chars = fitted.text;
    const size_t length = lengthOf(field);
    const bool cut = chars.size() > length;
    if (cut) {
        size_t keep = length;
        if (field == SongField::RadioText)
            for (size_t at = length; at >= ShortestCutRadioText; --at)
                if (chars[at] == U' ') {
                    keep = at;
                    break;
                }
        chars.resize(keep);
        if (field == SongField::RadioText)
            while (!chars.empty() && chars.back() == U' ')
                chars.pop_back();
    }
    return {toBoardText(chars, charset, "song text"), cut, fitted.changes()};
}

} // namespace fields
