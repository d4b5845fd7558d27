// The images asked for, kept across restarts of the daemon in a JSON file:
// {"format": "quorveld state", "version": 1, "asked": {"ram.ps": "<hex>", ...},
//  "eeprom_budget": {"eeprom.pi": {"hours": {"493412": 2}, "last_ms": ..., "reserved": false}}}
// with each image's bytes in hexadecimal, and the EEPROM writes each field
// has made (EepromBudget's records) when there are any.
#ifndef QUORVELD_STATE_FILE_H
#define QUORVELD_STATE_FILE_H

#include "EepromBudget.h"
#include "FieldImage.h"

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qd {

// By index in RdsUsbFields.
using FieldImages = std::vector<std::pair<int, fields::Image>>;

struct StateContents {
    FieldImages asked;
    std::vector<std::string> refused; // values out of their field's range or length, and why
};

// Larger files are refused.
inline constexpr size_t maxStateBytes = size_t{64} * 1024;

// The file's images; none when there is no file. A file that cannot be read,
// is not a regular file or not such a file throws std::runtime_error naming
// the file. Each image is checked (fields::checkImage): a refused one is left
// out and said why. The budget's records go to `budget` when given.
StateContents readStateFile(const std::string &path, std::map<int, BudgetRecord> *budget = nullptr);

// Replaces the file atomically: writes a temporary file in its directory,
// flushes it to the disk and renames it over the file. Throws std::runtime_error.
void writeStateFile(const std::string &path, const FieldImages &asked,
                    const std::map<int, BudgetRecord> &budget = {});
// The same for any file: `text` replaces the file whole or not at all.
void writeFileAtomically(const std::string &path, const std::string &text);

} // namespace qd

#endif
