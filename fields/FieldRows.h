// Fields by their row in RdsUsbFields, for code that keeps them in arrays
// (quorveld's images) and addresses some of them by name.
#ifndef FIELDS_FIELD_ROWS_H
#define FIELDS_FIELD_ROWS_H

#include <string_view>

namespace fields {

// The row of the field of that name, or -1.
int fieldIndex(std::string_view name);

// The rows that the protocols address one by one.
namespace row {
inline const int RamPs = fieldIndex("ram.ps");
inline const int RamRt = fieldIndex("ram.rt");
inline const int RamPty = fieldIndex("ram.pty");
inline const int RamTp = fieldIndex("ram.tp");
inline const int RamTa = fieldIndex("ram.ta");
inline const int RamMs = fieldIndex("ram.ms");
inline const int RamDi = fieldIndex("ram.di");
inline const int Pi = fieldIndex("eeprom.pi");
inline const int Naf = fieldIndex("eeprom.naf");
inline const int Af00 = fieldIndex("eeprom.af00");
} // namespace row

} // namespace fields

#endif
