#include "ProgramSpy.h"

#include "QtPlatform.h"

#include <usb.h>

namespace spy {

std::vector<Box> boxes;
bool failClassRegistration = false;
int boardCloses = 0;

void reset()
{
    boxes.clear();
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

int __wrap__Z11MessageBoxAP6HWND__PKcS2_j(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    spy::boxes.push_back({platform::WidgetOf(owner), text ? text : "", caption ? caption : "", type});
    return __real__Z11MessageBoxAP6HWND__PKcS2_j(owner, text, caption, type);
}

ATOM __wrap__Z16RegisterClassExAPK11WNDCLASSEXA(const WNDCLASSEXA *windowClass)
{
    return spy::failClassRegistration ? 0 : __real__Z16RegisterClassExAPK11WNDCLASSEXA(windowClass);
}

int __wrap_usb_close(usb_dev_handle *handle)
{
    ++spy::boardCloses;
    return __real_usb_close(handle);
}
}
