// The tool's own work per load and per OK, with libusb replaced by the
// in-process double (sim/UsbDouble.cpp) that answers at once, for
// counting instructions under callgrind:
//
//   bench_instr load|ok COUNT
//
// runs COUNT loads (InitDataEdit, through BenchLoad) or COUNT OKs writing all
// 43 fields (the main dialog's OK command, through BenchOk), each after an
// untimed set-up, and prints what the double received per run. Collect with
// --collect-atstart=no --toggle-collect=BenchLoad (or BenchOk); the double's
// own cost is the inclusive cost of its usb_* functions.
#include "BenchTexts.h"
#include "RdsUsbMain.h"
#include "UsbDouble.h"
#include "resource.h"
#include "usbInterface.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
__attribute__((noinline)) void BenchLoad()
{
    InitDataEdit();
}

__attribute__((noinline)) void BenchOk(HWND hDlg)
{
    MainDlg(hDlg, WM_COMMAND, IDC_BUTTON_OK, 0);
}
}

namespace {

int count = 1;
int exitCode = 0;

void CloseBoard()
{
    usbCloseDevice(UsbRDSBoard);
    UsbRDSBoard = nullptr;
}

// Requests the double received since `before`, vendor requests and others.
void Report(const char *what, size_t before, int runs)
{
    const auto &transfers = usbdouble::calls().transfers;
    size_t vendor = 0, other = 0;
    for (size_t i = before; i < transfers.size(); i++)
        (transfers[i].requestType == (USB_TYPE_VENDOR | USB_RECIP_DEVICE | USB_ENDPOINT_IN)
             ? vendor
             : other)++;
    printf("%s runs=%d vendor_requests_per_run=%g other_requests_per_run=%g\n", what, runs,
           static_cast<double>(vendor) / runs, static_cast<double>(other) / runs);
}

void Loads()
{
    const size_t before = usbdouble::calls().transfers.size();
    for (int i = 0; i < count; i++) {
        CloseBoard();
        BenchLoad();
    }
    Report("load", before, count);
}

INT_PTR CALLBACK OkDialog(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    const INT_PTR handled = MainDlg(hDlg, message, wParam, lParam);
    if (message != WM_INITDIALOG)
        return handled;
    const size_t before = usbdouble::calls().transfers.size();
    for (int i = 0; i < count; i++) {
        SetChangedTexts(hDlg);
        BenchOk(hDlg);
    }
    Report("ok", before, count);
    EndDialog(hDlg, RDS_USB_DIALOG_QUIT);
    return handled;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3 || (strcmp(argv[1], "load") != 0 && strcmp(argv[1], "ok") != 0) ||
        (count = atoi(argv[2])) < 1) {
        fprintf(stderr, "usage: bench_instr load|ok COUNT\n");
        return 2;
    }
    usbdouble::reset({usbdouble::Device{}});
    if (InitDataEdit() != 0) {
        fprintf(stderr, "bench_instr: the double's board could not be opened\n");
        return 1;
    }
    if (strcmp(argv[1], "load") == 0) {
        Loads();
    } else {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        int qtArgc = 1;
        QApplication application(qtArgc, argv);
        DialogBoxParamA(&ProgramInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, OkDialog, 0);
    }
    CloseBoard();
    return exitCode;
}
