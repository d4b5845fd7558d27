// A field's image: its bytes exactly as the board stores them. A PS name is 8
// bytes, a RadioText 64, the PI code 2 (high byte first), every other field
// one byte (an AF its code). Texts are written and compared block by block.
#ifndef FIELDS_FIELD_IMAGE_H
#define FIELDS_FIELD_IMAGE_H

#include "RdsUsbFields.h"
#include "TextCodec.h"

#include <string>
#include <string_view>

namespace fields {

using Image = std::string;

size_t imageSize(const T_R_FieldDef &field);
// Requests that read or write the whole field: 2 for a PS name, 16 for a
// RadioText, 1 for the others.
int blockCount(const T_R_FieldDef &field);
// Bytes of the image one request carries: 4 for a text, else the whole image.
// Block k starts at k * blockSize.
size_t blockSize(const T_R_FieldDef &field);

// Images of values in the board's terms; checkValue gives the image of a
// value as people write it. A text in the board's bytes: a PS name padded
// with blanks, a RadioText ended with carriage returns (0x0D) as the board
// layer pads it, either cut to its length.
Image textImage(const T_R_FieldDef &field, std::string_view bytes);
// A number field's byte: the low byte of the number, as the board keeps it.
Image numberImage(int number);
// The PI code, high byte first.
Image piImage(unsigned code);
// An AF from its frequency in tenths of a MHz: its code, tenths - 875.
Image afImage(int tenths);

// The value as shownValue shows it (UTF-8), from an image: texts decoded in
// `charset` (control bytes as blanks, a RadioText without its trailing
// blanks), numbers in decimal, the PI code as 0xC201, an AF in MHz ("98.5").
// A byte without a character in `charset` is refused (Error).
std::string shownOf(const T_R_FieldDef &field, const Image &image, Charset charset);

} // namespace fields

#endif
