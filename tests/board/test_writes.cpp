// Field writes to a simulated board through the real libusb: the exact
// requests each display text turns into, and what is refused or fails.
#include "RdsUsbDriver.h"
#include "SimFixture.h"

namespace {

using Requests = std::vector<sim::Request>;

class Writes : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        open();
    }
    // The requests and the message of one write; `written` its result.
    Requests write(const std::function<bool()> &operation, std::string *message = nullptr)
    {
        board->clearLog();
        std::string out = stdoutOf([&] { written = operation(); });
        if (message)
            *message = out;
        else
            EXPECT_EQ(out, "");
        return log();
    }
    Requests rt(int first, const std::string &text)
    {
        std::string padded = text.substr(0, 64);
        padded.resize(64, '\r');
        Requests expected;
        for (int k = 0; k < 16; k++) {
            auto c = [&](int i) { return static_cast<unsigned char>(padded[4 * k + i]); };
            expected.push_back(ok(first + k, c(0) << 8 | c(1), c(2) << 8 | c(3)));
        }
        return expected;
    }
    bool written = false;
};

TEST_F(Writes, PSNamePackingAndLength)
{
    EXPECT_EQ(write([&] { return RdsUsbWritePSRam(handle, "TEST"); }),
              (Requests{ok(0x21, 0x5445, 0x5354), ok(0x22, 0, 0)}));
    EXPECT_TRUE(written);
    EXPECT_EQ(write([&] { return RdsUsbWritePSRam(handle, "ABCDEFGHIJ"); }),
              (Requests{ok(0x21, 0x4142, 0x4344), ok(0x22, 0x4546, 0x4748)}));
    // A byte of 0x80 or above keeps its value and its place in the pair.
    EXPECT_EQ(write([&] { return RdsUsbWritePSE2p(handle, "A\xE9"); }),
              (Requests{ok(0x61, 0x41E9, 0), ok(0x62, 0, 0)}));
}

TEST_F(Writes, ShorterPSNameAfterALongerOneSendsZeros)
{
    char buffer[128] = "TESTING1";
    write([&] { return RdsUsbWritePSRam(handle, buffer); });
    strcpy(buffer, "AB");
    EXPECT_EQ(write([&] { return RdsUsbWritePSRam(handle, buffer); }),
              (Requests{ok(0x21, 0x4142, 0), ok(0x22, 0, 0)}));
}

TEST_F(Writes, RadioTextIsFilledWithCarriageReturns)
{
    EXPECT_EQ(write([&] { return RdsUsbWriteRTRam(handle, "HELLO"); }), rt(0x30, "HELLO"));
    EXPECT_EQ(rt(0x30, "HELLO")[1], ok(0x31, 0x4F0D, 0x0D0D));
    EXPECT_EQ(write([&] { return RdsUsbWriteRTE2p(handle, ""); }), rt(0x70, ""));
    const std::string seventy(70, 'z');
    EXPECT_EQ(write([&] { return RdsUsbWriteRTRam(handle, seventy.c_str()); }), rt(0x30, seventy));
    const std::string blanks = "END   ";
    EXPECT_EQ(write([&] { return RdsUsbWriteRTRam(handle, blanks.c_str()); }), rt(0x30, blanks));
}

TEST_F(Writes, RadioTextRunStopsAtTheFailedRequest)
{
    board->addFault({.kind = sim::Fault::Error, .code = 0x33, .error = 32});
    std::string message;
    Requests sent = write([&] { return RdsUsbWriteRTRam(handle, "HELLO"); }, &message);
    EXPECT_FALSE(written);
    EXPECT_EQ(message, "Error RdsUsbWriteRTRam sendUSBVendorCmd -32");
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent.back().result, -32);

    board->clearFaults();
    board->addFault({.kind = sim::Fault::Error, .code = 0x73, .error = 110});
    sent = write([&] { return RdsUsbWriteRTE2p(handle, "HELLO"); }, &message);
    EXPECT_EQ(message, "Error sendUSBVendorCmd -110");
    EXPECT_EQ(sent.size(), 4u);
}

TEST_F(Writes, PSNameFailures)
{
    board->addFault({.kind = sim::Fault::Error, .code = 0x21, .error = 32});
    std::string message;
    EXPECT_EQ(write([&] { return RdsUsbWritePSRam(handle, "TEST"); }, &message).size(), 1u);
    EXPECT_EQ(message, "Error RdsUsbWritePSRam sendUSBVendorCmd -32");
    EXPECT_FALSE(written);
    board->addFault({.kind = sim::Fault::Error, .code = 0x62, .error = 32});
    EXPECT_EQ(write([&] { return RdsUsbWritePSE2p(handle, "TEST"); }, &message).size(), 2u);
    EXPECT_EQ(message, "Error RdsUsbWritePSE2p (2) sendUSBVendorCmd -32");
    EXPECT_FALSE(written);
}

TEST_F(Writes, IntegersReadAsScanfWouldWithDefinedResults)
{
    const struct {
        const char *text;
        uint16_t value;
    } decimal[] = {
        {"12", 12},     {" 12", 12},        {"12abc", 12},       {"1.5", 1},     {"0x10", 0},
        {"-1", 0xFFFF}, {"+7", 7},          {"65537", 1},        {"007", 7},
        // Beyond the int range: saturated first, then the low 16 bits.
        {"99999999999", 0xFFFF}, {"-99999999999", 0},
    };
    for (auto c : decimal) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(write([&] { return RdsUsbWritePTY(handle, c.text, 0x23); }),
                  (Requests{ok(0x23, c.value, 0)}));
        EXPECT_TRUE(written);
    }
    const struct {
        const char *text;
        uint16_t value;
    } hex[] = {{"0x1234", 0x1234}, {"1234", 0x1234},  {"0XabCd", 0xABCD}, {"12345", 0x2345},
               {"80001234", 0x1234}, {"123456789", 0xFFFF}, {"0x", 0}, {" -1", 0xFFFF}};
    for (auto c : hex) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(write([&] { return RdsUsbWritePIE2p(handle, c.text); }),
                  (Requests{ok(0x68, c.value, 0)}));
    }
}

TEST_F(Writes, EachIntegerFieldItsRequest)
{
    const struct {
        std::function<bool(const char *)> operation;
        uint8_t code;
    } cases[] = {
        {[&](const char *t) { return RdsUsbWriteTP(handle, t, 0x24); }, 0x24},
        {[&](const char *t) { return RdsUsbWriteTA(handle, t, 0x65); }, 0x65},
        {[&](const char *t) { return RdsUsbWriteMS(handle, t, 0x26); }, 0x26},
        {[&](const char *t) { return RdsUsbWriteDI(handle, t, 0x67); }, 0x67},
        {[&](const char *t) { return RdsUsbWriteNAFE2p(handle, t); }, 0x69},
        {[&](const char *t) { return RdsUsbWrite2AE2p(handle, t); }, 0x02},
        {[&](const char *t) { return RdsUsbWriteSTE2p(handle, t); }, 0x03},
    };
    for (const auto &c : cases)
        EXPECT_EQ(write([&] { return c.operation("1"); }), (Requests{ok(c.code, 1, 0)}));
}

TEST_F(Writes, TextWithoutANumberSendsNothing)
{
    const struct {
        std::function<bool(const char *)> operation;
        const char *message;
    } cases[] = {
        {[&](const char *t) { return RdsUsbWritePTY(handle, t, 0x23); }, "Error RdsUsbWritePTY invalid value"},
        {[&](const char *t) { return RdsUsbWriteTP(handle, t, 0x64); }, "Error RdsUsbWriteTP invalid value"},
        {[&](const char *t) { return RdsUsbWriteTA(handle, t, 0x25); }, "Error RdsUsbWriteTA invalid value"},
        {[&](const char *t) { return RdsUsbWriteMS(handle, t, 0x66); }, "Error RdsUsbWriteMS invalid value"},
        {[&](const char *t) { return RdsUsbWriteDI(handle, t, 0x27); }, "Error RdsUsbWriteDI invalid value"},
        {[&](const char *t) { return RdsUsbWritePIE2p(handle, t); }, "Error RdsUsbWritePIE2p invalid value"},
        {[&](const char *t) { return RdsUsbWriteNAFE2p(handle, t); }, "Error RdsUsbWriteNAFE2p invalid value"},
        {[&](const char *t) { return RdsUsbWrite2AE2p(handle, t); }, "Error RdsUsbWrite2AE2p invalid value"},
        {[&](const char *t) { return RdsUsbWriteSTE2p(handle, t); }, "Error RdsUsbWriteSTE2p invalid value"},
    };
    for (const auto &c : cases) {
        for (const char *text : {"", "zz", "-", " +", "x1"}) {
            SCOPED_TRACE(std::string(c.message) + " for '" + text + "'");
            std::string message;
            EXPECT_TRUE(write([&] { return c.operation(text); }, &message).empty());
            EXPECT_EQ(message, c.message);
            EXPECT_FALSE(written);
        }
    }
}

TEST_F(Writes, IntegerFailureMessagesNameTheirCode)
{
    board->addFault({.kind = sim::Fault::Error, .at = 0, .code = 0x63, .error = 32});
    std::string message;
    write([&] { return RdsUsbWritePTY(handle, "5", 0x63); }, &message);
    EXPECT_EQ(message, "Error RdsUsbWritePTY 99 sendUSBVendorCmd -32");
    EXPECT_FALSE(written);
    board->addFault({.kind = sim::Fault::Error, .code = 0x24, .error = 32});
    write([&] { return RdsUsbWriteTP(handle, "1", 0x24); }, &message);
    EXPECT_EQ(message, "Error RdsUsbWriteTP 36 sendUSBVendorCmd -32");
    board->addFault({.kind = sim::Fault::Error, .code = 0x27, .error = 32});
    write([&] { return RdsUsbWriteDI(handle, "1", 0x27); }, &message);
    EXPECT_EQ(message, "Error RdsUsbWriteDIE2p sendUSBVendorCmd -32");
    board->addFault({.kind = sim::Fault::Error, .code = 0x68, .error = 32});
    write([&] { return RdsUsbWritePIE2p(handle, "C201"); }, &message);
    EXPECT_EQ(message, "Error RdsUsbWritePIE2p sendUSBVendorCmd -32");
}

TEST_F(Writes, AlternativeFrequencyRoundingAndRange)
{
    const struct {
        const char *text;
        int index;
        uint16_t code;
    } accepted[] = {
        {"87.6", 0, 1},   {"107.9", 24, 204}, {"98.7", 3, 112}, {" 98.7", 3, 112},
        {"98,7", 3, 105}, {"87.55", 5, 1},    {"107.94", 6, 204}, {"98.74", 1, 112},
        {"98.75", 1, 113}, {"9.85e1", 7, 110}, {"98.5", 7, 110},
    };
    for (auto c : accepted) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(write([&] { return RdsUsbWriteAFE2p(handle, c.text, c.index); }),
                  (Requests{ok(0x6A, c.code, c.index)}));
        EXPECT_TRUE(written);
    }
    for (const char *text : {"87.5", "87.54", "108.0", "107.95", "0", "-98.7", "", "abc", "nan",
                             "inf", "infinity", "-inf", "1e39", "1e400", "99999999999999",
                             "1e-50", "0x62"}) {
        SCOPED_TRACE(text);
        std::string message;
        EXPECT_TRUE(write([&] { return RdsUsbWriteAFE2p(handle, text, 0); }, &message).empty());
        EXPECT_EQ(message, "Error RdsUsbWriteAFE2p invalid freq");
        EXPECT_FALSE(written);
    }
    board->addFault({.kind = sim::Fault::Error, .code = 0x6A, .error = 32});
    std::string message;
    write([&] { return RdsUsbWriteAFE2p(handle, "98.5", 2); }, &message);
    EXPECT_EQ(message, "Error RdsUsbWriteAFE2p sendUSBVendorCmd -32");
    EXPECT_FALSE(written);
}

TEST_F(Writes, ShortReplyIsNoFailure)
{
    board->addFault({.kind = sim::Fault::Short, .code = 0x23, .bytes = 0});
    EXPECT_EQ(write([&] { return RdsUsbWritePTY(handle, "3", 0x23); }),
              (Requests{{0x23, 3, 0, 0}}));
    EXPECT_TRUE(written);
}

TEST_F(Writes, DispatchByFirstWriteCode)
{
    const struct {
        int code;
        Requests sent;
    } cases[] = {
        {0x02, {ok(0x02, 1)}},  {0x03, {ok(0x03, 1)}},  {0x21, {ok(0x21, 0x3100), ok(0x22)}},
        {0x23, {ok(0x23, 1)}},  {0x24, {ok(0x24, 1)}},  {0x25, {ok(0x25, 1)}},
        {0x26, {ok(0x26, 1)}},  {0x27, {ok(0x27, 1)}},  {0x30, rt(0x30, "1")},
        {0x61, {ok(0x61, 0x3100), ok(0x62)}},           {0x63, {ok(0x63, 1)}},
        {0x64, {ok(0x64, 1)}},  {0x65, {ok(0x65, 1)}},  {0x66, {ok(0x66, 1)}},
        {0x67, {ok(0x67, 1)}},  {0x68, {ok(0x68, 1)}},  {0x69, {ok(0x69, 1)}},
        {0x70, rt(0x70, "1")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(write([&] { return RdsUsbWriteDataEdit(handle, c.code, "1"); }), c.sent);
        EXPECT_TRUE(written);
    }
    for (int code : {0x6A, 0x22, 0x04, 0x71, 0x62, 0x3F, 0xA3, 0, -1, 0x171}) {
        SCOPED_TRACE(code);
        std::string message;
        EXPECT_TRUE(write([&] { return RdsUsbWriteDataEdit(handle, code, "1"); }, &message).empty());
        EXPECT_EQ(message, "Error RdsUsbWriteDataEdit invalid WriteCmd:" + std::to_string(code));
        EXPECT_FALSE(written);
    }
}

TEST_F(Writes, ResetIsOneRequest)
{
    EXPECT_EQ(write([&] { return RdsUsbResetE2p(handle); }), (Requests{ok(0x04)}));
    EXPECT_TRUE(written);
    board->addFault({.kind = sim::Fault::Hang, .at = 1, .delayMs = 0});
    board->clearLog();
    std::string message;
    EXPECT_EQ(write([&] { return RdsUsbResetE2p(handle); }, &message).size(), 1u);
    EXPECT_EQ(message, "Error RdsUsbResetE2p sendUSBVendorCmd -110");
    EXPECT_FALSE(written);
}

} // namespace
