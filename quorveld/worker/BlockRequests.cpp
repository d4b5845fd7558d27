#include "BlockRequests.h"

#include "FieldValues.h"
#include "RdsUsbBlocks.h"
#include "rds_usb.h"

namespace qd {

namespace {

constexpr int readBit = 0x80;

bool isText(const T_R_FieldDef &field)
{
    const fields::FieldKind kind = fields::fieldKind(field);
    return kind == fields::FieldKind::PsName || kind == fields::FieldKind::RadioText;
}

int byteAt(std::string_view bytes, size_t at)
{
    return static_cast<unsigned char>(bytes[at]);
}

} // namespace

int writeBlock(usb_dev_handle *board, const T_R_FieldDef &field, int block, std::string_view bytes)
{
    const int code = field.IdRdsFunction;
    if (isText(field))
        return RdsUsbWriteTextBlock(board, code + block,
                                    reinterpret_cast<const unsigned char *>(bytes.data()));
    switch (fields::fieldKind(field)) {
    case fields::FieldKind::PiCode:
        return RdsUsbWriteValue(board, code, byteAt(bytes, 0) << 8 | byteAt(bytes, 1), 0);
    case fields::FieldKind::Frequency:
        return RdsUsbWriteValue(board, code, byteAt(bytes, 0), field.ReadArg);
    default: return RdsUsbWriteValue(board, code, byteAt(bytes, 0), 0);
    }
}

BlockReply readBlock(usb_dev_handle *board, const T_R_FieldDef &field, int block)
{
    const bool af = fields::fieldKind(field) == fields::FieldKind::Frequency;
    unsigned char reply[RDS_USB_REPLY_SIZE] = {};
    const int result = RdsUsbReadBlock(board, (field.IdRdsFunction | readBit) + block,
                                       af ? field.ReadArg : 0, reply);
    const size_t size = fields::blockSize(field);
    if (result < static_cast<int>(size))
        return {result, {}};
    return {result, fields::Image(reinterpret_cast<const char *>(reply), size)};
}

} // namespace qd
