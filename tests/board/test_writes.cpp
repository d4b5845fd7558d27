// Field writes to a simulated board through the real libusb: the exact
// requests each display text turns into, what is refused, and the message
// of each failure.
#include "RdsUsbDriver.h"
#include "SimFixture.h"

namespace {

class Writes : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        open();
    }
    // Writes `text` to the field of write code `code` (0x6A: AF `af`; 0x04:
    // the EEPROM reset) as the field table does; the requests it sent.
    Requests write(int code, const std::string &text, int af = 0)
    {
        board->clearLog();
        message = stdoutOf([&] {
            written = code == 0x6A   ? RdsUsbWriteAFE2p(handle, text.c_str(), af)
                      : code == 0x04 ? RdsUsbResetE2p(handle)
                                     : RdsUsbWriteDataEdit(handle, code, text.c_str());
        });
        return log();
    }
    bool written = false;
    std::string message;
};

// Two characters per 16 bits, the earlier one high; a shorter PS name after a
// longer one sends zeros; numbers read as "%d" and the PI code as "%X" would.
TEST_F(Writes, EachFieldsTextBecomesItsRequests)
{
    const struct {
        int code;
        std::string text;
        Requests sent;
        // clang-format off
    } cases[] = {
        {0x21, "ABCDEFGHIJ", {ok(0x21, 0x4142, 0x4344), ok(0x22, 0x4546, 0x4748)}},
        {0x21, "TEST", {ok(0x21, 0x5445, 0x5354), ok(0x22, 0, 0)}},
        {0x61, "A\xE9", {ok(0x61, 0x41E9, 0), ok(0x62, 0, 0)}}, // bytes above 127 keep their value
        {0x30, "HELLO", textWrite(0x30, "HELLO")}, {0x70, "", textWrite(0x70, "")},
        {0x30, std::string(70, 'z'), textWrite(0x30, std::string(64, 'z'))},
        {0x30, "END   ", textWrite(0x30, "END   ")},
        {0x04, "", {ok(0x04)}},
        {0x23, " 12", {ok(0x23, 12)}},   {0x23, "12abc", {ok(0x23, 12)}}, {0x23, "1.5", {ok(0x23, 1)}},
        {0x23, "0x10", {ok(0x23, 0)}},   {0x23, "-1", {ok(0x23, 0xFFFF)}}, {0x23, "+7", {ok(0x23, 7)}},
        {0x23, "65537", {ok(0x23, 1)}},  {0x23, "007", {ok(0x23, 7)}},
        {0x23, "99999999999", {ok(0x23, 0xFFFF)}}, {0x23, "-99999999999", {ok(0x23, 0)}},
        {0x68, "0x1234", {ok(0x68, 0x1234)}}, {0x68, "0XabCd", {ok(0x68, 0xABCD)}},
        {0x68, "12345", {ok(0x68, 0x2345)}},  {0x68, "80001234", {ok(0x68, 0x1234)}},
        {0x68, "123456789", {ok(0x68, 0xFFFF)}}, {0x68, "0x", {ok(0x68, 0)}},
        {0x68, " -1", {ok(0x68, 0xFFFF)}},
    };
    // clang-format on
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + " \"" + c.text + "\"");
        EXPECT_EQ(write(c.code, c.text), c.sent);
        EXPECT_TRUE(written);
        EXPECT_EQ(message, "");
    }
    for (int code :
         {0x02, 0x03, 0x23, 0x24, 0x25, 0x26, 0x27, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69}) {
        EXPECT_EQ(write(code, "1"), Requests{ok(code, 1)}) << code;
        EXPECT_TRUE(written);
    }
}

// An AF rounded to tenths within 87.6-107.9 MHz, its number in wIndex; any
// other text sends nothing.
TEST_F(Writes, AlternativeFrequencyRoundedToTenthsWithinTheBand)
{
    const struct {
        const char *text;
        int index, code;
    } accepted[] = {
        {"87.6", 0, 1},    {"107.9", 24, 204}, {"98.7", 3, 112},   {" 98.7", 3, 112},
        {"98,7", 3, 105},  {"87.55", 5, 1},    {"107.94", 6, 204}, {"98.74", 1, 112},
        {"98.75", 1, 113}, {"9.85e1", 7, 110}, {"98", 7, 105},
    };
    for (auto c : accepted) {
        EXPECT_EQ(write(0x6A, c.text, c.index), (Requests{ok(0x6A, c.code, c.index)})) << c.text;
        EXPECT_TRUE(written);
    }
    for (const char *text : {"87.5", "87.54", "108.0", "107.95", "0", "-98.7", "", "abc", "nan",
                             "inf", "-inf", "1e39", "1e400", "99999999999999", "1e-50", "0x62"}) {
        EXPECT_TRUE(write(0x6A, text).empty()) << text;
        EXPECT_EQ(message, "Error RdsUsbWriteAFE2p invalid freq");
        EXPECT_FALSE(written);
    }
}

// A text without a number, or a code that names no field, sends nothing.
TEST_F(Writes, TextWithoutANumberOrAnUnknownCodeSendsNothing)
{
    const std::pair<int, const char *> fields[] = {
        {0x23, "RdsUsbWritePTY"},    {0x64, "RdsUsbWriteTP"},    {0x25, "RdsUsbWriteTA"},
        {0x66, "RdsUsbWriteMS"},     {0x27, "RdsUsbWriteDI"},    {0x68, "RdsUsbWritePIE2p"},
        {0x69, "RdsUsbWriteNAFE2p"}, {0x02, "RdsUsbWrite2AE2p"}, {0x03, "RdsUsbWriteSTE2p"},
    };
    for (auto [code, name] : fields) {
        for (const char *text : {"", "zz", "-", " +", "x1"}) {
            EXPECT_TRUE(write(code, text).empty()) << name << " '" << text << "'";
            EXPECT_EQ(message, std::string("Error ") + name + " invalid value");
            EXPECT_FALSE(written);
        }
    }
    for (int code : {0x6A, 0x22, 0x04, 0x71, 0x62, 0x3F, 0xA3, 0, -1, 0x171}) {
        board->clearLog();
        message = stdoutOf([&] { written = RdsUsbWriteDataEdit(handle, code, "1"); });
        EXPECT_TRUE(log().empty()) << code;
        EXPECT_EQ(message, "Error RdsUsbWriteDataEdit invalid WriteCmd:" + std::to_string(code));
        EXPECT_FALSE(written);
    }
}

// A failed request: its message, and nothing more sent for the field. A
// short reply is no failure.
TEST_F(Writes, EachFailureHasItsMessage)
{
    const struct {
        int code, failing;
        const char *message;
        size_t sent;
    } cases[] = {
        {0x21, 0x21, "Error RdsUsbWritePSRam sendUSBVendorCmd -32", 1},
        {0x21, 0x22, "Error RdsUsbWritePSRam (2) sendUSBVendorCmd -32", 2},
        {0x61, 0x61, "Error RdsUsbWritePSE2p sendUSBVendorCmd -32", 1},
        {0x61, 0x62, "Error RdsUsbWritePSE2p (2) sendUSBVendorCmd -32", 2},
        {0x30, 0x33, "Error RdsUsbWriteRTRam sendUSBVendorCmd -32", 4},
        {0x70, 0x73, "Error sendUSBVendorCmd -32", 4},
        {0x23, 0x23, "Error RdsUsbWritePTY 35 sendUSBVendorCmd -32", 1},
        {0x63, 0x63, "Error RdsUsbWritePTY 99 sendUSBVendorCmd -32", 1},
        {0x24, 0x24, "Error RdsUsbWriteTP 36 sendUSBVendorCmd -32", 1},
        {0x64, 0x64, "Error RdsUsbWriteTP 100 sendUSBVendorCmd -32", 1},
        {0x25, 0x25, "Error RdsUsbWriteTA 37 sendUSBVendorCmd -32", 1},
        {0x65, 0x65, "Error RdsUsbWriteTA 101 sendUSBVendorCmd -32", 1},
        {0x26, 0x26, "Error RdsUsbWriteMS 38 sendUSBVendorCmd -32", 1},
        {0x66, 0x66, "Error RdsUsbWriteMS 102 sendUSBVendorCmd -32", 1},
        {0x27, 0x27, "Error RdsUsbWriteDIE2p sendUSBVendorCmd -32", 1},
        {0x67, 0x67, "Error RdsUsbWriteDIE2p sendUSBVendorCmd -32", 1},
        {0x68, 0x68, "Error RdsUsbWritePIE2p sendUSBVendorCmd -32", 1},
        {0x69, 0x69, "Error RdsUsbWriteNAFE2p sendUSBVendorCmd -32", 1},
        {0x6A, 0x6A, "Error RdsUsbWriteAFE2p sendUSBVendorCmd -32", 1},
        {0x02, 0x02, "Error RdsUsbWrite2AE2p sendUSBVendorCmd -32", 1},
        {0x03, 0x03, "Error RdsUsbWriteSTE2p sendUSBVendorCmd -32", 1},
        {0x04, 0x04, "Error RdsUsbResetE2p sendUSBVendorCmd -32", 1},
    };
    for (const auto &c : cases) {
        board->clearFaults();
        board->addFault({.kind = sim::Fault::Error, .code = c.failing, .error = 32});
        const Requests sent = write(c.code, c.code == 0x6A ? "98.5" : "1");
        EXPECT_EQ(message, c.message);
        EXPECT_FALSE(written) << c.message;
        ASSERT_EQ(sent.size(), c.sent) << c.message;
        EXPECT_EQ(sent.back().result, -32);
    }
    board->clearFaults();
    board->addFault({.kind = sim::Fault::Hang, .at = 1, .delayMs = 0});
    write(0x69, "3");
    EXPECT_EQ(message, "Error RdsUsbWriteNAFE2p sendUSBVendorCmd -110");
    board->clearFaults();
    board->addFault({.kind = sim::Fault::Short, .code = 0x23, .bytes = 0});
    EXPECT_EQ(write(0x23, "3"), (Requests{{0x23, 3, 0, 0}}));
    EXPECT_TRUE(written);
}

} // namespace
