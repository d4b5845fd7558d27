// Text between the user's UTF-8 and the 8-bit codes the board holds: the
// Windows-1252 code page (the bytes the dialog sends) or the RDS basic
// character table (what receivers show).
#ifndef FIELDS_TEXT_CODEC_H
#define FIELDS_TEXT_CODEC_H

#include "FieldError.h"

#include <optional>
#include <string>
#include <string_view>

namespace fields {

enum class Charset { Cp1252, Rds };

// The text without the blanks and tabs around it.
std::string_view trimmed(std::string_view text);

// "cp1252" or "rds".
std::optional<Charset> charsetByName(std::string_view name);
const char *charsetName(Charset charset);

// UTF-8 to code points and back. Invalid UTF-8 is refused (fields::Error),
// naming `what`.
std::u32string decodeUtf8(std::string_view text, const std::string &what);
std::string encodeUtf8(std::u32string_view text);
// Bytes from outside (playout software, a URL, a file): UTF-8, or, when they
// are not valid UTF-8, Windows-1252 (what older Windows systems send).
std::u32string decodeUtf8OrCp1252(std::string_view bytes);

// Whether the table has a character for `c`; never for a control character.
bool inTable(char32_t c, Charset charset);
// "the RDS character table" or "Windows-1252".
const char *tableName(Charset charset);
// A character in a message: "é" (U+00E9), a control as U+0007.
std::string describe(char32_t c);

// Code points to the board's codes. A control character, or one the table
// lacks, is refused naming `what` and the character.
std::string toBoardText(std::u32string_view text, Charset charset, const std::string &what);
// The board's codes to UTF-8. A byte without a character is refused.
std::string fromBoardText(std::string_view bytes, Charset charset, const std::string &what);

} // namespace fields

#endif
