#include "FuzzUsb.h"

#include "rds_usb.h"

#include <usb.h>

#include <cstdio>
#include <cstdlib>

namespace {

fuzzusb::Handler handler;

} // namespace

namespace fuzzusb {

void setHandler(Handler h)
{
    handler = std::move(h);
}

void scheduleFaults(sim::Board &board, Input &in, int requests)
{
    for (int n = 1; n <= requests; n++) {
        const uint8_t b = in.byte();
        if (b >= 224) {
            board.addFault({.kind = sim::Fault::Short, .at = n, .bytes = b & 7});
        } else if (b >= 192) {
            static const int errors[] = {32, 110, 19, 32};
            board.addFault({.kind = sim::Fault::Error, .at = n, .error = errors[b & 3]});
        }
    }
}

bool isWriteCode(int code)
{
    return code == RDS_USB_WRITE_2A_E2P || code == RDS_USB_WRITE_ST_E2P ||
           (code >= RDS_USB_WRITE_PS1_RAM && code <= RDS_USB_WRITE_DI_RAM) ||
           (code >= RDS_USB_WRITE_RT_RAM && code <= RDS_USB_WRITE_RT_RAM_LAST) ||
           (code >= RDS_USB_WRITE_PS1_E2P && code <= RDS_USB_WRITE_AF_E2P) ||
           (code >= RDS_USB_WRITE_RT_E2P && code <= RDS_USB_WRITE_RT_E2P_LAST);
}

} // namespace fuzzusb

// The code under test prints its error lines on standard output.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (!freopen("/dev/null", "w", stdout))
        abort();
    return 0;
}

int usb_control_msg(usb_dev_handle *, int requesttype, int request, int value, int index,
                    char *bytes, int size, int timeout)
{
    const bool boardFrame = requesttype == (USB_TYPE_VENDOR | USB_RECIP_DEVICE | USB_ENDPOINT_IN) &&
                            request >= 0 && request <= 0xFF && value >= 0 && value <= 0xFFFF &&
                            index >= 0 && index <= 0xFFFF && size == RDS_USB_REPLY_SIZE &&
                            timeout == 1000 && bytes != nullptr;
    if (!boardFrame || !handler)
        abort();
    return handler(request, value, index, reinterpret_cast<uint8_t *>(bytes));
}
