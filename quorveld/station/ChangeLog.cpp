#include "ChangeLog.h"

#include "StateFile.h"

#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace qd {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char *Format = "quorveld changes";
constexpr int Version = 1;
constexpr size_t MaxText = 256; // of each text member read from the file

[[noreturn]] void fail(const std::string &path, const std::string &why)
{
    throw std::runtime_error("change log " + path + ": " + why);
}

std::string text(const Json &entry, const char *key)
{
    const auto found = entry.find(key);
    if (found == entry.end() || !found->is_string())
        return {};
    return found->get<std::string>().substr(0, MaxText);
}

std::string value(const Json &entry, const char *key)
{
    const auto found = entry.find(key);
    if (found == entry.end() || !(found->is_string() || found->is_number()))
        return "null";
    return found->is_string() ? Json(found->get<std::string>().substr(0, MaxText)).dump()
                              : found->dump();
}

Json parsedValue(const std::string &text)
{
    Json value = Json::parse(text, nullptr, false);
    return value.is_discarded() ? Json() : value;
}

Json entryJson(const Change &change)
{
    Json entry{
        {"time", change.time},          {"field", change.field}, {"from", parsedValue(change.from)},
        {"to", parsedValue(change.to)}, {"door", change.door},   {"client", change.client}};
    if (!change.user.empty())
        entry["user"] = change.user;
    return entry;
}

} // namespace

ChangeLog::ChangeLog(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT)
            return;
        fail(path, "reading: " + std::generic_category().message(errno));
    }
    std::string bytes(MaxFileBytes + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    if (bytes.size() > MaxFileBytes)
        fail(path, "larger than " + std::to_string(MaxFileBytes) + " bytes");
    const Json document = Json::parse(bytes, nullptr, false);
    if (!document.is_object() || document.value("format", "") != Format ||
        document.value("version", 0) != Version || !document.contains("changes") ||
        !document["changes"].is_array())
        fail(path,
             std::string("not a \"") + Format + "\" file of version " + std::to_string(Version));
    for (const Json &entry : document["changes"]) {
        if (!entry.is_object())
            continue;
        add({text(entry, "time"), text(entry, "field"), value(entry, "from"), value(entry, "to"),
             text(entry, "door"), text(entry, "client"), text(entry, "user")});
    }
    unsaved_ = false;
}

void ChangeLog::add(Change change)
{
    changes_.push_back(std::move(change));
    while (changes_.size() > Capacity)
        changes_.pop_front();
    unsaved_ = true;
}

nlohmann::ordered_json ChangeLog::json() const
{
    Json list = Json::array();
    for (auto it = changes_.rbegin(); it != changes_.rend(); ++it)
        list.push_back(entryJson(*it));
    return list;
}

void ChangeLog::save(const std::string &path)
{
    Json list = Json::array();
    for (const Change &change : changes_)
        list.push_back(entryJson(change));
    const Json document{{"format", Format}, {"version", Version}, {"changes", list}};
    writeFileAtomically(path, document.dump(1, ' ', false, Json::error_handler_t::replace) + "\n");
    unsaved_ = false;
}

} // namespace qd
