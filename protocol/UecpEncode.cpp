#include "UecpEncode.h"

namespace uecp {

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t psSize = 8;
constexpr size_t maxRadioText = 64;

Bytes withService(Mec mec, std::initializer_list<uint8_t> data)
{
    Bytes out{mec, 0, 0};
    for (uint8_t byte : data) // not insert(): GCC 12 at -O2 misreads its bounds
        out.push_back(byte);
    return out;
}

Bytes encode(const Pi &pi)
{
    return withService(MecPi, {static_cast<uint8_t>(pi.code >> 8), static_cast<uint8_t>(pi.code)});
}

Bytes encode(const Ps &ps)
{
    Bytes out = withService(MecPs, {});
    std::string name = ps.name.substr(0, psSize);
    name.resize(psSize, ' ');
    out.insert(out.end(), name.begin(), name.end());
    return out;
}

Bytes encode(const TaTp &flags)
{
    return withService(MecTaTp, {static_cast<uint8_t>(flags.tp << 1 | flags.ta)});
}

Bytes encode(const Di &di)
{
    return withService(MecDi, {di.bits});
}

Bytes encode(const Ms &ms)
{
    return withService(MecMs, {ms.music});
}

Bytes encode(const Pty &pty)
{
    return withService(MecPty, {pty.code});
}

Bytes encode(const RadioText &rt)
{
    const std::string text = rt.text.substr(0, maxRadioText);
    const bool ended = !text.empty() && text.size() < maxRadioText;
    const uint8_t cfg = static_cast<uint8_t>((rt.buffer == RadioText::Buffer::Append ? 0x40 : 0) |
                                             (rt.transmissions & 0x0F) << 1 | rt.abToggle);
    Bytes out = withService(MecRadioText, {static_cast<uint8_t>(1 + text.size() + ended), cfg});
    out.insert(out.end(), text.begin(), text.end());
    if (ended)
        out.push_back(0x0D);
    return out;
}

// Method A: E0+N, the codes, a filler to complete the last pair, 00.
Bytes encode(const Af &af)
{
    const uint8_t location = af.append ? 0xFF : 0x00;
    const bool filler = af.codes.size() % 2 == 0;
    const size_t mel = 2 + 1 + af.codes.size() + filler + 1;
    Bytes out = withService(MecAf, {static_cast<uint8_t>(mel), location, location,
                                    static_cast<uint8_t>(0xE0 + af.codes.size())});
    out.insert(out.end(), af.codes.begin(), af.codes.end());
    if (filler)
        out.push_back(0xCD);
    out.push_back(0x00);
    return out;
}

Bytes encode(const Request &request)
{
    return {MecRequest, 3, request.mec, request.dsn, request.psn};
}

Bytes encode(const Ack &ack)
{
    if (ack.code == Ok)
        return {MecAck, Ok};
    return {MecAck, ack.code, ack.sqc};
}

Bytes encode(const CommMode &mode)
{
    return {MecCommMode, mode.mode};
}

} // namespace

std::vector<uint8_t> encodeElement(const Command &command)
{
    return std::visit([](const auto &element) { return encode(element); }, command);
}

std::vector<uint8_t> ackFrame(uint16_t address, uint8_t sqc, AckCode code)
{
    return encodeFrame(Frame{address, sqc, encode(Ack{code, sqc})});
}

} // namespace uecp
