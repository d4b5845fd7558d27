// The RDS basic character table: the G0 code table of IEC 62106 / EN 50067
// (Annex E, figure E.1), in which receivers show PS names and RadioTexts.
// Conversion between its single bytes and Unicode code points.
#ifndef CHARSET_RDS_G0_H
#define CHARSET_RDS_G0_H

#include <optional>

// The code point of a byte, or nothing for a byte the table leaves without a
// character (the controls 0x00-0x1F, 0x7F and 0xFF).
std::optional<char32_t> RdsG0ToUnicode(unsigned char byte);

// The byte of a code point, or -1 when the table has none.
int UnicodeToRdsG0(char32_t codePoint);

#endif
