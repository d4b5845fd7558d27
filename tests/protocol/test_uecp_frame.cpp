// UECP frames: the standard's frames byte for byte, stuffing, CRC, each frame
// error, TCP re-framing and addressing.
#include "Hex.h"
#include "UecpDeframer.h"

#include <gtest/gtest.h>

#include <ostream>

namespace uecp {
void PrintTo(const Frame &f, std::ostream *os)
{
    *os << "Frame{" << f.address << ", " << int(f.sqc) << ", " << f.msg.size() << " bytes}";
}
void PrintTo(const FrameError &e, std::ostream *os)
{
    *os << "FrameError{" << int(e.code) << ", " << (e.address ? int(*e.address) : -1) << ", "
        << (e.sqc ? int(*e.sqc) : -1) << "}";
}
} // namespace uecp

using namespace uecp;

namespace {

const std::vector<uint8_t> psMsg = hex("02 03 06 20 50 53 20 52 44 53 20");
const Frame longest{0xFFFF, 0xFF, std::vector<uint8_t>(255, 0xFF)};

struct StandardFrame {
    const char *bytes;
    Frame frame;
    int site, encoder;
};

// The standard's frames, and frames whose every stuffed position holds FD, FE
// or FF (the last two: the CRC's high and low byte).
// clang-format off
const StandardFrame standardFrames[] = {
    {"FE D1 52 01 0B 02 03 06 20 50 53 20 52 44 53 20 25 F4 FF", {0xD152, 1, psMsg}, 837, 18},
    {"FE FD 02 BF 00 0B 02 03 06 20 50 53 20 52 44 53 20 80 0C FF", {0xFFBF, 0, psMsg}, 1022, 63},
    {"FE 00 00 2A 02 18 00 4A B0 FF", {0, 0x2A, hex("18 00")}, 0, 0},
    {"FE 00 00 00 00 7B 3F FF", {0, 0, {}}, 0, 0},
    {"FE FD 00 FD 01 FD 02 03 FD 00 FD 01 FD 02 94 F2 FF", {0xFDFE, 0xFF, hex("FD FE FF")}, 1015,
     62},
    {"FE 00 00 79 00 C9 FD 01 FF", {0, 0x79, {}}, 0, 0},
    {"FE 00 00 48 00 FD 02 5A FF", {0, 0x48, {}}, 0, 0},
    {"FE 00 18 00 00 91 FD 00 FF", {0x18, 0, {}}, 0, 24},
};
// clang-format on

class StandardFrames : public testing::TestWithParam<StandardFrame> {};

TEST_P(StandardFrames, EncodeAndDecodeByteForByte)
{
    const StandardFrame &c = GetParam();
    EXPECT_EQ(encodeFrame(c.frame), hex(c.bytes));
    EXPECT_EQ(decodeDatagram(hex(c.bytes)), Decoded(c.frame));
    EXPECT_EQ(site(c.frame.address), c.site);
    EXPECT_EQ(encoder(c.frame.address), c.encoder);
}

INSTANTIATE_TEST_SUITE_P(Uecp, StandardFrames, testing::ValuesIn(standardFrames));

TEST(UecpFrame, LongestMessageFitsAndOneMoreByteThrows)
{
    const std::vector<uint8_t> bytes = encodeFrame(longest);
    EXPECT_EQ(std::vector(bytes.end() - 5, bytes.end()), hex("FD 02 95 74 FF"));
    EXPECT_EQ(bytes.size(), 2 + 2 * 259 + 2u); // FE FF, 259 stuffed FF, the CRC 95 74
    EXPECT_EQ(decodeDatagram(bytes), Decoded(longest));
    EXPECT_THROW(encodeFrame(Frame{0, 0, std::vector<uint8_t>(256)}), std::length_error);
}

struct BadFrame {
    const char *name;
    std::vector<uint8_t> bytes;
    FrameError error;
};

std::vector<uint8_t> oversized(size_t size)
{
    return hex("FE 00 05 09") + std::vector<uint8_t>(size - 3, 0x41) + hex("FF");
}

const BadFrame badFrames[] = {
    {"CrcLowByte",
     hex("FE D1 52 01 0B 02 03 06 20 50 53 20 52 44 53 20 25 F5 FF"),
     {CrcError, 0xD152, 1}},
    {"CrcHighByte", hex("FE 00 00 2A 02 18 00 4B B0 FF"), {CrcError, 0, 0x2A}},
    {"CrcOverChangedMessage", hex("FE 00 00 2A 02 18 01 4A B0 FF"), {CrcError, 0, 0x2A}},
    {"MflAboveMessage", hex("FE 00 00 07 04 07 00 00 26 84 FF"), {BadFrameLength, 0, 7}},
    {"MflBelowMessage", hex("FE 00 00 07 02 07 00 00 01 1D FF"), {BadFrameLength, 0, 7}},
    {"StuffingFD03", hex("FE 00 00 07 FD 03 00 7B 3F FF"), {BadStuffing, 0, 7}},
    {"StuffingInAddress", hex("FE 00 FD 05 07 00 7B 3F FF"), {BadStuffing, {}, {}}},
    {"StuffingFDLast", hex("FE 00 00 07 00 7B 3F FD FF"), {BadStuffing, 0, 7}},
    {"BareFEInside", hex("FE 00 00 07 FE 00 7B 3F FF"), {BadStuffing, 0, 7}},
    {"BareFFInside", hex("FE 00 01 FF 00 00 7B 3F FF"), {BadStuffing, 1, {}}},
    {"HeaderAndCrcCut", hex("FE 00 00 05 00 7B FF"), {UnexpectedEnd, 0, 5}},
    {"Nothing", hex("FE FF"), {UnexpectedEnd, {}, {}}},
    {"NoStop", hex("FE 00 00 2A 02 18 00 4A B0"), {EndMissing, 0, 0x2A}},
    {"OnlyStart", hex("FE"), {EndMissing, {}, {}}},
    {"NoStart", hex("00 00 2A 02 18 00 4A B0 FF"), {EndMissing, {}, {}}},
    {"Empty", {}, {EndMissing, {}, {}}},
    {"OneByteOverStuffedMaximum", oversized(523), {BadFrameLength, 5, 9}},
    {"FarOverStuffedMaximum", oversized(5000), {BadFrameLength, 5, 9}},
    // 522 bytes between FE and FF: not too long, so the CRC is what fails.
    {"StuffedMaximumReachesTheCrc", oversized(522), {CrcError, 5, 9}},
};

class BadFrames : public testing::TestWithParam<BadFrame> {};

TEST_P(BadFrames, GiveTheirErrorAndHeader)
{
    EXPECT_EQ(decodeDatagram(GetParam().bytes), Decoded(GetParam().error));
}

INSTANTIATE_TEST_SUITE_P(Uecp, BadFrames, testing::ValuesIn(badFrames),
                         [](const auto &info) { return info.param.name; });

const std::vector<uint8_t> ps = hex(standardFrames[0].bytes);
const std::vector<uint8_t> ack = hex(standardFrames[2].bytes);
const Decoded psFrame = standardFrames[0].frame;
const Decoded ackFrame = standardFrames[2].frame;

struct StreamCase {
    const char *name;
    std::vector<uint8_t> bytes;
    std::vector<Decoded> decoded;
};

// clang-format off
const StreamCase streams[] = {
    {"Frames", ps + ack, {psFrame, ackFrame}},
    {"GarbageAround", hex("41 42 FF 0D 0A") + ps + hex("FF FF 00 FD") + ack + hex("50"),
     {psFrame, ackFrame}},
    {"StartInsideFrame", hex("FE 00 00 2A 02") + ack, {FrameError{EndMissing, 0, 0x2A}, ackFrame}},
    {"StartAfterStart", hex("FE") + ps, {FrameError{EndMissing, {}, {}}, psFrame}},
    {"BadFrameThenGood", hex("FE 00 00 07 FD 03 FF") + ps,
     {FrameError{BadStuffing, 0, 7}, psFrame}},
    {"OversizedDroppedUpToStart",
     hex("FE 00 05 09") + std::vector<uint8_t>(600, 0x41) + hex("FF 41") + ack,
     {FrameError{BadFrameLength, 5, 9}, ackFrame}},
    {"Unfinished", ps + hex("FE 00 00"), {psFrame}},
    {"LongestFrame", encodeFrame(longest) + ack, {longest, ackFrame}},
    {"OversizedReportedBeforeItsEnd", hex("FE 00 05 09") + std::vector<uint8_t>(520, 0x41),
     {FrameError{BadFrameLength, 5, 9}}},
};
// clang-format on

class Streams : public testing::TestWithParam<StreamCase> {};

TEST_P(Streams, ReframeAtEveryChunkBoundary)
{
    const StreamCase &c = GetParam();
    StreamDeframer whole;
    EXPECT_EQ(whole.feed(c.bytes), c.decoded);
    for (size_t cut = 0; cut <= c.bytes.size(); ++cut) {
        StreamDeframer split;
        std::vector<Decoded> got = split.feed(std::span(c.bytes).first(cut));
        for (Decoded &d : split.feed(std::span(c.bytes).subspan(cut)))
            got.push_back(std::move(d));
        ASSERT_EQ(got, c.decoded) << "cut at " << cut;
    }
    StreamDeframer bytewise;
    std::vector<Decoded> got;
    for (uint8_t byte : c.bytes) {
        for (Decoded &d : bytewise.feed(std::span(&byte, 1)))
            got.push_back(std::move(d));
    }
    EXPECT_EQ(got, c.decoded);
}

INSTANTIATE_TEST_SUITE_P(Uecp, Streams, testing::ValuesIn(streams),
                         [](const auto &info) { return info.param.name; });

struct AddressCase {
    int site, encoder;
    bool taken;
};

class Addresses : public testing::TestWithParam<AddressCase> {};

TEST_P(Addresses, SiteAndEncoderBothListedOrZero)
{
    const AddressCase &c = GetParam();
    EXPECT_EQ(addressedTo(static_cast<uint16_t>(c.site << 6 | c.encoder), {837, 5}, {18}), c.taken);
}

INSTANTIATE_TEST_SUITE_P(Uecp, Addresses,
                         testing::Values(AddressCase{0, 0, true}, AddressCase{837, 18, true},
                                         AddressCase{5, 18, true}, AddressCase{0, 18, true},
                                         AddressCase{837, 0, true}, AddressCase{837, 17, false},
                                         AddressCase{836, 18, false}, AddressCase{1023, 0, false},
                                         AddressCase{0, 63, false}, AddressCase{18, 5, false}));

} // namespace
