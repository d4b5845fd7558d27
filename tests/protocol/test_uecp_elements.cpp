// UECP message elements from literal bytes: each element taken, each refusal,
// and the set forms of the replies.
#include "Hex.h"
#include "UecpEncode.h"

#include <gtest/gtest.h>

using namespace uecp;
using Buffer = RadioText::Buffer;

namespace {

const std::string text64(64, 'x');
std::vector<uint8_t> rtOf64(uint8_t mel)
{
    return hex("0A 00 00") + std::vector<uint8_t>{mel, 0} + std::vector<uint8_t>(mel - 1, 'x');
}

struct DecodeCase {
    const char *name;
    std::vector<uint8_t> msg;
    std::vector<Command> commands;
    int error;
};

// clang-format off
const DecodeCase decodeCases[] = {
    {"Nothing", {}, {}, Ok},
    {"Pi", hex("01 00 00 C2 01"), {Pi{0xC201}}, Ok},
    {"PsDsn255Psn1", hex("02 FF 01 20 50 53 20 52 44 53 20"), {Ps{" PS RDS "}}, Ok},
    {"PsDsn3OfTheStandard", hex("02 03 06 20 50 53 20 52 44 53 20"), {}, BadDataSet},
    {"PsDsn254", hex("02 FE 00 20 50 53 20 52 44 53 20"), {}, BadDataSet},
    {"PsDsn1", hex("02 01 00 20 50 53 20 52 44 53 20"), {}, BadDataSet},
    {"PsPsn2", hex("02 00 02 20 50 53 20 52 44 53 20"), {}, BadService},
    {"PsCut", hex("02 00 00 20 50 53 20 52 44 53"), {}, BadElementLength},
    {"TaTpEachBit", hex("03 00 00 01 03 00 00 02 03 00 00 03"),
     {TaTp{true, false}, TaTp{false, true}, TaTp{true, true}}, Ok},
    {"TaTpBit2", hex("03 00 00 04"), {}, OutOfRange},
    {"Di15", hex("04 00 00 0F"), {Di{15}}, Ok},
    {"Di16", hex("04 00 00 10"), {}, OutOfRange},
    {"MusicSpeech", hex("05 00 00 01 05 00 00 00"), {Ms{true}, Ms{false}}, Ok},
    {"Ms2", hex("05 00 00 02"), {}, OutOfRange},
    {"Pty31", hex("07 00 00 1F"), {Pty{31}}, Ok},
    {"Pty32", hex("07 00 00 20"), {}, OutOfRange},
    {"PtyCut", hex("07 00 00"), {}, BadElementLength},
    {"RtFlush", hex("0A 00 00 06 00 48 65 6C 6C 6F"), {RadioText{Buffer::Flush, 0, false, "Hello"}},
     Ok},
    {"RtEndMarkDropped", hex("0A 00 00 04 00 48 69 0D"), {RadioText{Buffer::Flush, 0, false, "Hi"}},
     Ok},
    {"RtOnlyLastEndMark", hex("0A 00 00 05 00 48 0D 0D 0D"),
     {RadioText{Buffer::Flush, 0, false, "H\r\r"}}, Ok},
    {"RtAppendTransmissionsToggle", hex("0A 00 00 03 47 48 69"),
     {RadioText{Buffer::Append, 3, true, "Hi"}}, Ok},
    {"RtTransmissions15", hex("0A 00 00 02 1E 41"), {RadioText{Buffer::Flush, 15, false, "A"}}, Ok},
    {"RtReservedBitIgnored", hex("0A 00 00 02 80 41"), {RadioText{Buffer::Flush, 0, false, "A"}},
     Ok},
    {"RtMel0Blank", hex("0A 00 00 00"), {RadioText{}}, Ok},
    {"RtMel1FlushBlank", hex("0A 00 00 01 06"), {RadioText{Buffer::Flush, 3, false, ""}}, Ok},
    {"RtAppendNothing", hex("0A 00 00 01 40"), {}, OutOfRange},
    {"RtBuffer01", hex("0A 00 00 02 20 41"), {}, OutOfRange},
    {"RtBuffer11", hex("0A 00 00 02 60 41"), {}, OutOfRange},
    {"Rt64", rtOf64(0x41), {RadioText{Buffer::Flush, 0, false, text64}}, Ok},
    {"Rt65", rtOf64(0x42) + hex("07 00 00 05"), {Pty{5}}, BadElementLength},
    {"RtMelBeyondMessage", hex("0A 00 00 05 00 41 42"), {}, BadElementLength},
    {"RtNoMel", hex("0A 00 00"), {}, BadElementLength},
    {"RtPsn5", hex("0A 00 05 02 00 41 07 00 00 05"), {Pty{5}}, BadService},
    {"AfOfTheNotes", hex("13 00 01 07 00 00 E2 15 27 CD 00"), {Af{{0x15, 0x27}, false}}, Ok},
    {"AfAppendOddNoEnd", hex("13 00 00 04 FF FF E1 01"), {Af{{1}, true}}, Ok},
    {"AfNone", hex("13 00 00 04 00 00 E0 CD"), {Af{{}, false}}, Ok},
    {"AfHighestCode", hex("13 00 00 05 00 00 E2 CC 02"), {Af{{204, 2}, false}}, Ok},
    {"Af25", hex("13 00 00 1D 00 00 F9") + std::vector<uint8_t>(25, 0x10) + hex("00"),
     {Af{std::vector<uint8_t>(25, 0x10), false}}, Ok},
    {"Af26", hex("13 00 00 1E 00 00 FA") + std::vector<uint8_t>(26, 0x10) + hex("CD"), {},
     OutOfRange},
    {"AfCode206", hex("13 00 00 05 00 00 E2 15 CE"), {}, OutOfRange},
    {"AfZeroFilled", hex("13 00 00 09 00 00 E2 15 00 27 00 00 00"), {Af{{0x15, 0x27}, false}}, Ok},
    {"AfLfMf", hex("13 00 00 06 00 00 E2 FA 10 CD"), {}, OutOfRange},
    {"AfCountAboveList", hex("13 00 00 05 00 00 E3 15 27"), {}, OutOfRange},
    {"AfCountBelowList", hex("13 00 00 05 00 00 E1 15 27"), {}, OutOfRange},
    {"AfNoCount", hex("13 00 00 03 00 00 15"), {}, OutOfRange},
    {"AfLocation1", hex("13 00 00 04 00 01 E1 15"), {}, OutOfRange},
    {"AfLocationFF00", hex("13 00 00 04 FF 00 E1 15"), {}, OutOfRange},
    {"AfMel2", hex("13 00 00 02 00 00 07 00 00 05"), {Pty{5}}, BadElementLength},
    {"AfDsn2", hex("13 02 00 04 00 00 E1 15"), {}, BadDataSet},
    {"RequestRt", hex("17 03 0A 00 00"), {Request{0x0A, 0, 0}}, Ok},
    {"RequestPiShort", hex("17 01 01"), {Request{0x01, 0, 0}}, Ok},
    {"RequestAfExtra", hex("17 05 13 FF 01 00 00"), {Request{0x13, 0xFF, 1}}, Ok},
    {"RequestDsnOnly", hex("17 02 0A FF"), {Request{0x0A, 0xFF, 0}}, Ok},
    {"RequestDsn5", hex("17 03 02 05 00"), {}, BadDataSet},
    {"RequestPsn2", hex("17 03 02 00 02"), {}, BadService},
    {"RequestCommMode", hex("17 01 2C 07 00 00 05"), {Pty{5}}, UnknownElement},
    {"RequestMel0", hex("17 00 07 00 00 05"), {Pty{5}}, BadElementLength},
    {"RequestMelBeyond", hex("17 03 02 00"), {}, BadElementLength},
    {"AckOk", hex("18 00"), {Ack{Ok, 0}}, Ok},
    {"AckCrcError", hex("18 01 2A"), {Ack{CrcError, 0x2A}}, Ok},
    {"AckErrorCut", hex("18 01"), {}, BadElementLength},
    {"AckCut", hex("18"), {}, BadElementLength},
    {"CommMode2", hex("2C 02"), {CommMode{2}}, Ok},
    {"CommMode3", hex("2C 03"), {}, OutOfRange},
    {"UnknownEndsMessage", hex("07 00 00 05 06 00 00 01 07 00 00 06"), {Pty{5}}, UnknownElement},
    {"MecFF", hex("FF 00"), {}, UnknownElement},
    {"RefusedSkippedNextTaken", hex("07 00 00 20 03 00 00 02"), {TaTp{false, true}}, OutOfRange},
    {"FirstRefusalKept", hex("07 00 00 20 07 09 00 01 2C 01"), {CommMode{1}}, OutOfRange},
    {"SeveralInOrder", hex("07 00 00 0A 01 00 00 C2 01 03 00 00 02"),
     {Pty{10}, Pi{0xC201}, TaTp{false, true}},
     Ok},
};
// clang-format on

class Decode : public testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, CommandsAndFirstError)
{
    const Message m = decodeMessage(GetParam().msg);
    EXPECT_EQ(m.commands, GetParam().commands);
    EXPECT_EQ(m.error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Uecp, Decode, testing::ValuesIn(decodeCases),
                         [](const auto &info) { return info.param.name; });

struct EncodeCase {
    const char *name;
    Command command;
    std::vector<uint8_t> bytes;
};

const EncodeCase encodeCases[] = {
    {"Pi", Pi{0xC201}, hex("01 00 00 C2 01")},
    {"Ps", Ps{" PS RDS "}, hex("02 00 00 20 50 53 20 52 44 53 20")},
    {"Ta", TaTp{true, false}, hex("03 00 00 01")},
    {"Tp", TaTp{false, true}, hex("03 00 00 02")},
    {"Di", Di{9}, hex("04 00 00 09")},
    {"Ms", Ms{true}, hex("05 00 00 01")},
    {"Pty", Pty{10}, hex("07 00 00 0A")},
    {"RtFlush", RadioText{Buffer::Flush, 0, false, "Hi"}, hex("0A 00 00 04 00 48 69 0D")},
    {"RtAppend", RadioText{Buffer::Append, 3, true, "Hi"}, hex("0A 00 00 04 47 48 69 0D")},
    {"RtTransmissions15", RadioText{Buffer::Flush, 15, false, "A"}, hex("0A 00 00 03 1E 41 0D")},
    {"RtBlank", RadioText{}, hex("0A 00 00 01 00")},
    {"Rt64", RadioText{Buffer::Flush, 0, false, text64}, rtOf64(0x41)},
    {"AfOfTheNotes", Af{{0x15, 0x27}, false}, hex("13 00 00 07 00 00 E2 15 27 CD 00")},
    {"AfAppendOne", Af{{0x01}, true}, hex("13 00 00 05 FF FF E1 01 00")},
    {"AfNone", Af{}, hex("13 00 00 05 00 00 E0 CD 00")},
    {"Request", Request{0x0A, 0, 1}, hex("17 03 0A 00 01")},
    {"AckOk", Ack{Ok, 0}, hex("18 00")},
    {"AckError", Ack{BadDataSet, 0x2A}, hex("18 04 2A")},
    {"CommMode", CommMode{1}, hex("2C 01")},
};

class Encode : public testing::TestWithParam<EncodeCase> {};

TEST_P(Encode, SetFormDecodesBack)
{
    EXPECT_EQ(encodeElement(GetParam().command), GetParam().bytes);
    const Message back = decodeMessage(GetParam().bytes);
    EXPECT_EQ(back.error, Ok);
    EXPECT_EQ(back.commands, std::vector<Command>{GetParam().command});
}

INSTANTIATE_TEST_SUITE_P(Uecp, Encode, testing::ValuesIn(encodeCases),
                         [](const auto &info) { return info.param.name; });

// Texts padded or cut to what the element holds; acknowledgement frames.
TEST(UecpEncode, SetFormsOfLongAndShortTextsAndAckFrames)
{
    EXPECT_EQ(encodeElement(Ps{"AB"}), hex("02 00 00 41 42 20 20 20 20 20 20"));
    EXPECT_EQ(encodeElement(Ps{"ABCDEFGHIJ"}), hex("02 00 00 41 42 43 44 45 46 47 48"));
    EXPECT_EQ(encodeElement(RadioText{Buffer::Flush, 0, false, text64 + "yz"}), rtOf64(0x41));
    EXPECT_EQ(ackFrame(0, 0x2A, Ok), hex("FE 00 00 2A 02 18 00 4A B0 FF"));
    EXPECT_EQ(ackFrame(0xD152, 1, BadDataSet), hex("FE D1 52 01 03 18 04 01 0B 40 FF"));
}

} // namespace
