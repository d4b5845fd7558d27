// The values of the 43 fields as the front ends take and show them: the
// checks a value passes before anything is sent, and the form in which a
// field read from the board is shown.
#ifndef FIELDS_FIELD_VALUES_H
#define FIELDS_FIELD_VALUES_H

#include "FieldImage.h"
#include "RdsUsbFields.h"
#include "TextCodec.h"

#include <string>
#include <string_view>

namespace fields {

enum class FieldKind { PsName, RadioText, Number, PiCode, Frequency };

FieldKind fieldKind(const T_R_FieldDef &field);
// The fields of the board's RAM (the others are kept in EEPROM).
bool isRamField(const T_R_FieldDef &field);
// The RAM field into which the board copies this EEPROM text field when it is
// written (the PS name and the RadioText), or null.
const T_R_FieldDef *ramCopyOf(const T_R_FieldDef &field);

struct CheckedValue {
    std::string boardText; // for the board layer's write, in the board's 8-bit codes
    std::string shown;     // the field as shown once the board holds the value
    std::string warning;   // empty, or a warning for the user
    Image image;           // the field's bytes as the board stores them
};

// A value given by the user (UTF-8), checked against the RDS standard: PTY
// 0-31, TP, TA and MS 0 or 1, DI 0-15, number of AFs 0-25, AF 87.6-107.9 MHz
// in 0.1 steps, PI four hex digits, PS up to 8 and RadioText up to 64
// characters; the 2A-group rate and the stereo setting 0-255. A value out of
// range is refused (fields::Error, overridable) naming the field and the
// range, unless `force`: then it goes as the dialog would send it. What cannot
// be sent at all is refused even so: no number, an AF outside the band, a
// character the table lacks that has no plain form (transliterate). A text
// written in plain forms ("’" as "'") says so in the warning.
CheckedValue checkValue(const T_R_FieldDef &field, std::string_view value, Charset charset,
                        bool force);

// An image (the board's bytes, as a state file keeps them) checked against
// the field's length and range through no character table, so that a byte a
// table lacks is kept: a text without control bytes (a RadioText's text
// followed by carriage returns only), a number in its field's range, an AF
// code in the band; a PI code is any. A refused image throws fields::Error.
void checkImage(const T_R_FieldDef &field, const Image &image);

// A value the checks refuse, in the form in which it can equal a shown one:
// a number without the blanks around it.
std::string givenValue(const T_R_FieldDef &field, std::string_view value);

// The board layer's display text of a field, as the front ends show it (UTF-8):
// texts decoded, a RadioText without its trailing blanks, an AF without its
// leading blank. A byte the table lacks is refused (fields::Error).
std::string shownValue(const T_R_FieldDef &field, const std::string &displayText, Charset charset);

// Tenths of a MHz as an AF is shown: 985 is "98.5".
std::string tenthsText(int tenths);

// A shown value in a line of output: texts in double quotes.
std::string quotedValue(const T_R_FieldDef &field, const std::string &shown);

} // namespace fields

#endif
