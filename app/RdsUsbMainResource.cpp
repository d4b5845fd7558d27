// The program's resources: the main dialog's template, in dialog units of its
// 9-point Tahoma font.
#include "resource.h"

#include "windows.h"

#include <iterator>

namespace {

constexpr DWORD EditStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_LEFT;
constexpr DWORD ButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD LeftStatic = WS_CHILD | WS_VISIBLE | SS_LEFT;
constexpr DWORD RightStatic = WS_CHILD | WS_VISIBLE | SS_RIGHT;

// Creation order is tab order. Ids 1037-1086 are the AF00-AF24 edits and their
// labels (edit id + 1) on a 5 x 5 grid; from the second row on, ids run from
// right to left.
const DLGITEMRESOURCE MainItems[] = {
    // id, class, text, x, y, cx, cy, style, extended style
    {1001, "STATIC", "Current Data (RAM)", 1, 8, 79, 12, LeftStatic, WS_EX_CLIENTEDGE},
    {1002, "STATIC", "PS Name=", 3, 27, 36, 10, LeftStatic | WS_BORDER, 0},
    {1003, "EDIT", "12345678", 44, 25, 45, 16, EditStyle, WS_EX_CLIENTEDGE | WS_EX_DLGMODALFRAME},
    {1004, "EDIT", "1234567890123456789012345678901234567890123456789012345678901234", 44, 42, 262,
     12, EditStyle, WS_EX_STATICEDGE},
    {1005, "STATIC", "RadioTxt=", 3, 42, 36, 10, LeftStatic, 0},
    {1006, "STATIC", "PTY=", 101, 27, 22, 10, LeftStatic, 0},
    {1007, "EDIT", "16", 128, 27, 19, 10, EditStyle, WS_EX_STATICEDGE},
    {1008, "STATIC", "TP=", 250, 27, 17, 10, LeftStatic, 0},
    {1009, "EDIT", "0", 270, 27, 12, 10, EditStyle, WS_EX_STATICEDGE},
    {1010, "EDIT", "0", 313, 27, 12, 10, EditStyle, WS_EX_CLIENTEDGE},
    {1011, "STATIC", "TA=", 291, 27, 17, 10, LeftStatic | WS_BORDER, 0},
    {1012, "BUTTON", "OK", 204, 221, 69, 16, ButtonStyle, 0},
    {1013, "BUTTON", "Cancel", 286, 221, 40, 16, ButtonStyle, 0},
    {1014, "EDIT", "0", 186, 27, 12, 10, EditStyle, WS_EX_STATICEDGE},
    {1015, "STATIC", "MS=", 166, 27, 17, 10, LeftStatic, 0},
    {1016, "EDIT", "0", 228, 27, 12, 10, EditStyle, WS_EX_STATICEDGE},
    {1017, "STATIC", "DI=", 207, 27, 17, 10, LeftStatic, 0},
    {1018, "EDIT", "0", 313, 92, 12, 10, EditStyle, WS_EX_STATICEDGE},
    {1019, "STATIC", "TA=", 291, 92, 17, 10, LeftStatic, 0},
    {1020, "EDIT", "0", 270, 92, 12, 10, EditStyle, WS_EX_STATICEDGE},
    {1021, "STATIC", "TP=", 250, 92, 17, 10, LeftStatic, 0},
    {1022, "EDIT", "0", 228, 92, 12, 10, EditStyle, WS_EX_STATICEDGE},
    {1023, "STATIC", "DI=", 207, 92, 17, 10, LeftStatic, 0},
    {1024, "EDIT", "0", 186, 92, 12, 10, EditStyle, WS_EX_STATICEDGE},
    {1025, "STATIC", "MS=", 166, 92, 17, 10, LeftStatic, 0},
    {1026, "EDIT", "16", 128, 92, 19, 10, EditStyle, WS_EX_STATICEDGE},
    {1027, "STATIC", "PTY=", 101, 92, 22, 10, LeftStatic, 0},
    {1028, "EDIT", "1234567890123456789012345678901234567890123456789012345678901234", 44, 108, 262,
     12, EditStyle, WS_EX_STATICEDGE},
    {1029, "EDIT", "12345678", 44, 90, 45, 16, EditStyle, WS_EX_CLIENTEDGE | WS_EX_DLGMODALFRAME},
    {1030, "STATIC", "RadioTxt=", 3, 108, 36, 10, LeftStatic, 0},
    {1031, "STATIC", "PS Name=", 3, 92, 36, 10, LeftStatic | WS_BORDER, 0},
    {1032, "STATIC", "Default Data (EEPROM)", 3, 75, 79, 12, LeftStatic, WS_EX_CLIENTEDGE},
    {1033, "EDIT", "0xFFFF", 44, 123, 33, 14, EditStyle, WS_EX_DLGMODALFRAME},
    {1034, "STATIC", "PI Code=", 3, 125, 36, 10, LeftStatic, 0},
    {1035, "EDIT", "25", 186, 125, 19, 10, EditStyle, WS_EX_STATICEDGE},
    {1036, "STATIC", "Used AF(25max)=", 120, 125, 60, 10, LeftStatic, 0},
    {1037, "EDIT", "107.9", 34, 140, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1038, "STATIC", "AF00=", 5, 140, 24, 10, LeftStatic, 0},
    {1039, "EDIT", "107.9", 97, 140, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1040, "STATIC", "AF01=", 68, 140, 24, 10, LeftStatic, 0},
    {1041, "EDIT", "107.9", 161, 140, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1042, "STATIC", "AF02=", 132, 140, 24, 10, LeftStatic, 0},
    {1043, "EDIT", "107.9", 224, 140, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1044, "STATIC", "AF03=", 195, 140, 24, 10, LeftStatic, 0},
    {1045, "EDIT", "107.9", 288, 140, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1046, "STATIC", "AF04=", 258, 140, 24, 10, LeftStatic, 0},
    {1047, "EDIT", "107.9", 288, 156, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1048, "STATIC", "AF09=", 258, 156, 24, 10, LeftStatic, 0},
    {1049, "EDIT", "107.9", 224, 156, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1050, "STATIC", "AF08=", 195, 156, 24, 10, LeftStatic, 0},
    {1051, "EDIT", "107.9", 161, 156, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1052, "STATIC", "AF07=", 132, 156, 24, 10, LeftStatic, 0},
    {1053, "EDIT", "107.9", 97, 156, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1054, "STATIC", "AF06=", 68, 156, 24, 10, LeftStatic, 0},
    {1055, "EDIT", "107.9", 34, 156, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1056, "STATIC", "AF05=", 5, 156, 24, 10, LeftStatic, 0},
    {1057, "EDIT", "107.9", 288, 171, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1058, "STATIC", "AF14=", 258, 171, 24, 10, LeftStatic, 0},
    {1059, "EDIT", "107.9", 224, 171, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1060, "STATIC", "AF13=", 195, 171, 24, 10, LeftStatic, 0},
    {1061, "EDIT", "107.9", 161, 171, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1062, "STATIC", "AF12=", 132, 171, 24, 10, LeftStatic, 0},
    {1063, "EDIT", "107.9", 97, 171, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1064, "STATIC", "AF11=", 68, 171, 24, 10, LeftStatic, 0},
    {1065, "EDIT", "107.9", 34, 171, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1066, "STATIC", "AF10=", 5, 171, 24, 10, LeftStatic, 0},
    {1067, "EDIT", "107.9", 288, 186, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1068, "STATIC", "AF19=", 258, 186, 24, 10, LeftStatic, 0},
    {1069, "EDIT", "107.9", 224, 186, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1070, "STATIC", "AF18=", 195, 186, 24, 10, LeftStatic, 0},
    {1071, "EDIT", "107.9", 161, 186, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1072, "STATIC", "AF17=", 132, 186, 24, 10, LeftStatic, 0},
    {1073, "EDIT", "107.9", 97, 186, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1074, "STATIC", "AF16=", 68, 186, 24, 10, LeftStatic, 0},
    {1075, "EDIT", "107.9", 34, 186, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1076, "STATIC", "AF15=", 5, 186, 24, 10, LeftStatic, 0},
    {1077, "EDIT", "107.9", 288, 202, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1078, "STATIC", "AF24=", 258, 202, 24, 10, LeftStatic, 0},
    {1079, "EDIT", "107.9", 224, 202, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1080, "STATIC", "AF23=", 195, 202, 24, 10, LeftStatic, 0},
    {1081, "EDIT", "107.9", 161, 202, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1082, "STATIC", "AF22=", 132, 202, 24, 10, LeftStatic, 0},
    {1083, "EDIT", "107.9", 97, 202, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1084, "STATIC", "AF21=", 68, 202, 24, 10, LeftStatic, 0},
    {1085, "EDIT", "107.9", 34, 202, 26, 10, EditStyle, WS_EX_STATICEDGE},
    {1086, "STATIC", "AF20=", 5, 202, 24, 10, LeftStatic, 0},
    {1087, "BUTTON", "Reset", 3, 226, 33, 10, ButtonStyle, 0},
    {1088, "BUTTON", "Quit", 152, 221, 36, 16, ButtonStyle, 0},
    {1089, "BUTTON", "Help/About", 279, 1, 57, 14, ButtonStyle, 0},
    {1090, "STATIC", "www.quorvel.example", 204, 0, 74, 9, LeftStatic, 0},
    {1091, "STATIC", "2A Group=", 99, 75, 41, 12, RightStatic, 0},
    {1092, "EDIT", "99", 144, 75, 17, 10, EditStyle, WS_EX_STATICEDGE},
    {1093, "EDIT", "1", 272, 75, 12, 10, EditStyle, WS_EX_STATICEDGE},
    {1094, "STATIC", "Stereo=", 226, 75, 41, 12, RightStatic, 0},
};

const DLGRESOURCE MainDialog = {
    IDD_MAIN,
    "Quorvel",
    WS_OVERLAPPEDWINDOW | WS_VISIBLE | DS_SETFONT,
    0,
    5,
    5,
    338,
    240,
    9,
    400,
    0,
    "Tahoma",
    MainItems,
    static_cast<int>(std::size(MainItems)),
};

const DLGRESOURCE *const Dialogs[] = {&MainDialog};

} // namespace

HINSTANCE__ ProgramInstance = {Dialogs, static_cast<int>(std::size(Dialogs))};
