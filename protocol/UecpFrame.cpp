#include "UecpFrame.h"

#include <boost/crc.hpp>

#include <algorithm>
#include <stdexcept>

namespace uecp {

namespace {

constexpr uint8_t start = 0xFE;
constexpr uint8_t stop = 0xFF;
constexpr uint8_t escape = 0xFD;
constexpr size_t headerSize = 4; // ADD SQC MFL
constexpr size_t crcSize = 2;

uint16_t crc(std::span<const uint8_t> bytes)
{
    boost::crc_optimal<16, 0x1021, 0xFFFF, 0xFFFF, false, false> genibus;
    genibus.process_bytes(bytes.data(), bytes.size());
    return genibus.checksum();
}

struct Unstuffed {
    std::vector<uint8_t> bytes; // up to the first fault
    bool ok = true;
};

Unstuffed unstuff(std::span<const uint8_t> body)
{
    Unstuffed out;
    out.bytes.reserve(body.size());
    for (size_t i = 0; i < body.size(); ++i) {
        if (body[i] == escape && i + 1 < body.size() && body[i + 1] <= stop - escape) {
            out.bytes.push_back(static_cast<uint8_t>(escape + body[++i]));
        } else if (body[i] >= escape) {
            out.ok = false;
            break;
        } else {
            out.bytes.push_back(body[i]);
        }
    }
    return out;
}

FrameError failure(AckCode code, const std::vector<uint8_t> &header)
{
    FrameError error{code, {}, {}};
    if (header.size() >= 2)
        error.address = static_cast<uint16_t>(header[0] << 8 | header[1]);
    if (header.size() >= 3)
        error.sqc = header[2];
    return error;
}

} // namespace

std::vector<uint8_t> encodeFrame(const Frame &frame)
{
    if (frame.msg.size() > maxMessage)
        throw std::length_error("UECP message over 255 bytes");
    std::vector<uint8_t> plain{static_cast<uint8_t>(frame.address >> 8),
                               static_cast<uint8_t>(frame.address), frame.sqc,
                               static_cast<uint8_t>(frame.msg.size())};
    plain.insert(plain.end(), frame.msg.begin(), frame.msg.end());
    const uint16_t sum = crc(plain);
    plain.push_back(static_cast<uint8_t>(sum >> 8));
    plain.push_back(static_cast<uint8_t>(sum));

    std::vector<uint8_t> out{start};
    for (uint8_t byte : plain) {
        if (byte >= escape) {
            out.push_back(escape);
            out.push_back(static_cast<uint8_t>(byte - escape));
        } else {
            out.push_back(byte);
        }
    }
    out.push_back(stop);
    return out;
}

Decoded decodeFrameBody(std::span<const uint8_t> body, bool ended)
{
    const bool oversized = body.size() > maxStuffedFrame;
    const Unstuffed plain = unstuff(body.first(std::min(body.size(), maxStuffedFrame)));
    const std::vector<uint8_t> &bytes = plain.bytes;
    if (!ended)
        return failure(EndMissing, bytes);
    if (oversized)
        return failure(BadFrameLength, bytes);
    if (!plain.ok)
        return failure(BadStuffing, bytes);
    if (bytes.size() < headerSize + crcSize)
        return failure(UnexpectedEnd, bytes);

    const size_t crcAt = bytes.size() - crcSize;
    if (crc(std::span(bytes).first(crcAt)) != (bytes[crcAt] << 8 | bytes[crcAt + 1]))
        return failure(CrcError, bytes);
    if (bytes[3] != crcAt - headerSize)
        return failure(BadFrameLength, bytes);
    return Frame{static_cast<uint16_t>(bytes[0] << 8 | bytes[1]), bytes[2],
                 std::vector<uint8_t>(bytes.begin() + headerSize, bytes.begin() + crcAt)};
}

Decoded decodeDatagram(std::span<const uint8_t> datagram)
{
    if (datagram.empty() || datagram.front() != start)
        return FrameError{EndMissing, {}, {}};
    const bool ended = datagram.size() >= 2 && datagram.back() == stop;
    return decodeFrameBody(datagram.subspan(1, datagram.size() - (ended ? 2 : 1)), ended);
}

bool addressedTo(uint16_t address, const std::vector<int> &sites, const std::vector<int> &encoders)
{
    const auto among = [](int value, const std::vector<int> &list) {
        return value == 0 || std::ranges::find(list, value) != list.end();
    };
    return among(site(address), sites) && among(encoder(address), encoders);
}

} // namespace uecp
