// The text that a "now playing" file asks for.
#ifndef FIELDS_NOW_PLAYING_H
#define FIELDS_NOW_PLAYING_H

#include <string>
#include <string_view>

namespace fields {

// The file's first line in UTF-8 (read as Windows-1252 where it is not valid
// UTF-8; a leading byte-order mark and a final carriage return dropped),
// trimmed of blanks. Cutting it to a field is songText's.
std::string nowPlayingText(std::string_view content);

} // namespace fields

#endif
