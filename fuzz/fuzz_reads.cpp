// Every field read, each of its requests answered with the fuzzer's reply
// bytes and the fuzzer's result (a byte count, possibly short or beyond the
// buffer, or an error): the reads stay inside the 8-byte reply buffer and the
// 65-byte text, send the field's requests in code order up to the first
// failure, succeed exactly when none failed, and leave the text terminated.
#include "FuzzUsb.h"
#include "RdsUsbDriver.h"
#include "rds_usb.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using Plain = bool (*)(usb_dev_handle *, char *);
struct Read {
    Plain read;
    int firstCode, length;
};
const Read reads[] = {
    {RdsUsbReadPSRam, RDS_USB_READ_PS1_RAM, 2}, {RdsUsbReadRTRam, RDS_USB_READ_RT_RAM, 16},
    {RdsUsbReadPSE2p, RDS_USB_READ_PS1_E2P, 2}, {RdsUsbReadRTE2p, RDS_USB_READ_RT_E2P, 16},
    {RdsUsbReadPIE2p, RDS_USB_READ_PI_E2P, 1},  {RdsUsbReadNAFE2p, RDS_USB_READ_NAF_E2P, 1},
    {RdsUsbRead2AE2p, RDS_USB_READ_2A_E2P, 1},  {RdsUsbReadSTE2p, RDS_USB_READ_ST_E2P, 1},
    {nullptr, RDS_USB_READ_AF_E2P, 1},          {nullptr, 0, 1}, // AF n; PTY TP TA MS DI
};
const int selectDests[] = {0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzusb::Input in(data, size);
    const size_t which = in.byte() % 10;
    const Read &read = reads[which];
    const int af = in.byte() % RDS_USB_AF_COUNT, selectDest = selectDests[in.byte() % 10];
    const int firstCode = which == 9 ? selectDest : read.firstCode;

    std::vector<int> codes, values, results;
    fuzzusb::setHandler([&](int request, int value, int index, uint8_t *reply) {
        // One byte: a count of 0 to 127 or an error of -1 to -127; 0x80: any int.
        const uint8_t r = in.byte();
        const int result = r == 0x80 ? in.int32() : static_cast<int8_t>(r);
        for (int i = 0; i < std::min(result, 8); i++)
            reply[i] = in.byte();
        codes.push_back(request);
        values.push_back(value | index << 16);
        results.push_back(result);
        return result;
    });
    std::vector<char> text(65, '#'); // the least a read's text buffer holds
    const bool ok = which == 8   ? RdsUsbReadAFE2p(nullptr, text.data(), af)
                    : which == 9 ? RdsUsbReadPTY_TP_TA_MS_DI(nullptr, text.data(), selectDest)
                                 : read.read(nullptr, text.data());

    fuzzusb::check(!codes.empty() && codes.size() <= static_cast<size_t>(read.length));
    for (size_t k = 0; k < codes.size(); k++) {
        fuzzusb::check(codes[k] == firstCode + static_cast<int>(k));
        fuzzusb::check(values[k] == (which == 8 ? af : 0));
        fuzzusb::check(results[k] >= 0 || k + 1 == codes.size());
    }
    const bool failed = results.back() < 0;
    fuzzusb::check(ok == (!failed && codes.size() == static_cast<size_t>(read.length)));
    fuzzusb::check(!ok || std::memchr(text.data(), 0, text.size()) != nullptr);
    return 0;
}
