// The load and the write-back through the real libusb on a simulated board
// served by umockdev in this process, each next to the floor: the bare
// usb_control_msg calls of the same requests on the same stack.
//
// The write-back runs in the real main dialog, made once from its template:
// the texts go into its controls untimed, then the dialog procedure's own OK
// command (ReadNewDataEdit and CheckNewDataEdit) is timed. No event loop runs
// and nothing is painted meanwhile.
//
// Runs under umockdev's preload library; re-executes itself with it when
// started without. Google Benchmark's options apply.
#include "BenchTexts.h"
#include "RdsUsbFields.h"
#include "RdsUsbMain.h"
#include "SimTestbed.h"
#include "resource.h"
#include "usbInterface.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char *Preload = "libumockdev-preload.so.0";
constexpr int VendorIn = USB_TYPE_VENDOR | USB_RECIP_DEVICE | USB_ENDPOINT_IN;

std::shared_ptr<sim::Board> board;
HWND dialog = nullptr;
std::vector<sim::Request> loadRequests;
std::vector<sim::Request> writeRequests[2]; // the two alternating sets of texts

void ReexecWithPreload(char **argv)
{
    const char *current = getenv("LD_PRELOAD");
    if (current && strstr(current, Preload))
        return;
    std::string value = Preload;
    if (current && *current)
        value = std::string(current) + ":" + value;
    setenv("LD_PRELOAD", value.c_str(), 1);
    execv("/proc/self/exe", argv);
    perror("bench_usb: execv");
    exit(2);
}

// What the tool's usbOpenDevice does, bare: scan, open, both strings,
// configuration and interface.
usb_dev_handle *BareOpen()
{
    usb_find_busses();
    usb_find_devices();
    for (struct usb_bus *bus = usb_get_busses(); bus; bus = bus->next) {
        for (struct usb_device *dev = bus->devices; dev; dev = dev->next) {
            if (dev->descriptor.idVendor != sim::boardVendor ||
                dev->descriptor.idProduct != sim::boardProduct)
                continue;
            usb_dev_handle *handle = usb_open(dev);
            char reply[256];
            usb_control_msg(handle, USB_ENDPOINT_IN, USB_REQ_GET_DESCRIPTOR,
                            (USB_DT_STRING << 8) + dev->descriptor.iManufacturer, 0x0409, reply,
                            sizeof(reply), USB_TIMEOUT_MS);
            usb_control_msg(handle, USB_ENDPOINT_IN, USB_REQ_GET_DESCRIPTOR,
                            (USB_DT_STRING << 8) + dev->descriptor.iProduct, 0x0409, reply,
                            sizeof(reply), USB_TIMEOUT_MS);
            usb_set_configuration(handle, 1);
            usb_claim_interface(handle, 0);
            return handle;
        }
    }
    return nullptr;
}

void BareRequests(usb_dev_handle *handle, const std::vector<sim::Request> &requests)
{
    char reply[8];
    for (const sim::Request &r : requests)
        benchmark::DoNotOptimize(usb_control_msg(handle, VendorIn, r.code, r.value, r.index, reply,
                                                 sizeof(reply), USB_TIMEOUT_MS));
}

// Board log check after each timed run: every request answered in full.
bool Answered(benchmark::State &state, size_t expected)
{
    const std::vector<sim::Request> log = board->log();
    bool good = log.size() == expected;
    for (const sim::Request &r : log)
        good = good && r.result == 8;
    if (!good)
        state.SkipWithError(("the board received " + std::to_string(log.size()) +
                             " requests, not all answered in full; expected " +
                             std::to_string(expected))
                                .c_str());
    return good;
}

void CloseBoard()
{
    usbCloseDevice(UsbRDSBoard);
    UsbRDSBoard = nullptr;
}

void LoadTool(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        CloseBoard();
        board->clearLog();
        state.ResumeTiming();
        benchmark::DoNotOptimize(InitDataEdit());
        state.PauseTiming();
        const bool good = Answered(state, loadRequests.size());
        state.ResumeTiming();
        if (!good)
            break;
    }
    state.counters["requests"] = static_cast<double>(loadRequests.size());
}

void LoadFloor(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        CloseBoard();
        board->clearLog();
        state.ResumeTiming();
        UsbRDSBoard = BareOpen();
        BareRequests(UsbRDSBoard, loadRequests);
        state.PauseTiming();
        const bool good = Answered(state, loadRequests.size());
        state.ResumeTiming();
        if (!good)
            break;
    }
    state.counters["requests"] = static_cast<double>(loadRequests.size());
}

// The load's reads alone, on the open board: its 43 read operations.
void ReadsTool(benchmark::State &state)
{
    char text[RDS_USB_TEXT_SIZE];
    for (auto _ : state) {
        state.PauseTiming();
        board->clearLog();
        state.ResumeTiming();
        for (const T_R_FieldDef &field : RdsUsbFields)
            RdsUsbReadField(&field, UsbRDSBoard, text);
        benchmark::ClobberMemory();
        state.PauseTiming();
        const bool good = Answered(state, loadRequests.size());
        state.ResumeTiming();
        if (!good)
            break;
    }
    state.counters["requests"] = static_cast<double>(loadRequests.size());
}

void ReadsFloor(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        board->clearLog();
        state.ResumeTiming();
        BareRequests(UsbRDSBoard, loadRequests);
        state.PauseTiming();
        const bool good = Answered(state, loadRequests.size());
        state.ResumeTiming();
        if (!good)
            break;
    }
    state.counters["requests"] = static_cast<double>(loadRequests.size());
}

// An OK with every field changed: the dialog procedure's OK command.
void WriteBackTool(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        board->clearLog();
        SetChangedTexts(dialog);
        state.ResumeTiming();
        MainDlg(dialog, WM_COMMAND, IDC_BUTTON_OK, 0);
        state.PauseTiming();
        const bool good = Answered(state, writeRequests[0].size());
        state.ResumeTiming();
        if (!good)
            break;
    }
    state.counters["requests"] = static_cast<double>(writeRequests[0].size());
}

void WriteBackFloor(benchmark::State &state)
{
    int which = 0;
    for (auto _ : state) {
        state.PauseTiming();
        board->clearLog();
        state.ResumeTiming();
        BareRequests(UsbRDSBoard, writeRequests[which]);
        which ^= 1;
        state.PauseTiming();
        const bool good = Answered(state, writeRequests[0].size());
        state.ResumeTiming();
        if (!good)
            break;
    }
    state.counters["requests"] = static_cast<double>(writeRequests[0].size());
}

// Records the requests of two OKs writing every field (the two sets of texts).
bool RecordWrites()
{
    for (std::vector<sim::Request> &requests : writeRequests) {
        board->clearLog();
        SetChangedTexts(dialog);
        MainDlg(dialog, WM_COMMAND, IDC_BUTTON_OK, 0);
        requests = board->log();
    }
    board->clearLog();
    return writeRequests[0].size() == writeRequests[1].size() && !writeRequests[0].empty();
}

int exitCode = 0;

INT_PTR CALLBACK BenchDialog(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    const INT_PTR handled = MainDlg(hDlg, message, wParam, lParam);
    if (message != WM_INITDIALOG)
        return handled;
    dialog = hDlg;
    if (!RecordWrites()) {
        fprintf(stderr, "bench_usb: the write-back did not write every field\n");
        exitCode = 1;
    } else {
        benchmark::RegisterBenchmark("load/tool", LoadTool)->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark("load/floor", LoadFloor)->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark("reads/tool", ReadsTool)->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark("reads/floor", ReadsFloor)->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark("writeback/tool", WriteBackTool)->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark("writeback/floor", WriteBackFloor)->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RunSpecifiedBenchmarks();
    }
    EndDialog(hDlg, RDS_USB_DIALOG_QUIT);
    return handled;
}

} // namespace

int main(int argc, char **argv)
{
    ReexecWithPreload(argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;

    sim::Testbed testbed; // before libusb's first scan
    board = testbed.board(testbed.addDevice());
    int qtArgc = 1;
    QApplication application(qtArgc, argv);

    if (InitDataEdit() != 0) {
        fprintf(stderr, "bench_usb: the simulated board could not be opened\n");
        return 1;
    }
    loadRequests = board->log();
    DialogBoxParamA(&ProgramInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, BenchDialog, 0);
    CloseBoard();
    benchmark::Shutdown();
    return exitCode;
}
