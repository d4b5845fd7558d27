// The backup file of export and import: the fields' JSON object (as show
// --json prints it) with its format, version and character set.
#ifndef CTL_BACKUP_H
#define CTL_BACKUP_H

#include "FieldJson.h"
#include "TextCodec.h"

#include <string>

// {"format": "quorvel-ctl backup", "version": 1, "charset": "cp1252",
//  "fields": {...}}, as text with a final line feed.
std::string backupDocument(const fields::FieldList &shown, fields::Charset charset);

struct BackupFile {
    fields::Charset charset;
    fields::FieldList values; // as the user would give them to set
};

// Refuses (CtlFileError) what is not such a document, an unknown format
// version or field name, and a value that is neither a string nor a number.
// `name` names the file in messages.
BackupFile parseBackup(const std::string &text, const std::string &name);

#endif
