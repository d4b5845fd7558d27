// The last asks from every door, newest last: who asked which field to go
// from what to what, and when. Kept across restarts in a JSON file beside
// the state file:
// {"format": "quorveld changes", "version": 1, "changes": [{...}, ...]}.
#ifndef QUORVELD_CHANGE_LOG_H
#define QUORVELD_CHANGE_LOG_H

#include <nlohmann/json.hpp>

#include <cstddef>
#include <deque>
#include <string>

namespace qd {

struct Change {
    std::string time;     // UTC, "2026-12-07T03:02:11Z"
    std::string field;    // quorvel-ctl's name, or "af" for the list
    std::string from, to; // shown values as JSON text; null: unknown, or no longer asked
    std::string door;     // "ascii", "uecp", "http", "file"
    std::string client;   // the client's address; empty when none (the file)
    std::string user;     // the HTTP user when authenticated
};

class ChangeLog {
public:
    static constexpr size_t Capacity = 200;
    static constexpr size_t MaxFileBytes = size_t{512} * 1024;

    ChangeLog() = default;
    // The changes of `path`; none when there is no file. A file that cannot be
    // read or is not such a file throws std::runtime_error naming it.
    explicit ChangeLog(const std::string &path);

    // The oldest change leaves once there are Capacity.
    void add(Change change);
    // [{"time", "field", "from", "to", "door", "client", "user"}, ...], newest first.
    nlohmann::ordered_json json() const;
    bool unsaved() const { return unsaved_; }
    // Replaces the file atomically; throws std::runtime_error.
    void save(const std::string &path);

private:
    std::deque<Change> changes_;
    bool unsaved_ = false;
};

} // namespace qd

#endif
