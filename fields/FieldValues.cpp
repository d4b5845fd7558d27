#include "FieldValues.h"

#include "FieldError.h"
#include "RdsUsbNumber.h"
#include "Transliteration.h"
#include "rds_usb.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <stdexcept>

namespace fields {

namespace {

struct NumberRange {
    int writeCode;
    int min, max;
};

constexpr NumberRange Ranges[] = {
    {RDS_USB_WRITE_PTY_RAM, 0, 31},
    {RDS_USB_WRITE_PTY_E2P, 0, 31},
    {RDS_USB_WRITE_TP_RAM, 0, 1},
    {RDS_USB_WRITE_TP_E2P, 0, 1},
    {RDS_USB_WRITE_TA_RAM, 0, 1},
    {RDS_USB_WRITE_TA_E2P, 0, 1},
    {RDS_USB_WRITE_MS_RAM, 0, 1},
    {RDS_USB_WRITE_MS_E2P, 0, 1},
    {RDS_USB_WRITE_DI_RAM, 0, 15},
    {RDS_USB_WRITE_DI_E2P, 0, 15},
    {RDS_USB_WRITE_NAF_E2P, 0, RDS_USB_AF_COUNT},
    {RDS_USB_WRITE_2A_E2P, 0, 255},
    {RDS_USB_WRITE_ST_E2P, 0, 255},
};

const NumberRange &rangeOf(const T_R_FieldDef &field)
{
    for (const NumberRange &range : Ranges)
        if (range.writeCode == field.IdRdsFunction)
            return range;
    throw std::logic_error(std::string(field.Name) + " is not a number field");
}

// "ram.pty (RAM PTY)"
std::string nameOf(const T_R_FieldDef &field)
{
    return std::string(field.Name) + " (" + field.Label + ")";
}

[[noreturn]] void refuse(const T_R_FieldDef &field, const std::string &why)
{
    throw Error{field.Name, nameOf(field) + ": " + why};
}

// A value off the RDS ranges, which the board takes all the same.
[[noreturn]] void refuseRange(const T_R_FieldDef &field, const std::string &why)
{
    throw Error{field.Name, nameOf(field) + ": " + why, true};
}

// Runs `check`; a refusal of its text conversions names the field.
template <typename Check>
auto forField(const T_R_FieldDef &field, Check check)
{
    try {
        return check();
    } catch (Error &e) {
        e.field = field.Name;
        throw;
    }
}

bool allOf(std::string_view text, bool (*accept)(char))
{
    for (char c : text)
        if (!accept(c))
            return false;
    return !text.empty();
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHexDigit(char c)
{
    return RdsUsbHexDigit(c) >= 0;
}

// Typographic punctuation and letters the table lacks are written in their
// plain forms, with a warning; a character that has none is refused.
CheckedValue checkText(const T_R_FieldDef &field, std::string_view value, Charset charset,
                       bool force, size_t maxLength, const char *what)
{
    const std::u32string given = decodeUtf8(value, nameOf(field));
    for (const char32_t c : given)
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
            refuse(field, "control character " + describe(c) + " is not allowed");
    Transliterated plain = transliterate(given, charset);
    if (!plain.dropped.empty())
        refuse(field, describe(plain.dropped.front()) + " is not in " + tableName(charset));
    std::u32string &text = plain.text;
    if (text.size() > maxLength) {
        if (!force)
            refuseRange(field, std::string(what) + " of " + std::to_string(text.size()) +
                                   " characters, at most " + std::to_string(maxLength));
        text.resize(maxLength); // the dialog sends the first characters
    }
    const std::string boardText = toBoardText(text, charset, nameOf(field));
    CheckedValue checked{boardText, encodeUtf8(text), {}, textImage(field, boardText)};
    if (fieldKind(field) == FieldKind::RadioText) // read back with blanks for the padding
        checked.shown.erase(checked.shown.find_last_not_of(' ') + 1);
    if (!plain.replaced.empty())
        checked.warning = nameOf(field) + ": " + plain.changes();
    return checked;
}

CheckedValue checkNumber(const T_R_FieldDef &field, std::string_view value, bool force)
{
    const bool signed_ = value.starts_with('+') || value.starts_with('-');
    const std::string_view digits = value.substr(signed_ ? 1 : 0);
    if (!allOf(digits, isDigit))
        refuse(field, "\"" + std::string(value) + "\" is not a whole number");
    const NumberRange &range = rangeOf(field);
    const std::string rangeText = std::to_string(range.min) + "-" + std::to_string(range.max);
    int magnitude = 0;
    if (std::from_chars(digits.data(), digits.data() + digits.size(), magnitude).ec != std::errc())
        refuse(field, std::string(value) + " is outside " + rangeText);
    const int number = value.starts_with('-') ? -magnitude : magnitude;
    const std::string text = std::to_string(number);
    if ((number < range.min || number > range.max) && !force)
        refuseRange(field, text + " is outside " + rangeText);
    return {text, text, {}, numberImage(number)};
}

CheckedValue checkPi(const T_R_FieldDef &field, std::string_view value, bool force)
{
    const std::string_view digits =
        value.starts_with("0x") || value.starts_with("0X") ? value.substr(2) : value;
    if (!allOf(digits, isHexDigit))
        refuse(field, "\"" + std::string(value) + "\" is not a hexadecimal number");
    if (digits.size() != 4 && !force)
        refuseRange(field,
                    "\"" + std::string(value) + "\" is not four hexadecimal digits (0000-FFFF)");
    const std::string boardText = "0x" + std::string(digits);
    unsigned code = 0;
    RdsUsbParseHex(boardText.c_str(), &code); // as the write reads it
    char shown[RDS_USB_PI_TEXT_SIZE];
    RdsUsbFormatPi(code & 0xFFFF, shown);
    CheckedValue checked{boardText, shown, {}, piImage(code)};
    if ((code & 0xF000) == 0)
        checked.warning = nameOf(field) + ": " + shown +
                          " has country code 0 (its first hex digit), which no country uses";
    return checked;
}

CheckedValue checkFrequency(const T_R_FieldDef &field, std::string_view value, bool force)
{
    const size_t point = value.find('.');
    const std::string_view whole = value.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view("0") : value.substr(point + 1);
    if (!allOf(whole, isDigit) || !allOf(fraction, isDigit) || whole.size() > 3) {
        std::string message(1, '"');
        message.append(value).append("\" is not a frequency in MHz");
        refuse(field, message);
    }
    const std::string text(value);
    double rounded = 0;
    RdsUsbParseTenths(text.c_str(), &rounded); // as the write rounds it
    const int tenths = static_cast<int>(rounded);
    const int least = RDS_USB_AF_CODE_OFFSET + RDS_USB_AF_CODE_MIN;
    const int most = RDS_USB_AF_CODE_OFFSET + RDS_USB_AF_CODE_MAX;
    if (tenths < least || tenths > most)
        refuse(field,
               text + " MHz is outside " + tenthsText(least) + "-" + tenthsText(most) + " MHz");
    if (fraction.find_first_not_of('0', 1) != std::string_view::npos && !force)
        refuseRange(field, text + " MHz is not in 0.1 MHz steps");
    return {text, tenthsText(tenths), {}, afImage(tenths)};
}

} // namespace

FieldKind fieldKind(const T_R_FieldDef &field)
{
    switch (field.IdRdsFunction) {
    case RDS_USB_WRITE_PS1_RAM:
    case RDS_USB_WRITE_PS1_E2P: return FieldKind::PsName;
    case RDS_USB_WRITE_RT_RAM:
    case RDS_USB_WRITE_RT_E2P: return FieldKind::RadioText;
    case RDS_USB_WRITE_PI_E2P: return FieldKind::PiCode;
    case RDS_USB_WRITE_AF_E2P: return FieldKind::Frequency;
    default: return FieldKind::Number;
    }
}

bool isRamField(const T_R_FieldDef &field)
{
    return field.IdRdsFunction >= RDS_USB_WRITE_PS1_RAM &&
           field.IdRdsFunction <= RDS_USB_WRITE_RT_RAM_LAST;
}

const T_R_FieldDef *ramCopyOf(const T_R_FieldDef &field)
{
    const int eepromToRam = RDS_USB_WRITE_PS1_E2P - RDS_USB_WRITE_PS1_RAM;
    if (field.IdRdsFunction != RDS_USB_WRITE_PS1_E2P && field.IdRdsFunction != RDS_USB_WRITE_RT_E2P)
        return nullptr;
    for (const T_R_FieldDef &ram : RdsUsbFields)
        if (ram.IdRdsFunction == field.IdRdsFunction - eepromToRam)
            return &ram;
    return nullptr;
}

CheckedValue checkValue(const T_R_FieldDef &field, std::string_view value, Charset charset,
                        bool force)
{
    switch (fieldKind(field)) {
    case FieldKind::PsName:
        return forField(field, [&] {
            return checkText(field, value, charset, force, RDS_USB_PS_LENGTH, "a PS name");
        });
    case FieldKind::RadioText:
        return forField(field, [&] {
            return checkText(field, value, charset, force, RDS_USB_RT_LENGTH, "a RadioText");
        });
    case FieldKind::Number: return checkNumber(field, trimmed(value), force);
    case FieldKind::PiCode: return checkPi(field, trimmed(value), force);
    case FieldKind::Frequency: return checkFrequency(field, trimmed(value), force);
    }
    return {};
}

void checkImage(const T_R_FieldDef &field, const Image &image)
{
    if (image.size() != imageSize(field))
        refuse(field,
               std::to_string(image.size()) + " bytes, not " + std::to_string(imageSize(field)));
    const auto byte = [&](size_t at) { return static_cast<unsigned char>(image[at]); };
    switch (fieldKind(field)) {
    case FieldKind::PsName:
    case FieldKind::RadioText: {
        // A RadioText's text ends at its first carriage return; only more follow.
        const bool rt = fieldKind(field) == FieldKind::RadioText;
        const size_t end = rt ? std::min(image.find('\r'), image.size()) : image.size();
        for (size_t at = 0; at < image.size(); at++) {
            const unsigned char c = byte(at);
            if (at < end ? c < 0x20 || c == 0x7F : c != '\r') {
                char why[64];
                std::snprintf(why, sizeof why, "%s 0x%02X at %zu",
                              at < end ? "control byte" : "byte after the text's end", c, at);
                refuse(field, why);
            }
        }
        return;
    }
    case FieldKind::Number: {
        const NumberRange &range = rangeOf(field);
        if (byte(0) < range.min || byte(0) > range.max)
            refuse(field, std::to_string(byte(0)) + " is outside " + std::to_string(range.min) +
                              "-" + std::to_string(range.max));
        return;
    }
    case FieldKind::Frequency:
        if (byte(0) < RDS_USB_AF_CODE_MIN || byte(0) > RDS_USB_AF_CODE_MAX)
            refuse(field, "code " + std::to_string(byte(0)) + " is outside the band's " +
                              std::to_string(RDS_USB_AF_CODE_MIN) + "-" +
                              std::to_string(RDS_USB_AF_CODE_MAX));
        return;
    case FieldKind::PiCode: return;
    }
}

std::string givenValue(const T_R_FieldDef &field, std::string_view value)
{
    const FieldKind kind = fieldKind(field);
    return std::string(kind == FieldKind::PsName || kind == FieldKind::RadioText ? value
                                                                                 : trimmed(value));
}

std::string shownValue(const T_R_FieldDef &field, const std::string &displayText, Charset charset)
{
    switch (fieldKind(field)) {
    case FieldKind::PsName:
        return forField(field, [&] { return fromBoardText(displayText, charset, nameOf(field)); });
    case FieldKind::RadioText: {
        std::string text =
            forField(field, [&] { return fromBoardText(displayText, charset, nameOf(field)); });
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
    }
    case FieldKind::Frequency: return std::string(trimmed(displayText));
    case FieldKind::Number:
    case FieldKind::PiCode: break;
    }
    return displayText;
}

std::string tenthsText(int tenths)
{
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

std::string quotedValue(const T_R_FieldDef &field, const std::string &shown)
{
    const FieldKind kind = fieldKind(field);
    if (kind == FieldKind::PsName || kind == FieldKind::RadioText)
        return "\"" + shown + "\"";
    return shown;
}

} // namespace fields
