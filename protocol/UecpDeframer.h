// UECP over a byte stream (TCP): frames cut out on FE and FF.
#ifndef PROTOCOL_UECP_DEFRAMER_H
#define PROTOCOL_UECP_DEFRAMER_H

#include "UecpFrame.h"

namespace uecp {

// Bytes before an FE are dropped. An FE inside a frame ends it unfinished
// (EndMissing) and starts the next one. A frame that grows past
// maxStuffedFrame is reported once (BadFrameLength) and dropped up to the next
// FE, so that at most maxStuffedFrame + 1 bytes are ever held.
class StreamDeframer {
public:
    // The frames, or their errors, that these bytes complete, in order.
    std::vector<Decoded> feed(std::span<const uint8_t> bytes);

private:
    bool inFrame_ = false;
    std::vector<uint8_t> body_;
};

} // namespace uecp

#endif
