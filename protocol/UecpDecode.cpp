#include "UecpElements.h"

#include <limits>

namespace uecp {

namespace {

using Bytes = std::span<const uint8_t>;
using Outcome = std::variant<AckCode, Command>;

constexpr size_t cutShort = std::numeric_limits<size_t>::max();
constexpr size_t maxRadioText = 64;
constexpr size_t maxAfs = 25;
constexpr uint8_t afCount = 0xE0; // + the number of AFs
constexpr uint8_t afFiller = 0xCD;
constexpr uint8_t lastFmCode = 204;
constexpr uint8_t endOfText = 0x0D;

// Bytes the element takes after its MEC; nullopt for an unknown MEC, cutShort
// when its MEL lies beyond the message.
std::optional<size_t> elementSize(uint8_t mec, Bytes rest)
{
    const auto withMel = [&](size_t melAt) {
        return rest.size() > melAt ? melAt + 1 + rest[melAt] : cutShort;
    };
    switch (mec) {
    case MecPi: return 4;
    case MecPs: return 10;
    case MecTaTp:
    case MecDi:
    case MecMs:
    case MecPty: return 3;
    case MecRadioText:
    case MecAf: return withMel(2);
    case MecRequest: return withMel(0);
    case MecAck: return rest.empty() ? cutShort : rest[0] == Ok ? 1 : 2;
    case MecCommMode: return 1;
    default: return std::nullopt;
    }
}

AckCode checkService(uint8_t dsn, uint8_t psn)
{
    if (dsn != 0 && dsn != 255)
        return BadDataSet;
    if (psn > 1)
        return BadService;
    return Ok;
}

bool answerable(uint8_t mec)
{
    switch (mec) {
    case MecPi:
    case MecPs:
    case MecTaTp:
    case MecDi:
    case MecMs:
    case MecPty:
    case MecRadioText:
    case MecAf: return true;
    default: return false;
    }
}

Outcome radioText(Bytes data)
{
    if (data.empty())
        return RadioText{};
    if (data.size() > 1 + maxRadioText)
        return BadElementLength;
    const uint8_t cfg = data[0];
    const int buffer = cfg >> 5 & 3;
    if (buffer != 0 && buffer != 2)
        return OutOfRange;
    Bytes text = data.subspan(1);
    if (!text.empty() && text.back() == endOfText)
        text = text.first(text.size() - 1);
    RadioText out{buffer == 2 ? RadioText::Buffer::Append : RadioText::Buffer::Flush,
                  static_cast<uint8_t>(cfg >> 1 & 0x0F), (cfg & 1) != 0,
                  std::string(text.begin(), text.end())};
    if (out.buffer == RadioText::Buffer::Append && out.text.empty())
        return OutOfRange;
    return out;
}

// Method A: E0+N, N codes, a filler to complete the last pair, and an optional
// 00 at the end. A 00 elsewhere is skipped like the filler: some clients fill
// the unused places of a list with it.
Outcome af(Bytes data)
{
    if (data.size() < 3)
        return BadElementLength;
    const int location = data[0] << 8 | data[1];
    if (location != 0 && location != 0xFFFF)
        return OutOfRange;
    if (data[2] < afCount || data[2] > afCount + maxAfs)
        return OutOfRange;
    Af out{{}, location == 0xFFFF};
    const Bytes list = data.subspan(3);
    for (const uint8_t code : list) {
        if (code >= 1 && code <= lastFmCode)
            out.codes.push_back(code);
        else if (code != afFiller && code != 0)
            return OutOfRange;
    }
    if (out.codes.size() != size_t(data[2] - afCount))
        return OutOfRange;
    return out;
}

Outcome request(Bytes data)
{
    if (data.size() < 2)
        return BadElementLength;
    const Request out{data[1], data.size() > 2 ? data[2] : uint8_t(0),
                      data.size() > 3 ? data[3] : uint8_t(0)};
    if (const AckCode service = checkService(out.dsn, out.psn); service != Ok)
        return service;
    if (!answerable(out.mec))
        return UnknownElement;
    return out;
}

// An element with DSN and PSN; `data` follows them.
Outcome serviceElement(uint8_t mec, Bytes data)
{
    const uint8_t value = data[0];
    switch (mec) {
    case MecPi: return Pi{static_cast<uint16_t>(value << 8 | data[1])};
    case MecPs: return Ps{std::string(data.begin(), data.end())};
    case MecTaTp:
        if (value <= 3)
            return TaTp{(value & 1) != 0, (value & 2) != 0};
        break;
    case MecDi:
        if (value <= 15)
            return Di{value};
        break;
    case MecMs:
        if (value <= 1)
            return Ms{value == 1};
        break;
    case MecPty:
        if (value <= 31)
            return Pty{value};
        break;
    case MecRadioText: return radioText(data.subspan(1));
    case MecAf: return af(data.subspan(1));
    }
    return OutOfRange;
}

Outcome element(uint8_t mec, Bytes data)
{
    switch (mec) {
    case MecRequest: return request(data);
    case MecAck: return Ack{static_cast<AckCode>(data[0]), data.size() > 1 ? data[1] : uint8_t(0)};
    case MecCommMode:
        if (data[0] > 2)
            return OutOfRange;
        return CommMode{data[0]};
    }
    if (const AckCode service = checkService(data[0], data[1]); service != Ok)
        return service;
    return serviceElement(mec, data.subspan(2));
}

} // namespace

Message decodeMessage(std::span<const uint8_t> msg)
{
    Message out;
    const auto refuse = [&](AckCode code) {
        if (out.error == Ok)
            out.error = code;
    };
    while (!msg.empty()) {
        const uint8_t mec = msg[0];
        const Bytes rest = msg.subspan(1);
        const std::optional<size_t> size = elementSize(mec, rest);
        if (!size) {
            refuse(UnknownElement);
            break;
        }
        if (*size > rest.size()) {
            refuse(BadElementLength);
            break;
        }
        const Outcome outcome = element(mec, rest.first(*size));
        if (const auto *code = std::get_if<AckCode>(&outcome))
            refuse(*code);
        else
            out.commands.push_back(std::get<Command>(outcome));
        msg = rest.subspan(*size);
    }
    return out;
}

} // namespace uecp
