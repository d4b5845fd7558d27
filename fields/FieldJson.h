// The JSON form of the fields: one object of field names and shown values.
#ifndef FIELDS_FIELD_JSON_H
#define FIELDS_FIELD_JSON_H

#include "RdsUsbFields.h"

#include <nlohmann/json.hpp>

#include <string>
#include <utility>
#include <vector>

namespace fields {

// Fields with a value each (shown values, or values given by the user), in
// field-table order.
using FieldList = std::vector<std::pair<const T_R_FieldDef *, std::string>>;

// {"ram.ps": "QUORVEL ", "ram.pty": 10, "eeprom.pi": "0xC201",
//  "eeprom.af00": 87.6, ...}: texts and the PI code as strings, the other
// fields as numbers.
nlohmann::ordered_json fieldsToJson(const FieldList &shown);

} // namespace fields

#endif
