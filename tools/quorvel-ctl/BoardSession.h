// The board for one command: found and opened through the USB link, its
// fields read and written through the field table and the board command layer.
#ifndef CTL_BOARD_SESSION_H
#define CTL_BOARD_SESSION_H

#include "RdsUsbFields.h"
#include "rds_usb.h"

#include <usb.h>

#include <memory>
#include <optional>
#include <string>

// One-line hints for a board that is not there, or not accessible.
extern const char *const notFoundHint;
extern const char *const permissionHint;

using BoardHandle = std::unique_ptr<usb_dev_handle, void (*)(usb_dev_handle *)>;

// The first board found, or the one at `device` (BUS/DEV). Refuses with
// CtlNotFound, or CtlUnreadable when a device with the board's ids cannot be
// opened or its strings cannot be read.
BoardHandle openBoard(const std::string &device);

// The field's display text, or nothing when a request failed.
std::optional<std::string> readField(usb_dev_handle *board, const T_R_FieldDef &field);
// false when a request failed (or the board layer refused the text).
bool writeField(usb_dev_handle *board, const T_R_FieldDef &field, const std::string &boardText);
// The EEPROM reset; false when the request failed.
bool resetEeprom(usb_dev_handle *board);

#endif
