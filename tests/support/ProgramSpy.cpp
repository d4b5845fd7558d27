#include "ProgramSpy.h"

#include "QtPlatform.h"

#include <usb.h>

#include <set>

namespace spy {

std::vector<Box> boxes;
std::function<int(const Box &)> answer;
bool failClassRegistration = false;
int boardCloses = 0;
static std::set<usb_dev_handle *> closed; // and not opened again

void reset()
{
    boxes.clear();
    answer = nullptr;
    failClassRegistration = false;
    boardCloses = 0;
}

} // namespace spy

// The symbols of MessageBoxA(HWND, LPCSTR, LPCSTR, UINT) and
// RegisterClassExA(const WNDCLASSEXA *).
extern "C" {
int __real__Z11MessageBoxAP6HWND__PKcS2_j(HWND, LPCSTR, LPCSTR, UINT);
ATOM __real__Z16RegisterClassExAPK11WNDCLASSEXA(const WNDCLASSEXA *);
int __real_usb_close(usb_dev_handle *);
usb_dev_handle *__real_usb_open(struct usb_device *);

int __wrap__Z11MessageBoxAP6HWND__PKcS2_j(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    spy::boxes.push_back(
        {platform::WidgetOf(owner), text ? text : "", caption ? caption : "", type});
    return spy::answer ? spy::answer(spy::boxes.back())
                       : __real__Z11MessageBoxAP6HWND__PKcS2_j(owner, text, caption, type);
}

ATOM __wrap__Z16RegisterClassExAPK11WNDCLASSEXA(const WNDCLASSEXA *windowClass)
{
    return spy::failClassRegistration ? 0 : __real__Z16RegisterClassExAPK11WNDCLASSEXA(windowClass);
}

usb_dev_handle *__wrap_usb_open(struct usb_device *device)
{
    usb_dev_handle *handle = __real_usb_open(device);
    spy::closed.erase(handle);
    return handle;
}

// A handle closed a second time is counted, not passed on to libusb.
int __wrap_usb_close(usb_dev_handle *handle)
{
    ++spy::boardCloses;
    return spy::closed.insert(handle).second ? __real_usb_close(handle) : 0;
}
}
