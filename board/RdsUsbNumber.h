// Reads numbers from the start of a display text the way the formatted-input
// conversions "%d", "%X" and "%f" read them (leading white space, optional
// sign, the rest of the text ignored), but with defined results and without
// depending on the locale. Each returns false when the text holds no number.
// Also the board layer's one rounding of a frequency and its PI code text.
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
// The value of a hexadecimal digit (either case), or -1.
int RdsUsbHexDigit(char c);
// A frequency in MHz as tenths of a MHz, as the AF write rounds it: read in
// single precision, times ten, rounded half up ("98.75" is 988). Leaves
// *tenths alone, and returns false, when the text holds no number.
bool RdsUsbParseTenths(const char *text, double *tenths);

// The PI code's display text, "0xC201": 7 bytes with the terminating zero.
#define RDS_USB_PI_TEXT_SIZE 7
void RdsUsbFormatPi(unsigned code, char *text);

#endif
