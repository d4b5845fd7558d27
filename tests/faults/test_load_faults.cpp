// The load against a board that fails one of its 75 requests, for each of
// them and each kind of fault: the load completes, every row holds what the
// reads leave after that failure (computed here from the board's data), the
// rows after it are read, or fail at once when the board is gone, and a short
// reply shows the bytes the request before left in the reply buffer.
#include "FaultMatrix.h"
#include "RdsUsbFields.h"
#include "RdsUsbMain.h"
#include "SimFixture.h"
#include "rds_usb.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace {

using faults::Kind;
using Bytes = std::array<uint8_t, RDS_USB_REPLY_SIZE>;

// Data in which neighbouring fields differ, with no zero byte in the texts,
// and RadioText bytes the display turns into blanks.
void setBoardData(sim::Board &board)
{
    sim::RdsData ram{};
    sim::Eeprom eeprom{};
    std::memcpy(ram.ps, "RAM-PS-1", 8);
    std::memcpy(eeprom.ps, "EEP-PS-2", 8);
    for (int i = 0; i < 64; i++) {
        ram.rt[i] = static_cast<uint8_t>(i % 7 == 6 ? 0x0D : 'a' + i % 26);
        eeprom.rt[i] = static_cast<uint8_t>(i % 5 == 4 ? 0x1F : i % 9 == 8 ? 0xE9 : 'A' + i % 26);
    }
    ram.pty = 11, ram.tp = 1, ram.ta = 1, ram.ms = 0, ram.di = 9;
    eeprom.pty = 21, eeprom.tp = 0, eeprom.ta = 1, eeprom.ms = 1, eeprom.di = 3;
    eeprom.pi = 0xBE7F;
    eeprom.naf = 7;
    for (int n = 0; n < 25; n++)
        eeprom.af[n] = static_cast<uint8_t>(n * 37 % 256); // 0 (87.5) and codes above 204 too
    eeprom.group2a = 99;
    eeprom.stereo = 2;
    board.setRam(ram);
    board.setEeprom(eeprom);
}

// One request of a load and the full reply the board gives to it.
struct LoadRequest {
    int row;
    uint8_t code;
    uint16_t value;
    Bytes reply;
};

std::vector<LoadRequest> loadOf(const sim::Board &board)
{
    const sim::RdsData ram = board.ram();
    const sim::Eeprom e = board.eeprom();
    std::vector<LoadRequest> load;
    for (int row = 0; row < RDS_USB_FIELD_COUNT; row++) {
        const T_R_FieldDef &field = RdsUsbFields[row];
        for (int k = 0; k < faults::requestsOfRow(row); k++) {
            LoadRequest r{row, static_cast<uint8_t>((field.IdRdsFunction | 0x80) + k), 0, {}};
            const bool eeprom = r.code >= RDS_USB_READ_PS1_E2P;
            const sim::RdsData &store = eeprom ? e : ram;
            const int low = r.code & 0x3F; // the code within its store
            if (field.IdRdsFunction == RDS_USB_WRITE_AF_E2P) {
                r.value = static_cast<uint16_t>(field.ReadArg);
                r.reply[0] = e.af[field.ReadArg];
            } else if (r.code == RDS_USB_READ_PI_E2P) {
                r.reply = {static_cast<uint8_t>(e.pi >> 8), static_cast<uint8_t>(e.pi & 0xFF)};
            } else if (r.code == RDS_USB_READ_NAF_E2P) {
                r.reply[0] = e.naf;
            } else if (r.code == RDS_USB_READ_2A_E2P) {
                r.reply[0] = e.group2a;
            } else if (r.code == RDS_USB_READ_ST_E2P) {
                r.reply[0] = e.stereo;
            } else if (low == 0x21 || low == 0x22) {
                std::memcpy(r.reply.data(), store.ps + 4 * (low - 0x21), 4);
            } else if (low >= 0x30) {
                std::memcpy(r.reply.data(), store.rt + 4 * (low - 0x30), 4);
            } else {
                const uint8_t small[] = {store.pty, store.tp, store.ta, store.ms, store.di};
                r.reply[0] = small[low - 0x23];
            }
            load.push_back(r);
        }
    }
    return load;
}

// What a row's text becomes after its `done` successful requests, the reply
// buffer holding `b` after the last.
void addToText(std::string &text, int row, const Bytes &b)
{
    char formatted[16];
    switch (RdsUsbFields[row].IdRdsFunction) {
    case RDS_USB_WRITE_PS1_RAM:
    case RDS_USB_WRITE_PS1_E2P:
        text.append(reinterpret_cast<const char *>(b.data()), 4);
        return;
    case RDS_USB_WRITE_RT_RAM:
    case RDS_USB_WRITE_RT_E2P:
        for (int i = 0; i < 4; i++)
            text += b[i] < 0x20 ? ' ' : static_cast<char>(b[i]);
        return;
    case RDS_USB_WRITE_PI_E2P:
        snprintf(formatted, sizeof formatted, "0x%04X", b[0] * 256 + b[1]);
        break;
    case RDS_USB_WRITE_AF_E2P:
        snprintf(formatted, sizeof formatted, "%5.1f", (b[0] + 875) / 10.0);
        break;
    default:
        snprintf(formatted, sizeof formatted, "%d", b[0]);
        break;
    }
    text = formatted;
}

struct Expected {
    std::vector<sim::Request> log;
    std::vector<std::string> rows;
    int failedRows = 0;
    Bytes iodata; // the reply buffer afterwards
};

// The load on a board that answers `load`, failing request `failing` (from 1;
// 0: none) with `kind`, the reply buffer holding `iodata` before.
Expected expectLoad(const std::vector<LoadRequest> &load, Kind kind, int failing, Bytes iodata)
{
    Expected x;
    x.rows.resize(RDS_USB_FIELD_COUNT);
    bool gone = false;
    size_t n = 0;
    for (int row = 0; row < RDS_USB_FIELD_COUNT; row++) {
        std::string text;
        for (int k = 0; k < faults::requestsOfRow(row); k++) {
            const LoadRequest &r = load[n++];
            const bool hit = static_cast<int>(n) == failing;
            int result = RDS_USB_REPLY_SIZE;
            if (gone) {
                result = -ENODEV;
            } else if (hit) {
                result = faults::faultResult(kind, failing);
                gone = kind == Kind::Unplug;
            }
            x.log.push_back({r.code, r.value, 0, result});
            if (result < 0) {
                x.failedRows++;
                n += faults::requestsOfRow(row) - k - 1; // the rest of the field is not sent
                break;
            }
            std::copy(r.reply.begin(), r.reply.begin() + result, iodata.begin());
            addToText(text, row, iodata);
        }
        x.rows[row] = text.c_str(); // a zero byte ends the text
    }
    x.iodata = iodata;
    return x;
}

class LoadFaults : public testing::TestWithParam<Kind> {
protected:
    void TearDown() override
    {
        usbCloseDevice(UsbRDSBoard);
        UsbRDSBoard = nullptr;
    }

    // A new board with the test's data, in place of the previous one (whose
    // node goes, so that the load finds the new one).
    std::shared_ptr<sim::Board> replaceBoard()
    {
        usbCloseDevice(UsbRDSBoard);
        UsbRDSBoard = nullptr;
        if (device >= 0)
            testbed.unplug(device);
        auto board = std::make_shared<sim::Board>();
        setBoardData(*board);
        device = testbed.addDevice({}, board);
        return board;
    }

    void expectRows(const Expected &x)
    {
        for (int row = 0; row < RDS_USB_FIELD_COUNT; row++)
            EXPECT_EQ(GetDataEdit()[row].OldString, x.rows[row]) << RdsUsbFields[row].Name;
    }

    sim::Testbed testbed;
    int device = -1;
};

int count(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

TEST_P(LoadFaults, EachRequestFailingInTurn)
{
    const Kind kind = GetParam();
    // A load without faults: the model's texts, and a known reply buffer.
    auto board = replaceBoard();
    const std::vector<LoadRequest> load = loadOf(*board);
    ASSERT_EQ(load.size(), 75u);
    ASSERT_EQ(InitDataEdit(), 0);
    Expected x = expectLoad(load, kind, 0, {});
    ASSERT_EQ(board->log(), x.log);
    expectRows(x);
    Bytes iodata = x.iodata;

    for (int failing = 1; failing <= 75; failing++) {
        SCOPED_TRACE("request " + std::to_string(failing) + " of the load");
        board = replaceBoard();
        board->addFault(faults::faultAt(kind, failing));
        int result = -1;
        const std::string out = stdoutOf([&] { result = InitDataEdit(); });
        EXPECT_EQ(result, 0);
        x = expectLoad(load, kind, failing, iodata);
        EXPECT_EQ(board->log(), x.log);
        expectRows(x);
        EXPECT_EQ(count(out, "Error Rds"), x.failedRows) << out;
        iodata = x.iodata;
        if (HasFailure())
            break; // one case tells enough
    }
}

INSTANTIATE_TEST_SUITE_P(, LoadFaults,
                         testing::Values(Kind::Stall, Kind::Timeout, Kind::Short, Kind::Unplug),
                         [](const testing::TestParamInfo<Kind> &info) {
                             return faults::kindName(info.param);
                         });

} // namespace
