// The RadioText that a "now playing" file asks for.
#ifndef FIELDS_NOW_PLAYING_H
#define FIELDS_NOW_PLAYING_H

#include "FieldError.h"

#include <string>
#include <string_view>

namespace fields {

// The file's first line (UTF-8, a leading byte-order mark and a final carriage
// return dropped), trimmed of blanks and cut to 64 characters. Invalid UTF-8
// is refused (fields::Error) naming `name`.
std::string nowPlayingText(std::string_view content, const std::string &name);

} // namespace fields

#endif
