// The HTTP door's request handling, without sockets and without exceptions:
// which resource a request names, whether it may have it (Host, password,
// token, content type), and what its body or query asks of the station. The station's answers are
// turned into responses here too. Every reply is JSON, except the page and
// the metrics; none ever carries a CORS header.
//
// Resources:
//   GET   /                      the page (and its /app.js, /app.css)
//   GET   /api/v1/fields         {"fields": {...}, "pending": {...}, "asked": {...},
//                                "version": N, "last_known": {...}}
//   GET   /api/v1/fields/NAME    {"field": NAME, "value": V, "pending": V, "asked": V}
//   PATCH /api/v1/fields         {"ram.rt": "...", "ram.pty": 10, "af": "87.6,90.2"};
//                                null for a field: stop asking for it; "seen":
//                                {field: the value the client last saw}: 409
//                                and nothing changed where one is now another
//   GET   /api/v1/changes        {"changes": [...]}: the last asks from every door
//   GET   /api/v1/status         the station's status
//   POST  /api/v1/nowplaying     {"text"}, {"artist", "title"}, {"now_playing":
//                                {"song": {...}}}; text/plain with the token
//   GET   /api/v1/nowplaying     ?text= or ?artist=&title=, with the token
//   GET   /metrics               the Prometheus text format
//   GET   /api/v1/events         text/event-stream: "change" events with the
//                                fields' version and the board's state, as they change
#ifndef QUORVELD_HTTP_API_H
#define QUORVELD_HTTP_API_H

#include "HttpAuth.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace qd {

// Bodies longer than this are refused (413).
inline constexpr size_t MaxHttpBody = size_t{64} * 1024;
// The header that carries the now-playing token, as ?token= does.
inline constexpr const char *TokenHeader = "X-Quorveld-Token";

struct CaselessLess {
    bool operator()(std::string_view a, std::string_view b) const;
};
using HttpHeaders = std::multimap<std::string, std::string, CaselessLess>;

// Whether the request's Authorization header was checked against the
// password file (a key derivation, done off the event loop).
enum class Login { Unchecked, Verified, Failed };

struct HttpRequest {
    std::string method;
    std::string path;                              // decoded, without the query
    std::multimap<std::string, std::string> query; // decoded to raw bytes
    HttpHeaders headers;
    std::string body;
    std::string localAddress; // the address the connection reached
    Login login = Login::Unchecked;
};

struct HttpResponse {
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

// What the station is asked, on the event loop, for a request that passed.
struct ReadFields {};
struct ReadField {
    std::string name;
};
struct ReadStatus {};
struct ReadMetrics {};
struct ReadChanges {};
struct SetFields {
    std::vector<std::pair<std::string, std::string>> values; // as quorvel-ctl's set takes them
    std::vector<std::string> drops; // fields given as null: asked for no longer
    bool authenticated = false;     // by the password: the EEPROM budget's operator share
    nlohmann::ordered_json seen = nlohmann::ordered_json::object(); // field -> value last seen
};
struct SetSong {
    std::string text, artist, title;
};
// The password file must say whether the request's credentials are right:
// decide again once it has, with the request's `login` set.
struct CheckLogin {};
struct OpenEvents {};
using HttpAction = std::variant<HttpResponse, ReadFields, ReadField, ReadStatus, ReadMetrics,
                                ReadChanges, SetFields, SetSong, CheckLogin, OpenEvents>;

struct HttpPolicy {
    // Host header names accepted besides the address the connection reached
    // (lower case, IPv6 without brackets).
    std::vector<std::string> hosts;
    const Credentials *password = nullptr; // none: loopback without a password
    const Token *token = nullptr;          // none: no plain-text or URL form
    bool metricsPublic = false;
};

// Never throws for anything a client sends: every error of the JSON layer is
// a 4xx reply.
HttpAction decide(const HttpRequest &request, const HttpPolicy &policy);
// Whether the request is aimed at a change (PATCH fields, now playing), so
// that a refusal of it counts as a refused command.
bool isChange(const HttpRequest &request);

// The user a request's Basic credentials name where a password is set (the
// request passed, so they are right), cut to 64 bytes; else empty.
std::string userOf(const HttpRequest &request, const HttpPolicy &policy);

// Headers that every response carries, the server's own error replies too.
const std::vector<std::pair<std::string, std::string>> &commonHeaders();

HttpResponse errorReply(int status, const std::string &message);
// 422: {"error": ..., "refused": [{"field": NAME, "message": ...}]}.
HttpResponse refusedReply(const std::vector<std::pair<std::string, std::string>> &refusals);
// 429 with Retry-After: the same, for values the EEPROM write budget refused.
HttpResponse overBudgetReply(const std::vector<std::pair<std::string, std::string>> &refusals,
                             long long retryAfterSeconds);
// 409: {"error": ..., "conflicts": [{"field", "value", "door", "client", "user",
// "time"}]}: each field seen with another value, what it is now and who set it.
struct ConflictItem {
    std::string field;
    nlohmann::ordered_json value;
    std::string door, client, user, time; // door empty: set by no door
};
HttpResponse conflictReply(const std::vector<ConflictItem> &conflicts);
HttpResponse changesReply(const nlohmann::ordered_json &changes);
// 202: {"pending": {...}, "version": N}.
HttpResponse acceptedReply(const nlohmann::ordered_json &pending, uint64_t version);
// "last_known": fields whose value the board is not known to hold now (absent,
// not answering): the last it held. Left out when there are none.
HttpResponse
fieldsReply(const nlohmann::ordered_json &held, const nlohmann::ordered_json &pending,
            const nlohmann::ordered_json &asked, uint64_t version,
            const nlohmann::ordered_json &lastKnown = nlohmann::ordered_json::object());
HttpResponse fieldReply(const std::string &name, const nlohmann::ordered_json &held,
                        const nlohmann::ordered_json &pending, const nlohmann::ordered_json &asked);
HttpResponse statusReply(const nlohmann::ordered_json &status);
HttpResponse metricsReply(const std::string &text);

} // namespace qd

#endif
