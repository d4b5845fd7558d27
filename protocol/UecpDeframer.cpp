#include "UecpDeframer.h"

namespace uecp {

std::vector<Decoded> StreamDeframer::feed(std::span<const uint8_t> bytes)
{
    std::vector<Decoded> out;
    for (uint8_t byte : bytes) {
        if (byte == 0xFE) {
            if (inFrame_)
                out.push_back(decodeFrameBody(body_, false));
            inFrame_ = true;
            body_.clear();
        } else if (!inFrame_) {
            continue;
        } else if (byte == 0xFF) {
            out.push_back(decodeFrameBody(body_));
            inFrame_ = false;
        } else {
            body_.push_back(byte);
            if (body_.size() > maxStuffedFrame) {
                out.push_back(decodeFrameBody(body_));
                inFrame_ = false;
            }
        }
    }
    return out;
}

} // namespace uecp
