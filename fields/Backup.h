// The JSON forms of the fields: the object that show --json prints, and the
// backup file of export and import, which holds that object with its format,
// version and character set.
#ifndef CTL_BACKUP_H
#define CTL_BACKUP_H

#include "RdsUsbFields.h"
#include "TextCodec.h"

#include <nlohmann/json.hpp>

#include <string>
#include <utility>
#include <vector>

// Fields with a value each (shown values, or values given by the user), in
// field-table order.
using FieldList = std::vector<std::pair<const T_R_FieldDef *, std::string>>;

// {"ram.ps": "QUORVEL ", "ram.pty": 10, "eeprom.pi": "0xC201",
//  "eeprom.af00": 87.6, ...}: texts and the PI code as strings, the other
// fields as numbers.
nlohmann::ordered_json fieldsToJson(const FieldList &shown);

// {"format": "quorvel-ctl backup", "version": 1, "charset": "cp1252",
//  "fields": {...}}, as text with a final line feed.
std::string backupDocument(const FieldList &shown, Charset charset);

struct BackupFile {
    Charset charset;
    FieldList values; // as the user would give them to set
};

// Refuses (CtlFileError) what is not such a document, an unknown format
// version or field name, and a value that is neither a string nor a number.
// `name` names the file in messages.
BackupFile parseBackup(const std::string &text, const std::string &name);

#endif
