#include "FieldImage.h"

#include "FieldValues.h"
#include "RdsUsbNumber.h"
#include "rds_usb.h"

namespace fields {

namespace {

constexpr char psPad = ' ';
constexpr char rtPad = '\r';

Image padded(std::string_view bytes, size_t size, char pad)
{
    Image image(bytes.substr(0, size));
    image.resize(size, pad);
    return image;
}

unsigned char byteAt(const Image &image, size_t at)
{
    return static_cast<unsigned char>(image.at(at));
}

} // namespace

size_t imageSize(const T_R_FieldDef &field)
{
    switch (fieldKind(field)) {
    case FieldKind::PsName: return RDS_USB_PS_LENGTH;
    case FieldKind::RadioText: return RDS_USB_RT_LENGTH;
    case FieldKind::PiCode: return 2;
    case FieldKind::Number:
    case FieldKind::Frequency: break;
    }
    return 1;
}

int blockCount(const T_R_FieldDef &field)
{
    switch (fieldKind(field)) {
    case FieldKind::PsName: return RDS_USB_PS_LENGTH / 4;
    case FieldKind::RadioText: return RDS_USB_RT_LENGTH / 4;
    default: return 1;
    }
}

size_t blockSize(const T_R_FieldDef &field)
{
    return imageSize(field) / blockCount(field);
}

Image textImage(const T_R_FieldDef &field, std::string_view bytes)
{
    const bool ps = fieldKind(field) == FieldKind::PsName;
    return padded(bytes, imageSize(field), ps ? psPad : rtPad);
}

Image numberImage(int number)
{
    return Image(1, static_cast<char>(number & 0xFF)); // the board keeps wValue's low byte
}

Image piImage(unsigned code)
{
    return {static_cast<char>(code >> 8 & 0xFF), static_cast<char>(code & 0xFF)};
}

Image afImage(int tenths)
{
    return Image(1, static_cast<char>((tenths - RDS_USB_AF_CODE_OFFSET) & 0xFF));
}

std::string shownOf(const T_R_FieldDef &field, const Image &image, Charset charset)
{
    switch (fieldKind(field)) {
    case FieldKind::PsName:
    case FieldKind::RadioText: {
        std::string display = image;
        for (char &c : display)
            if (static_cast<unsigned char>(c) < 0x20)
                c = ' ';
        return shownValue(field, display, charset);
    }
    case FieldKind::PiCode: {
        char pi[RDS_USB_PI_TEXT_SIZE];
        RdsUsbFormatPi(byteAt(image, 0) << 8 | byteAt(image, 1), pi);
        return pi;
    }
    case FieldKind::Frequency: return tenthsText(byteAt(image, 0) + RDS_USB_AF_CODE_OFFSET);
    case FieldKind::Number: break;
    }
    return std::to_string(byteAt(image, 0));
}

} // namespace fields
