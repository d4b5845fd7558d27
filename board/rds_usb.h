// Request codes of the board's vendor requests, shared with its firmware.
// A read code is the write code plus 0x80; for fields kept in both stores the
// EEPROM code is the RAM code plus 0x40.
#ifndef RDS_USB_H
#define RDS_USB_H

// The codes' comments in one column.
// clang-format off

// The board's USB identity. Unrelated devices share the ids: the strings
// tell the board apart.
#define RDS_USB_VENDOR_ID 0x16C0
#define RDS_USB_PRODUCT_ID 0x05DF
#define RDS_USB_VENDOR_NAME "quorvel.example"
#define RDS_USB_PRODUCT_NAME "Quorvel 1.2"

// Writes. PS names and RadioTexts take one request per four characters.
#define RDS_USB_WRITE_2A_E2P 0x02          // 2A-group rate
#define RDS_USB_WRITE_ST_E2P 0x03          // stereo/mono setting
#define RDS_USB_RESET_E2P 0x04             // EEPROM back to the board's defaults
#define RDS_USB_WRITE_PS1_RAM 0x21         // PS name, characters 1 to 4
#define RDS_USB_WRITE_PS2_RAM 0x22         // PS name, characters 5 to 8
#define RDS_USB_WRITE_PTY_RAM 0x23
#define RDS_USB_WRITE_TP_RAM 0x24
#define RDS_USB_WRITE_TA_RAM 0x25
#define RDS_USB_WRITE_MS_RAM 0x26
#define RDS_USB_WRITE_DI_RAM 0x27
#define RDS_USB_WRITE_RT_RAM 0x30          // RadioText characters 4k+1 to 4k+4: 0x30 + k
#define RDS_USB_WRITE_RT_RAM_LAST 0x3F
#define RDS_USB_WRITE_PS1_E2P 0x61
#define RDS_USB_WRITE_PS2_E2P 0x62
#define RDS_USB_WRITE_PTY_E2P 0x63
#define RDS_USB_WRITE_TP_E2P 0x64
#define RDS_USB_WRITE_TA_E2P 0x65
#define RDS_USB_WRITE_MS_E2P 0x66
#define RDS_USB_WRITE_DI_E2P 0x67
#define RDS_USB_WRITE_PI_E2P 0x68          // PI code in wValue
#define RDS_USB_WRITE_NAF_E2P 0x69         // number of AFs in use
#define RDS_USB_WRITE_AF_E2P 0x6A          // AF code in wValue, AF number in wIndex
#define RDS_USB_WRITE_RT_E2P 0x70          // 0x70 + k
#define RDS_USB_WRITE_RT_E2P_LAST 0x7F

// Reads: 8-byte reply in the data stage.
#define RDS_USB_READ_2A_E2P 0x82
#define RDS_USB_READ_ST_E2P 0x83
#define RDS_USB_READ_PS1_RAM 0xA1
#define RDS_USB_READ_PS2_RAM 0xA2
#define RDS_USB_READ_PTY_RAM 0xA3
#define RDS_USB_READ_TP_RAM 0xA4
#define RDS_USB_READ_TA_RAM 0xA5
#define RDS_USB_READ_MS_RAM 0xA6
#define RDS_USB_READ_DI_RAM 0xA7
#define RDS_USB_READ_RT_RAM 0xB0           // 0xB0 + k
#define RDS_USB_READ_RT_RAM_LAST 0xBF
#define RDS_USB_READ_PS1_E2P 0xE1
#define RDS_USB_READ_PS2_E2P 0xE2
#define RDS_USB_READ_PTY_E2P 0xE3
#define RDS_USB_READ_TP_E2P 0xE4
#define RDS_USB_READ_TA_E2P 0xE5
#define RDS_USB_READ_MS_E2P 0xE6
#define RDS_USB_READ_DI_E2P 0xE7
#define RDS_USB_READ_PI_E2P 0xE8           // reply byte 0 high, byte 1 low
#define RDS_USB_READ_NAF_E2P 0xE9
#define RDS_USB_READ_AF_E2P 0xEA           // AF number in wValue
#define RDS_USB_READ_RT_E2P 0xF0           // 0xF0 + k
#define RDS_USB_READ_RT_E2P_LAST 0xFF

// Frame of every request: vendor control-IN, 8-byte data stage.
#define RDS_USB_REPLY_SIZE 8

// Alternative frequencies: MHz = (code + 875) / 10, codes 1 (87.6) to 204 (107.9).
#define RDS_USB_AF_COUNT 25
#define RDS_USB_AF_CODE_OFFSET 875
#define RDS_USB_AF_CODE_MIN 1
#define RDS_USB_AF_CODE_MAX 204

#define RDS_USB_PS_LENGTH 8
#define RDS_USB_RT_LENGTH 64

// clang-format on

#endif
