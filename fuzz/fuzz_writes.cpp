// Every field write, and the write dispatch with any request code, given any
// text of up to 127 bytes, with the simulated board behind the requests
// failing or answering short where the fuzzer says: the board receives only
// requests of its request set (checked in the board's log), each field's run
// in code order up to the first failure, and an operation reports success
// exactly when its whole run went through.
#include "FuzzUsb.h"
#include "RdsUsbDriver.h"
#include "rds_usb.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct Run {
    int firstCode; // 0: none (a text refused, or a code that names no field)
    int length;
};

// The run of requests a write request code starts.
Run runOf(int code)
{
    switch (code) {
    case RDS_USB_WRITE_PS1_RAM:
    case RDS_USB_WRITE_PS1_E2P: return {code, 2};
    case RDS_USB_WRITE_RT_RAM:
    case RDS_USB_WRITE_RT_E2P: return {code, 16};
    case RDS_USB_WRITE_2A_E2P:
    case RDS_USB_WRITE_ST_E2P:
    case RDS_USB_WRITE_PI_E2P:
    case RDS_USB_WRITE_NAF_E2P: return {code, 1};
    default:
        if ((code >= RDS_USB_WRITE_PTY_RAM && code <= RDS_USB_WRITE_DI_RAM) ||
            (code >= RDS_USB_WRITE_PTY_E2P && code <= RDS_USB_WRITE_DI_E2P))
            return {code, 1};
        return {0, 0};
    }
}

using Number = bool (*)(usb_dev_handle *, const char *, int);
const Number numbers[] = {RdsUsbWritePTY, RdsUsbWriteTP, RdsUsbWriteTA, RdsUsbWriteMS,
                          RdsUsbWriteDI};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (!freopen("/dev/null", "w", stdout)) // the writes' error lines
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzusb::Input in(data, size);
    const int op = in.byte() % 15;
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

    const int selectDest = (arg & 1 ? RDS_USB_WRITE_PTY_E2P : RDS_USB_WRITE_PTY_RAM) + (op - 4);
    const int indexAF = arg % RDS_USB_AF_COUNT;
    bool ok = false;
    int code = 0; // the first request code the operation sends
    switch (op) {
    case 0: ok = RdsUsbWritePSRam(nullptr, t); code = RDS_USB_WRITE_PS1_RAM; break;
    case 1: ok = RdsUsbWritePSE2p(nullptr, t); code = RDS_USB_WRITE_PS1_E2P; break;
    case 2: ok = RdsUsbWriteRTRam(nullptr, t); code = RDS_USB_WRITE_RT_RAM; break;
    case 3: ok = RdsUsbWriteRTE2p(nullptr, t); code = RDS_USB_WRITE_RT_E2P; break;
    case 4: case 5: case 6: case 7: case 8:
        ok = numbers[op - 4](nullptr, t, selectDest);
        code = selectDest;
        break;
    case 9: ok = RdsUsbWritePIE2p(nullptr, t); code = RDS_USB_WRITE_PI_E2P; break;
    case 10: ok = RdsUsbWriteNAFE2p(nullptr, t); code = RDS_USB_WRITE_NAF_E2P; break;
    case 11: ok = RdsUsbWriteAFE2p(nullptr, t, indexAF); code = RDS_USB_WRITE_AF_E2P; break;
    case 12: ok = RdsUsbWrite2AE2p(nullptr, t); code = RDS_USB_WRITE_2A_E2P; break;
    case 13: ok = RdsUsbWriteSTE2p(nullptr, t); code = RDS_USB_WRITE_ST_E2P; break;
    case 14: ok = RdsUsbWriteDataEdit(nullptr, writeCmd, t); code = writeCmd; break;
    }

    const std::vector<sim::Request> log = board.log();
    for (const sim::Request &r : log)
        fuzzusb::check(fuzzusb::isWriteCode(r.code));
    const Run run = op == 11 ? Run{code, 1} : runOf(code);
    fuzzusb::check(static_cast<int>(log.size()) <= run.length);
    for (size_t k = 0; k < log.size(); k++) {
        fuzzusb::check(log[k].code == run.firstCode + static_cast<int>(k));
        fuzzusb::check(log[k].result >= 0 || k + 1 == log.size());
    }
    const bool whole = static_cast<int>(log.size()) == run.length && run.length > 0 &&
                       log.back().result >= 0;
    fuzzusb::check(ok == whole);

    if (op == 11 && !log.empty()) {
        fuzzusb::check(log[0].value >= RDS_USB_AF_CODE_MIN && log[0].value <= RDS_USB_AF_CODE_MAX);
        fuzzusb::check(log[0].index == indexAF);
    }
    // A text field written whole: the board holds the text, cut and padded.
    if (ok && (run.length == 2 || run.length == 16)) {
        const bool ps = run.length == 2;
        const bool eeprom = code >= RDS_USB_WRITE_PS1_E2P;
        const sim::RdsData store = eeprom ? static_cast<sim::RdsData>(board.eeprom()) : board.ram();
        const size_t n = ps ? RDS_USB_PS_LENGTH : RDS_USB_RT_LENGTH;
        std::string expected(t, std::min(std::strlen(t), n));
        expected.resize(n, ps ? '\0' : '\r');
        fuzzusb::check(std::memcmp(ps ? store.ps : store.rt, expected.data(), n) == 0);
    }
    return 0;
}
