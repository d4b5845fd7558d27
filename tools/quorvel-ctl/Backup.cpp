#include "Backup.h"

#include "CtlStatus.h"

#include <algorithm>

namespace {

constexpr const char *Format = "quorvel-ctl backup";
constexpr int Version = 1;

[[noreturn]] void refuse(const std::string &name, const std::string &why)
{
    throw CtlError{CtlFileError, name + ": " + why};
}

size_t tableIndex(const T_R_FieldDef *field)
{
    return static_cast<size_t>(field - RdsUsbFields);
}

} // namespace

std::string backupDocument(const fields::FieldList &shown, fields::Charset charset)
{
    const nlohmann::ordered_json document = {
        {"format", Format},
        {"version", Version},
        {"charset", fields::charsetName(charset)},
        {"fields", fields::fieldsToJson(shown)},
    };
    return document.dump(2) + "\n";
}

BackupFile parseBackup(const std::string &text, const std::string &name)
{
    const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded())
        refuse(name, "not JSON");
    const auto member = [&document](const char *key) {
        const auto it = document.find(key);
        return it == document.end() ? nlohmann::json() : *it;
    };
    if (!document.is_object() || member("format") != Format)
        refuse(name, std::string("not a ") + Format);
    const nlohmann::json version = member("version");
    if (!version.is_number_integer() || version != Version)
        refuse(name, "format version " + version.dump() + " is not " + std::to_string(Version));
    const nlohmann::json charsetMember = member("charset");
    const auto charset =
        fields::charsetByName(charsetMember.is_string() ? charsetMember.get<std::string>() : "");
    if (!charset)
        refuse(name, "unknown charset " + charsetMember.dump());
    const nlohmann::json fields = member("fields");
    if (!fields.is_object())
        refuse(name, "no \"fields\" object");

    BackupFile backup{*charset, {}};
    for (const auto &[key, value] : fields.items()) {
        const T_R_FieldDef *field = RdsUsbFindField(key.c_str());
        if (!field)
            refuse(name, "unknown field \"" + key + "\"");
        if (value.is_string())
            backup.values.emplace_back(field, value.get<std::string>());
        else if (value.is_number())
            backup.values.emplace_back(field, value.dump());
        else
            refuse(name, key + ": " + value.dump() + " is neither a string nor a number");
    }
    std::sort(backup.values.begin(), backup.values.end(), [](const auto &a, const auto &b) {
        return tableIndex(a.first) < tableIndex(b.first);
    });
    return backup;
}
