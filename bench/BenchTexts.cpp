#include "BenchTexts.h"

#include "RdsUsbFields.h"
#include "RdsUsbMain.h"
#include "rds_usb.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Two texts for row `row`; `which` picks one.
std::string Candidate(int row, int which)
{
    const T_R_FieldDef &field = RdsUsbFields[row];
    const char letter = which ? 'B' : 'A';
    switch (field.IdRdsFunction) {
    case RDS_USB_WRITE_PS1_RAM:
    case RDS_USB_WRITE_PS1_E2P: return std::string("BENCH-") + letter + letter;
    case RDS_USB_WRITE_RT_RAM:
    case RDS_USB_WRITE_RT_E2P: return "RadioText " + std::string(54, letter);
    case RDS_USB_WRITE_PTY_RAM:
    case RDS_USB_WRITE_PTY_E2P: return which ? "6" : "5";
    case RDS_USB_WRITE_PI_E2P: return which ? "0x4321" : "0x1234";
    case RDS_USB_WRITE_NAF_E2P: return which ? "25" : "24";
    case RDS_USB_WRITE_AF_E2P: {
        const int tenths = (which ? 1000 : 876) + field.ReadArg; // 87.6 or 100.0 MHz up
        char text[16];
        snprintf(text, sizeof(text), "%d.%d", tenths / 10, tenths % 10);
        return text;
    }
    case RDS_USB_WRITE_2A_E2P: return which ? "4" : "3";
    default: // TP, TA, MS, DI, stereo setting
        return which ? "1" : "0";
    }
}

} // namespace

void SetChangedTexts(HWND hDlg)
{
    const T_R_DataMainEdit *rows = GetDataEdit();
    for (int i = 0; i < RDS_USB_FIELD_COUNT; i++) {
        std::string text = Candidate(i, 0);
        if (text == rows[i].OldString)
            text = Candidate(i, 1);
        SetDlgItemTextA(hDlg, RdsUsbFields[i].IdEdit, text.c_str());
    }
}
