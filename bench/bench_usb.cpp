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
#include "Preload.h"
#include "RdsUsbFields.h"
#include "RdsUsbMain.h"
#include "SimTestbed.h"
#include "resource.h"
#include "usbInterface.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int VendorIn = USB_TYPE_VENDOR | USB_RECIP_DEVICE | USB_ENDPOINT_IN;

std::shared_ptr<sim::Board> board;
HWND dialog = nullptr;
std::vector<sim::Request> loadRequests;
std::vector<sim::Request> writeRequests[2]; // the two alternating sets of texts

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

// One thing the tool does and its floor: an untimed set-up before each run,
// then the tool's way or the bare requests.
struct Case {
    void (*prepare)(bool tool);
    void (*tool)();
    void (*floor)();
    const std::vector<sim::Request> *requests;
};

int nextWrite = 0;

const Case Load = {
    [](bool) {
        CloseBoard();
        board->clearLog();
    },
    [] { benchmark::DoNotOptimize(InitDataEdit()); },
    [] {
        UsbRDSBoard = BareOpen();
        BareRequests(UsbRDSBoard, loadRequests);
    },
    &loadRequests,
};

// The load's reads alone, on the open board: its 43 read operations.
const Case Reads = {
    [](bool) { board->clearLog(); },
    [] {
        char text[RDS_USB_TEXT_SIZE];
        for (const T_R_FieldDef &field : RdsUsbFields)
            RdsUsbReadField(&field, UsbRDSBoard, text);
        benchmark::DoNotOptimize(text);
    },
    [] { BareRequests(UsbRDSBoard, loadRequests); },
    &loadRequests,
};

// An OK with every field changed: the dialog procedure's OK command.
const Case WriteBack = {
    [](bool tool) {
        board->clearLog();
        if (tool)
            SetChangedTexts(dialog);
    },
    [] { MainDlg(dialog, WM_COMMAND, IDC_BUTTON_OK, 0); },
    [] {
        BareRequests(UsbRDSBoard, writeRequests[nextWrite]);
        nextWrite ^= 1;
    },
    &writeRequests[0],
};

// The tool's way (tool) or the floor alone.
void Alone(benchmark::State &state, const Case &c, bool tool)
{
    for (auto _ : state) {
        state.PauseTiming();
        c.prepare(tool);
        state.ResumeTiming();
        (tool ? c.tool : c.floor)();
        state.PauseTiming();
        const bool good = Answered(state, c.requests->size());
        state.ResumeTiming();
        if (!good)
            break;
    }
    state.counters["requests"] = static_cast<double>(c.requests->size());
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The tool and the floor in turn, each timed on its own, the order swapped
// every iteration: the ratio of each pair, taken moments apart, cancels much
// of a busy machine's drift. Counters: the medians of the tool's time, the
// floor's and the pairs' ratios. The iteration's time is the pair's.
void Paired(benchmark::State &state, const Case &c)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> tools, floors, ratios;
    bool toolFirst = true;
    for (auto _ : state) {
        double seconds[2] = {}; // tool, floor
        for (int k = 0; k < 2; k++) {
            const bool tool = (k == 0) == toolFirst;
            c.prepare(tool);
            const Clock::time_point start = Clock::now();
            (tool ? c.tool : c.floor)();
            seconds[tool ? 0 : 1] = std::chrono::duration<double>(Clock::now() - start).count();
            if (!Answered(state, c.requests->size()))
                return;
        }
        toolFirst = !toolFirst;
        state.SetIterationTime(seconds[0] + seconds[1]);
        tools.push_back(seconds[0]);
        floors.push_back(seconds[1]);
        ratios.push_back(seconds[0] / seconds[1]);
    }
    state.counters["requests"] = static_cast<double>(c.requests->size());
    state.counters["tool_ms"] = Median(tools) * 1e3;
    state.counters["floor_ms"] = Median(floors) * 1e3;
    state.counters["ratio"] = Median(ratios);
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
    // Writing every field takes as many requests as reading every field.
    return writeRequests[0].size() == loadRequests.size() &&
           writeRequests[1].size() == loadRequests.size();
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
        const std::pair<const char *, const Case *> cases[] = {
            {"load", &Load}, {"reads", &Reads}, {"writeback", &WriteBack}};
        for (const auto &[name, c] : cases) {
            const std::string prefix = name;
            benchmark::RegisterBenchmark((prefix + "/tool").c_str(), Alone, *c, true)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
            benchmark::RegisterBenchmark((prefix + "/floor").c_str(), Alone, *c, false)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
            benchmark::RegisterBenchmark((prefix + "/paired").c_str(), Paired, *c)
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime();
        }
        benchmark::RunSpecifiedBenchmarks();
    }
    EndDialog(hDlg, RDS_USB_DIALOG_QUIT);
    return handled;
}

} // namespace

int main(int argc, char **argv)
{
    reexecWithPreload(argv);
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
