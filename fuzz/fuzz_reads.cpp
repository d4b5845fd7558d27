// Every field read, each of its requests answered with the fuzzer's reply
// bytes and the fuzzer's result (a byte count, possibly short or beyond the
// buffer, or an error): the reads stay inside the 8-byte reply buffer and the
// 65-byte text, send the field's requests in order up to the first failure,
// and show exactly what the reply buffer held in the field's display form.
#include "FuzzUsb.h"
#include "RdsUsbDriver.h"
#include "rds_usb.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int TextSize = 65; // the least a read's text buffer holds

struct Sent {
    int request, value, index, result;
    std::array<uint8_t, 8> seen; // the reply buffer after the transfer
};

enum Kind { PS, RT, Byte, PI, AF };

struct Read {
    Kind kind;
    int firstCode;
    bool (*plain)(usb_dev_handle *, char *);
    bool (*withArg)(usb_dev_handle *, char *, int);
};

const Read reads[] = {
    {PS, RDS_USB_READ_PS1_RAM, RdsUsbReadPSRam, nullptr},
    {RT, RDS_USB_READ_RT_RAM, RdsUsbReadRTRam, nullptr},
    {Byte, 0, nullptr, RdsUsbReadPTY_TP_TA_MS_DI},
    {PS, RDS_USB_READ_PS1_E2P, RdsUsbReadPSE2p, nullptr},
    {RT, RDS_USB_READ_RT_E2P, RdsUsbReadRTE2p, nullptr},
    {PI, RDS_USB_READ_PI_E2P, RdsUsbReadPIE2p, nullptr},
    {Byte, RDS_USB_READ_NAF_E2P, RdsUsbReadNAFE2p, nullptr},
    {AF, RDS_USB_READ_AF_E2P, nullptr, RdsUsbReadAFE2p},
    {Byte, RDS_USB_READ_2A_E2P, RdsUsbRead2AE2p, nullptr},
    {Byte, RDS_USB_READ_ST_E2P, RdsUsbReadSTE2p, nullptr},
};

const int selectDests[] = {0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7};

// The display text of one request's reply, as the field shows it.
std::string shown(Kind kind, const std::array<uint8_t, 8> &b)
{
    char text[16];
    switch (kind) {
    case PS: return std::string(reinterpret_cast<const char *>(b.data()), 4);
    case RT: {
        std::string t;
        for (int i = 0; i < 4; i++)
            t += b[i] < 0x20 ? ' ' : static_cast<char>(b[i]);
        return t;
    }
    case Byte: return std::to_string(b[0]);
    case PI: snprintf(text, sizeof text, "0x%04X", b[0] * 256 + b[1]); return text;
    case AF: snprintf(text, sizeof text, "%5.1f", (b[0] + 875) / 10.0); return text;
    }
    return {};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (!freopen("/dev/null", "w", stdout)) // the reads' error lines
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzusb::Input in(data, size);
    const Read &read = reads[in.byte() % 10];
    const int arg = read.kind == AF ? in.byte() % RDS_USB_AF_COUNT : selectDests[in.byte() % 10];
    const int firstCode = read.withArg && read.kind == Byte ? arg : read.firstCode;

    // Earlier requests leave their bytes in the reply buffer: fill it first,
    // with a full reply of the fuzzer's, so that every run starts alike.
    fuzzusb::setHandler([&](int, int, int, uint8_t *reply) {
        for (int i = 0; i < 8; i++)
            reply[i] = in.byte();
        return 8;
    });
    char scratch[TextSize];
    RdsUsbReadSTE2p(nullptr, scratch);

    std::vector<Sent> sent;
    fuzzusb::setHandler([&](int request, int value, int index, uint8_t *reply) {
        // One byte: a count of 0 to 127 or an error of -1 to -127; 0x80: any int.
        const uint8_t r = in.byte();
        const int result = r == 0x80 ? in.int32() : static_cast<int8_t>(r);
        uint8_t bytes[8];
        for (uint8_t &b : bytes)
            b = in.byte();
        if (result > 0)
            std::memcpy(reply, bytes, std::min(result, 8));
        Sent s{request, value, index, result, {}};
        std::memcpy(s.seen.data(), reply, 8);
        sent.push_back(s);
        return result;
    });


    std::vector<char> text(TextSize, '#');
    text[0] = 0; // as the load leaves a row before reading it
    const bool ok = read.plain ? read.plain(nullptr, text.data())
                               : read.withArg(nullptr, text.data(), arg);

    // The requests: the field's run in code order, up to the first failure.
    const size_t runLength = read.kind == PS ? 2 : read.kind == RT ? 16 : 1;
    fuzzusb::check(!sent.empty() && sent.size() <= runLength);
    for (size_t k = 0; k < sent.size(); k++) {
        fuzzusb::check(sent[k].request == firstCode + static_cast<int>(k));
        fuzzusb::check(sent[k].value == (read.kind == AF ? arg : 0) && sent[k].index == 0);
        fuzzusb::check(sent[k].result >= 0 || k + 1 == sent.size());
    }
    const bool failed = sent.back().result < 0;
    fuzzusb::check(ok == !failed && (failed || sent.size() == runLength));

    // The text: what each successful reply left in the buffer, terminated.
    std::string expected;
    for (const Sent &s : sent)
        if (s.result >= 0)
            expected += shown(read.kind, s.seen);
    if (expected.empty()) {
        fuzzusb::check(text[0] == 0 && text[1] == '#'); // untouched
    } else {
        fuzzusb::check(std::memcmp(text.data(), expected.data(), expected.size()) == 0);
        fuzzusb::check(text[expected.size()] == 0);
    }
    return 0;
}
