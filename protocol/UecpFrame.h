// UECP frames: FE | ADD(2) | SQC | MFL | MSG | CRC(2) | FF, with FD, FE and FF
// stuffed as FD 00, FD 01 and FD 02 from ADD to CRC, and the CRC-16/GENIBUS of
// the unstuffed ADD..MSG, high byte first.
#ifndef PROTOCOL_UECP_FRAME_H
#define PROTOCOL_UECP_FRAME_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

namespace uecp {

// The acknowledgement codes; Ok is 0.
enum AckCode : uint8_t {
    Ok = 0,
    CrcError = 1,
    NotReceived = 2,
    UnknownElement = 3,
    BadDataSet = 4,
    BadService = 5,
    OutOfRange = 6,
    BadElementLength = 7,
    BadFrameLength = 8,
    NotAcceptable = 9,
    EndMissing = 10,
    BufferOverflow = 11,
    BadStuffing = 12,
    UnexpectedEnd = 13,
    NotInterpreted = 14,
};

inline constexpr size_t maxMessage = 255;
// Between FE and FF: unstuffed, and at most twice that once stuffed.
inline constexpr size_t maxFrame = 2 + 1 + 1 + maxMessage + 2;
inline constexpr size_t maxStuffedFrame = 2 * maxFrame;

struct Frame {
    uint16_t address = 0; // site << 6 | encoder
    uint8_t sqc = 0;
    std::vector<uint8_t> msg; // MFL is its size
    bool operator==(const Frame &) const = default;
};

constexpr int site(uint16_t address)
{
    return address >> 6;
}

constexpr int encoder(uint16_t address)
{
    return address & 0x3F;
}

// A frame that could not be taken, with what of its header could be read.
struct FrameError {
    AckCode code = Ok;
    std::optional<uint16_t> address;
    std::optional<uint8_t> sqc;
    bool operator==(const FrameError &) const = default;
};

using Decoded = std::variant<Frame, FrameError>;

// The whole frame, FE to FF. A message over maxMessage bytes throws
// std::length_error.
std::vector<uint8_t> encodeFrame(const Frame &frame);

// The stuffed bytes between FE and FF (`ended`: the FF was seen). Errors:
// BadFrameLength for more than maxStuffedFrame bytes or an MFL that does not
// match, BadStuffing for FD followed by anything but 00-02 or a bare FE or FF,
// UnexpectedEnd for fewer bytes than a header and a CRC, CrcError, and
// EndMissing when not `ended`.
Decoded decodeFrameBody(std::span<const uint8_t> body, bool ended = true);

// One UDP datagram, one frame from FE to FF; without them: EndMissing.
Decoded decodeDatagram(std::span<const uint8_t> datagram);

// Whether this encoder, answering the given sites and encoders, takes a frame
// for `address`: site and encoder 0 are always taken.
bool addressedTo(uint16_t address, const std::vector<int> &sites, const std::vector<int> &encoders);

} // namespace uecp

#endif
