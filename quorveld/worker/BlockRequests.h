// One block of a field as a board request: the write that stores it and the
// read that fetches it, through the block-wise board layer.
#ifndef QUORVELD_BLOCK_REQUESTS_H
#define QUORVELD_BLOCK_REQUESTS_H

#include "FieldImage.h"

#include <usb.h>

#include <string_view>

namespace qd {

struct BlockReply {
    int result;          // bytes answered, or libusb's negative error
    fields::Image bytes; // the block; empty unless the board answered all of it
};

// Block `block` of the field's image (blockSize bytes). Returns libusb's result.
int writeBlock(usb_dev_handle *board, const T_R_FieldDef &field, int block, std::string_view bytes);
BlockReply readBlock(usb_dev_handle *board, const T_R_FieldDef &field, int block);

} // namespace qd

#endif
