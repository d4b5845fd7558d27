// UECP replies: elements in their set form (the answer to a Request) and the
// acknowledgement frame.
#ifndef PROTOCOL_UECP_ENCODE_H
#define PROTOCOL_UECP_ENCODE_H

#include "UecpElements.h"

namespace uecp {

// The element as decodeMessage takes it back, with DSN 0 and PSN 0 where it
// has them. A PS name is cut or padded with blanks to 8 bytes, a RadioText cut
// to 64 and, when shorter but not empty,
// ended with 0x0D; an Af holds at most 25 codes.
std::vector<uint8_t> encodeElement(const Command &command);

// The reply to the frame (`address`, `sqc`): `18 00` for Ok, else
// `18 code sqc`, in a frame of its own with that address and SQC.
std::vector<uint8_t> ackFrame(uint16_t address, uint8_t sqc, AckCode code);

} // namespace uecp

#endif
