// Every field write, and the write dispatch with any request code, given any
// text of up to 127 bytes, with the simulated board behind the requests
// failing or answering short where the fuzzer says: the board receives only
// requests of its request set (checked in the board's log), each field's run
// in code order up to the first failure, and an operation reports success
// exactly when its whole run went through; a text written whole is held by
// the board, cut and padded.
#include "FuzzUsb.h"
#include "RdsUsbDriver.h"
#include "rds_usb.h"

#include <cstring>
#include <memory>
#include <string>

namespace {

// The length of the run of requests a write request code starts; 0: none.
int runOf(int code)
{
    if (code == RDS_USB_WRITE_PS1_RAM || code == RDS_USB_WRITE_PS1_E2P)
        return 2;
    if (code == RDS_USB_WRITE_RT_RAM || code == RDS_USB_WRITE_RT_E2P)
        return 16;
    return code == RDS_USB_WRITE_2A_E2P || code == RDS_USB_WRITE_ST_E2P ||
           (code >= RDS_USB_WRITE_PTY_RAM && code <= RDS_USB_WRITE_DI_RAM) ||
           (code >= RDS_USB_WRITE_PTY_E2P && code <= RDS_USB_WRITE_NAF_E2P);
}

using Number = bool (*)(usb_dev_handle *, const char *, int);
const Number numbers[] = {RdsUsbWritePTY, RdsUsbWriteTP, RdsUsbWriteTA, RdsUsbWriteMS,
                          RdsUsbWriteDI};
using Text = bool (*)(usb_dev_handle *, const char *);
const std::pair<Text, int> texts[] = {
    {RdsUsbWritePSRam, RDS_USB_WRITE_PS1_RAM}, {RdsUsbWritePSE2p, RDS_USB_WRITE_PS1_E2P},
    {RdsUsbWriteRTRam, RDS_USB_WRITE_RT_RAM},  {RdsUsbWriteRTE2p, RDS_USB_WRITE_RT_E2P},
    {RdsUsbWritePIE2p, RDS_USB_WRITE_PI_E2P},  {RdsUsbWriteNAFE2p, RDS_USB_WRITE_NAF_E2P},
    {RdsUsbWrite2AE2p, RDS_USB_WRITE_2A_E2P},  {RdsUsbWriteSTE2p, RDS_USB_WRITE_ST_E2P}};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzusb::Input in(data, size);
    const int op = in.byte() % 15; // texts, numbers, AF, any code
    const uint8_t arg = in.byte();
    const int writeCmd = op == 14 ? in.int32() : 0;
    sim::Board board;
    fuzzusb::scheduleFaults(board, in, in.byte() % 17);
    fuzzusb::setHandler([&](int request, int value, int index, uint8_t *reply) {
        return board.handle(static_cast<uint8_t>(request), static_cast<uint16_t>(value),
                            static_cast<uint16_t>(index), reply, RDS_USB_REPLY_SIZE);
    });
    // The text, in a buffer of exactly its size.
    const size_t length = std::min<size_t>(in.left(), 127);
    std::unique_ptr<char[]> text(new char[length + 1]);
    std::memcpy(text.get(), in.rest(), length);
    text[length] = 0;
    const char *t = text.get();

    const int selectDest = (arg & 1 ? RDS_USB_WRITE_PTY_E2P : RDS_USB_WRITE_PTY_RAM) + (op - 8);
    const int indexAF = arg % RDS_USB_AF_COUNT;
    bool ok = false;
    int code = writeCmd; // the first request code the operation sends
    if (op < 8)
        ok = texts[op].first(nullptr, t), code = texts[op].second;
    else if (op < 13)
        ok = numbers[op - 8](nullptr, t, selectDest), code = selectDest;
    else if (op == 13)
        ok = RdsUsbWriteAFE2p(nullptr, t, indexAF), code = RDS_USB_WRITE_AF_E2P;
    else
        ok = RdsUsbWriteDataEdit(nullptr, writeCmd, t);

    const std::vector<sim::Request> log = board.log();
    const int run = op == 13 ? 1 : runOf(code);
    fuzzusb::check(static_cast<int>(log.size()) <= run);
    for (size_t k = 0; k < log.size(); k++) {
        fuzzusb::check(fuzzusb::isWriteCode(log[k].code));
        fuzzusb::check(log[k].code == code + static_cast<int>(k));
        fuzzusb::check(log[k].result >= 0 || k + 1 == log.size());
    }
    fuzzusb::check(ok ==
                   (static_cast<int>(log.size()) == run && run > 0 && log.back().result >= 0));
    if (op == 13 && !log.empty())
        fuzzusb::check(log[0].value >= RDS_USB_AF_CODE_MIN && log[0].value <= RDS_USB_AF_CODE_MAX &&
                       log[0].index == indexAF);
    if (ok && (run == 2 || run == 16)) {
        const bool ps = run == 2;
        const sim::RdsData store =
            code >= RDS_USB_WRITE_PS1_E2P ? static_cast<sim::RdsData>(board.eeprom()) : board.ram();
        const size_t n = ps ? RDS_USB_PS_LENGTH : RDS_USB_RT_LENGTH;
        std::string expected(t, std::min(std::strlen(t), n));
        expected.resize(n, ps ? '\0' : '\r');
        fuzzusb::check(std::memcmp(ps ? store.ps : store.rt, expected.data(), n) == 0);
    }
    return 0;
}
