// The load, alone; then the load, and OK in the real dialog with every field
// changed, on a board that fails one of their 75 requests, for each of them
// and each kind of fault. A failed request ends its field: the load goes on
// with the next row, or fails at once when the board is gone, and leaves the
// field as far as it was read; OK leaves exactly the failed rows pending and
// names them, the controls keep the typed texts, and the next OK once the
// fault is gone writes exactly the pending rows. A short reply is no failure.
#include "QtDriver.h"
#include "RdsUsbFields.h"
#include "RdsUsbMain.h"
#include "SimFixture.h"
#include "resource.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

using Texts = std::vector<std::string>;

enum class Kind { Stall, Timeout, Short, Unplug };
const char *const KindNames[] = {"Stall", "Timeout", "ShortReply", "Unplug"};

// How many requests a row of the field table takes to move whole: the PS
// names 2, the RadioTexts 16, every other field 1.
int requestsOfRow(int row) { return row == 0 || row == 7 ? 2 : row == 1 || row == 8 ? 16 : 1; }

// The fault at the board's request number `at`, and the result the host
// sees for it: a stall and a time-out (without its delay) fail only that
// request, a short reply carries 0 to 3 bytes, an unplug fails it and every
// later one.
sim::Fault faultAt(Kind kind, int at)
{
    const sim::Fault faults[] = {{.at = at, .error = EPIPE},
                                 {.at = at, .error = ETIMEDOUT},
                                 {.kind = sim::Fault::Short, .at = at, .bytes = at % 4},
                                 {.kind = sim::Fault::Unplug, .at = at}};
    return faults[static_cast<int>(kind)];
}
int faultResult(Kind kind, int at)
{
    const int results[] = {-EPIPE, -ETIMEDOUT, at % 4, -ENODEV};
    return results[static_cast<int>(kind)];
}

// A fault-free run's requests, row by row.
std::vector<Requests> byRow(const Requests &sent)
{
    std::vector<Requests> rows;
    for (auto it = sent.begin(); rows.size() < 43 && sent.end() - it >= requestsOfRow(rows.size());)
        rows.emplace_back(it, it + requestsOfRow(rows.size())), it += rows.back().size();
    return rows;
}

// That run with its request `failing` (from 1), the board's request `at`,
// failing with `kind`: a failed request ends its row's requests.
struct Faulted {
    std::vector<Requests> rows;
    std::vector<int> failed; // the rows
    Requests log() const
    {
        Requests all;
        for (const Requests &row : rows)
            all.insert(all.end(), row.begin(), row.end());
        return all;
    }
};
Faulted withFault(const std::vector<Requests> &clean, Kind kind, int failing, int at)
{
    Faulted run;
    int sent = 0;
    bool gone = false;
    for (int row = 0; row < static_cast<int>(clean.size()); row++) {
        run.rows.emplace_back();
        for (sim::Request r : clean[row]) {
            if (gone)
                r.result = -ENODEV;
            else if (++sent == failing)
                r.result = faultResult(kind, at), gone = kind == Kind::Unplug;
            run.rows.back().push_back(r);
            if (r.result < 0) {
                run.failed.push_back(row);
                break;
            }
        }
    }
    return run;
}

// The program's load on the simulated board.
class Load : public SimBoardTest {
protected:
    void TearDown() override
    {
        usbCloseDevice(UsbRDSBoard);
        UsbRDSBoard = nullptr;
    }
    // Requests from the board's request number `from` on.
    Requests since(size_t from) const
    {
        const Requests all = log();
        return Requests(all.begin() + from, all.end());
    }
    static Texts loaded()
    {
        Texts t;
        for (int row = 0; row < RDS_USB_FIELD_COUNT; row++)
            t.push_back(GetDataEdit()[row].OldString);
        return t;
    }
};

// Every field read once, in table order, into its row, tied to its control
// and its write request.
TEST_F(Load, ReadsEveryFieldOnceInTableOrderIntoItsRow)
{
    EXPECT_EQ(InitDataEdit(), 0);
    EXPECT_NE(UsbRDSBoard, nullptr);
    EXPECT_EQ(log(), fullLoad());
    // The simulated board's factory defaults, as the dialog shows them.
    const std::string rt = "Quorvel RDS encoder - simulated board" + std::string(27, ' ');
    Texts shown = {"QUORVEL ", rt,  "10",    "1",     "0",     "1",     "1",
                   "QUORVEL ", rt,  "10",    "1",     "0",     "1",     "1",
                   "0xC201",   "5", " 87.6", " 98.5", "101.1", "104.3", "107.9"};
    shown.insert(shown.end(), 20, " 87.5");
    shown.insert(shown.end(), {"4", "1"});
    EXPECT_EQ(loaded(), shown);

    std::vector<int> controls, codes = {0x21, 0x30, 0x23, 0x24, 0x25, 0x26, 0x27, 0x61,
                                        0x70, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69};
    codes.insert(codes.end(), 25, 0x6A);
    codes.insert(codes.end(), {0x02, 0x03});
    for (int row = 0; row < 43; row++) {
        controls.push_back(GetDataEdit()[row].IdEdit);
        codes[row] -= GetDataEdit()[row].IdRdsFunction;
    }
    EXPECT_EQ(controls,
              (std::vector<int>{1003, 1004, 1007, 1009, 1010, 1014, 1016, 1029, 1028, 1026, 1020,
                                1018, 1024, 1022, 1033, 1035, 1037, 1039, 1041, 1043, 1045, 1055,
                                1053, 1051, 1049, 1047, 1065, 1063, 1061, 1059, 1057, 1075, 1073,
                                1071, 1069, 1067, 1085, 1083, 1081, 1079, 1077, 1092, 1093}));
    EXPECT_EQ(codes, std::vector<int>(43)) << "the write requests, less the expected ones";
}

TEST_F(Load, WithoutTheBoardNothingIsReadAndEveryTextIsEmpty)
{
    ASSERT_EQ(InitDataEdit(), 0);
    usbCloseDevice(UsbRDSBoard);
    testbed->unplug(device);
    sim::DeviceSetup gadget; // the board's ids, another maker
    gadget.manufacturer = "Other Maker";
    auto other = testbed->board(testbed->addDevice(gadget));
    board->clearLog();
    EXPECT_EQ(InitDataEdit(), USB_OPEN_ERR_NOTFOUND);
    EXPECT_EQ(UsbRDSBoard, nullptr);
    EXPECT_TRUE(log().empty());
    EXPECT_TRUE(other->log().empty());
    EXPECT_EQ(loaded(), Texts(43));
}

class FaultMatrix : public Load, public testing::WithParamInterface<Kind> {};

// Data in which neighbouring fields differ, with no zero byte in the texts.
void setBoardData(sim::Board &board)
{
    sim::RdsData ram{};
    sim::Eeprom eeprom{};
    ram.pty = 11, ram.tp = 1, ram.ta = 1, ram.ms = 0, ram.di = 9;
    std::memcpy(ram.ps, "RAM-PS-1", 8);
    std::memcpy(eeprom.ps, "EEP-PS-2", 8);
    for (int i = 0; i < 64; i++) {
        ram.rt[i] = static_cast<uint8_t>(i % 7 == 6 ? 0x0D : 'a' + i % 26);
        eeprom.rt[i] = static_cast<uint8_t>(i % 9 == 8 ? 0xE9 : 'A' + i % 26);
    }
    eeprom.pty = 21, eeprom.tp = 0, eeprom.ta = 1, eeprom.ms = 1, eeprom.di = 3;
    eeprom.pi = 0xBE7F, eeprom.naf = 7, eeprom.group2a = 99, eeprom.stereo = 2;
    for (int n = 0; n < 25; n++)
        eeprom.af[n] = static_cast<uint8_t>(n * 37 % 256); // 0 (87.5) and codes above 204 too
    board.setRam(ram);
    board.setEeprom(eeprom);
}

TEST_P(FaultMatrix, LoadWithEachRequestFailingInTurn)
{
    const Kind kind = GetParam();
    setBoardData(*board);
    ASSERT_EQ(InitDataEdit(), 0);
    const std::vector<Requests> clean = byRow(log());
    ASSERT_EQ(clean.size(), 43u);
    const Texts texts = loaded();
    for (int failing = 1; failing <= 75 && !HasFailure(); failing++) {
        SCOPED_TRACE("request " + std::to_string(failing) + " of the load");
        usbCloseDevice(UsbRDSBoard);
        testbed->unplug(device); // a new board with the same data, for the load to find
        board = std::make_shared<sim::Board>();
        setBoardData(*board);
        device = testbed->addDevice({}, board);
        board->addFault(faultAt(kind, failing));
        int result = -1;
        const std::string out = stdoutOf([&] { result = InitDataEdit(); });
        EXPECT_EQ(result, 0);
        const Faulted run = withFault(clean, kind, failing, failing);
        EXPECT_EQ(log(), run.log());
        int errors = 0;
        for (size_t at = out.find("Error Rds"); at != std::string::npos;
             at = out.find("Error Rds", at + 1))
            errors++;
        EXPECT_EQ(errors, static_cast<int>(run.failed.size())) << out;
        for (int row = 0, sent = 0; row < RDS_USB_FIELD_COUNT; sent += run.rows[row++].size()) {
            std::string text = texts[row];
            // A failed row holds its text as far as it was read.
            if (std::count(run.failed.begin(), run.failed.end(), row))
                text = requestsOfRow(row) > 1 ? text.substr(0, 4 * (run.rows[row].size() - 1)) : "";
            else if (kind == Kind::Short && failing > sent && failing <= sent + requestsOfRow(row))
                continue; // taken from a short reply
            EXPECT_EQ(GetDataEdit()[row].OldString, text) << RdsUsbFields[row].Name;
        }
    }
}

// Two sets of texts for the 43 rows, differing from each other and from the
// board's defaults in every row, each short enough to type into its control.
Texts textSet(int d)
{
    const std::string s = d ? "B" : "A";
    Texts t = {"RAM-" + s, "ram text " + s};
    for (int v : {3 + d, d, 1 - d, d, 5 + d})
        t.push_back(std::to_string(v));
    t.insert(t.end(), {"EEP-" + s, "eeprom text " + s});
    for (int v : {13 + d, d, 1 - d, d, 7 + d})
        t.push_back(std::to_string(v));
    t.insert(t.end(), {d ? "0xB2B2" : "0xA1A1", std::to_string(6 + d)});
    for (int n = 0; n < 25; n++) {
        char af[8];
        snprintf(af, sizeof af, "%.1f", (d ? 90.0 : 88.0) + n / 10.0);
        t.push_back(af);
    }
    t.insert(t.end(), {std::to_string(2 + d), std::to_string(d)});
    return t;
}

TEST_P(FaultMatrix, OkWithEachRequestFailingInTurn)
{
    const Kind kind = GetParam();
    ASSERT_EQ(InitDataEdit(), 0);
    QtDriver driver{std::chrono::seconds(60)};
    auto typeAll = [&](const Texts &texts) {
        for (int row = 0; row < RDS_USB_FIELD_COUNT; row++)
            driver.Type(RdsUsbFields[row].IdEdit, texts[row]);
    };
    auto expectControls = [&](const Texts &texts) {
        for (int row = 0; row < RDS_USB_FIELD_COUNT; row++)
            EXPECT_EQ(driver.Text(RdsUsbFields[row].IdEdit), texts[row]) << RdsUsbFields[row].Name;
    };
    // Clicks OK; the requests it sent, and what its message box said.
    auto ok = [&](bool box, std::string *shown = nullptr) {
        if (box)
            driver.OnNextWindow([&driver, shown] {
                *shown = driver.MessageBox().text;
                driver.PressOk();
            });
        const size_t before = log().size();
        stdoutOf([&] { driver.Click(IDC_BUTTON_OK); });
        EXPECT_EQ(driver.StepsLeft(), 0) << "no message box";
        return since(before);
    };
    const Texts sets[2] = {textSet(0), textSet(1)};
    driver.OnNextWindow([&] {
        std::vector<Requests> written[2]; // fault-free OKs of both sets, row by row
        for (int s = 0; s < 2; s++) {
            typeAll(sets[s]);
            written[s] = byRow(ok(false));
            EXPECT_EQ(written[s].size(), 43u) << "a fault-free OK writes every row";
        }
        for (int failing = 1; failing <= 75 && !HasFailure(); failing++) {
            SCOPED_TRACE("request " + std::to_string(failing) + " of the OK");
            const int s = failing % 2 == 1 ? 0 : 1; // the other set than the board holds
            typeAll(sets[s]);
            const int done = static_cast<int>(log().size());
            board->addFault(faultAt(kind, done + failing));
            const Faulted run = withFault(written[s], kind, failing, done + failing);
            std::string shown, named = run.failed.empty() ? "" : "Error writing Quorvel board !";
            for (int row : run.failed)
                named += std::string("\n") + RdsUsbFields[row].Label;
            EXPECT_EQ(ok(!run.failed.empty(), &shown), run.log());
            EXPECT_EQ(shown, named);
            expectControls(sets[s]);
            // The fault gone, OK writes the pending rows and nothing else.
            board->clearFaults();
            Requests retried;
            for (int row : run.failed)
                retried.insert(retried.end(), written[s][row].begin(), written[s][row].end());
            EXPECT_EQ(ok(false), retried);
            driver.Click(IDC_BUTTON_CANCEL); // every row holds its text as last written
            expectControls(sets[s]);
        }
        driver.Click(IDC_BUTTON_QUIT);
    });
    EXPECT_EQ(DialogBoxParamA(&ProgramInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDlg, 0),
              RDS_USB_DIALOG_QUIT);
}

INSTANTIATE_TEST_SUITE_P(, FaultMatrix,
                         testing::Values(Kind::Stall, Kind::Timeout, Kind::Short, Kind::Unplug),
                         [](const auto &info) { return KindNames[static_cast<int>(info.param)]; });

} // namespace
