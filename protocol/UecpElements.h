// UECP message elements: what a frame's MSG asks of this encoder. Texts are
// bytes in the RDS character table, kept as they came.
#ifndef PROTOCOL_UECP_ELEMENTS_H
#define PROTOCOL_UECP_ELEMENTS_H

#include "UecpFrame.h"

#include <string>
#include <variant>

namespace uecp {

enum Mec : uint8_t {
    MecPi = 0x01,
    MecPs = 0x02,
    MecTaTp = 0x03,
    MecDi = 0x04,
    MecMs = 0x05,
    MecPty = 0x07,
    MecRadioText = 0x0A,
    MecAf = 0x13,
    MecRequest = 0x17,
    MecAck = 0x18,
    MecCommMode = 0x2C,
};

struct Pi {
    uint16_t code = 0;
    bool operator==(const Pi &) const = default;
};

struct Ps {
    std::string name; // 8 bytes
    bool operator==(const Ps &) const = default;
};

struct TaTp {
    bool ta = false;
    bool tp = false;
    bool operator==(const TaTp &) const = default;
};

struct Di {
    uint8_t bits = 0; // 0-15: bit 3 dynamic PTY; bits 0-2 stereo, artificial head, compressed
    bool operator==(const Di &) const = default;
};

struct Ms {
    bool music = false;
    bool operator==(const Ms &) const = default;
};

struct Pty {
    uint8_t code = 0; // 0-31
    bool operator==(const Pty &) const = default;
};

// An empty text with Flush blanks the RadioText and stops it. A trailing 0x0D
// (the end mark of a text under 64 characters) is not part of `text`.
struct RadioText {
    enum class Buffer { Flush, Append }; // flush then store; add to the texts sent in turn
    Buffer buffer = Buffer::Flush;
    uint8_t transmissions = 0; // 0-15, 0 without end
    bool abToggle = false;
    std::string text; // up to 64 bytes
    bool operator==(const RadioText &) const = default;
};

struct Af {
    std::vector<uint8_t> codes; // 1-204: (MHz - 87.5) * 10; at most 25
    bool append = false;        // to the list held, instead of replacing it
    bool operator==(const Af &) const = default;
};

// Asks for the element `mec` as held, in its set form: one of PI, PS, TA/TP,
// DI, MS, PTY, RadioText and AF (any other is refused with UnknownElement).
struct Request {
    uint8_t mec = 0;
    uint8_t dsn = 0;
    uint8_t psn = 0;
    bool operator==(const Request &) const = default;
};

struct Ack {
    AckCode code = Ok;
    uint8_t sqc = 0; // of the faulty frame; 0 with Ok
    bool operator==(const Ack &) const = default;
};

struct CommMode {
    uint8_t mode = 0; // 0 one-way, 1 replies on request, 2 spontaneous replies
    bool operator==(const CommMode &) const = default;
};

using Command = std::variant<Pi, Ps, TaTp, Di, Ms, Pty, RadioText, Af, Request, Ack, CommMode>;

struct Message {
    std::vector<Command> commands; // those taken, in order
    AckCode error = Ok;            // the first refusal
};

// A frame's MSG. DSN 0 and 255 and PSN 0 and 1 are this encoder's; other
// ones are refused (BadDataSet, BadService), values out of range with
// OutOfRange, an element cut short or of an impossible MEL with
// BadElementLength. An element refused with a known length is skipped and the
// next one decoded; an unknown MEC (UnknownElement) or a cut element ends the
// message.
Message decodeMessage(std::span<const uint8_t> msg);

} // namespace uecp

#endif
