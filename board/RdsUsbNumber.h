// Reads numbers from the start of a display text the way the formatted-input
// conversions "%d", "%X" and "%f" read them (leading white space, optional
// sign, the rest of the text ignored), but with defined results and without
// depending on the locale. Each returns false when the text holds no number.
#ifndef RDS_USB_NUMBER_H
#define RDS_USB_NUMBER_H

// Decimal; a number beyond the int range saturates at that range.
bool RdsUsbParseDecimal(const char *text, int *number);
// Hexadecimal, with or without 0x; beyond the unsigned range saturates at
// UINT_MAX. "0x" alone reads as 0.
bool RdsUsbParseHex(const char *text, unsigned *number);
// Decimal floating point in single precision: digits, an optional decimal
// point and exponent (no "nan", "inf" or hexadecimal forms). A value beyond
// the float range reads as an infinity.
bool RdsUsbParseFloat(const char *text, float *number);

#endif
