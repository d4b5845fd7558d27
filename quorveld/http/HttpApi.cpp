#include "HttpApi.h"

#include "HttpAssets.h"
#include "RdsUsbFields.h"
#include "TextCodec.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace qd {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view FieldsPath = "/api/v1/fields";
constexpr std::string_view FieldPrefix = "/api/v1/fields/";
constexpr std::string_view MetricsType = "text/plain; version=0.0.4; charset=utf-8";

enum class Resource { Page, Fields, Field, Status, NowPlaying, Metrics, Events, Changes };

struct Route {
    Resource resource;
    std::vector<std::string_view> methods;
    std::string_view name; // Field: the field's name; Page: the file's path
};

std::optional<Route> routeOf(std::string_view path)
{
    const std::vector<std::string_view> read{"GET", "HEAD"};
    if (path == "/")
        return Route{Resource::Page, read, "/index.html"};
    if (findWebAsset(path))
        return Route{Resource::Page, read, path};
    if (path == FieldsPath)
        return Route{Resource::Fields, {"GET", "HEAD", "PATCH"}, {}};
    if (path.starts_with(FieldPrefix) && path.size() > FieldPrefix.size())
        return Route{Resource::Field, read, path.substr(FieldPrefix.size())};
    if (path == "/api/v1/status")
        return Route{Resource::Status, read, {}};
    if (path == "/api/v1/nowplaying")
        return Route{Resource::NowPlaying, {"GET", "POST"}, {}};
    if (path == "/metrics")
        return Route{Resource::Metrics, read, {}};
    if (path == "/api/v1/events")
        return Route{Resource::Events, {"GET"}, {}};
    if (path == "/api/v1/changes")
        return Route{Resource::Changes, read, {}};
    return std::nullopt;
}

bool changes(const Route &route, std::string_view method)
{
    return route.resource == Resource::NowPlaying ||
           (route.resource == Resource::Fields && method == "PATCH");
}

std::string lower(std::string_view text)
{
    std::string result(text);
    for (char &c : result)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

std::string header(const HttpRequest &request, const std::string &name)
{
    const auto found = request.headers.find(name);
    return found == request.headers.end() ? std::string() : found->second;
}

std::string query(const HttpRequest &request, const std::string &name)
{
    const auto found = request.query.find(name);
    return found == request.query.end() ? std::string() : found->second;
}

bool isPort(std::string_view text)
{
    return !text.empty() && text.size() <= 5 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
           std::stoul(std::string(text)) <= 65535;
}

// The host a Host header names, as it is compared: lower case, an IPv6
// address without its brackets, in its usual text. Empty for a value that is
// not exactly NAME[:PORT], IPV4[:PORT] or [IPV6][:PORT].
std::string hostOf(std::string_view value)
{
    std::string_view host = value;
    if (value.starts_with('[')) {
        const size_t close = value.find(']');
        if (close == std::string_view::npos)
            return {};
        const std::string_view rest = value.substr(close + 1);
        if (!rest.empty() && !(rest.starts_with(':') && isPort(rest.substr(1))))
            return {};
        in6_addr address{};
        std::array<char, INET6_ADDRSTRLEN> text{};
        if (inet_pton(AF_INET6, std::string(value.substr(1, close - 1)).c_str(), &address) != 1 ||
            !inet_ntop(AF_INET6, &address, text.data(), text.size()))
            return {};
        return text.data();
    }
    if (const size_t colon = value.find(':'); colon != std::string_view::npos) {
        if (!isPort(value.substr(colon + 1)))
            return {};
        host = value.substr(0, colon);
    }
    const bool name = std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.';
    });
    return name ? lower(host) : std::string();
}

bool knownHost(const HttpRequest &request, const HttpPolicy &policy)
{
    const std::string host = hostOf(header(request, "Host"));
    if (host.empty())
        return false;
    std::string local = lower(request.localAddress);
    if (local.starts_with("::ffff:") && local.find('.') != std::string::npos)
        local.erase(0, 7); // an IPv4 client on an IPv6 socket
    return host == local ||
           std::find(policy.hosts.begin(), policy.hosts.end(), host) != policy.hosts.end();
}

// The media type without its parameters, in lower case.
std::string mediaType(const HttpRequest &request)
{
    const std::string value = header(request, "Content-Type");
    return lower(fields::trimmed(std::string_view(value).substr(0, value.find(';'))));
}

std::string joined(const std::vector<std::string_view> &items)
{
    std::string text;
    for (std::string_view item : items)
        text.append(text.empty() ? "" : ", ").append(item);
    return text;
}

HttpResponse unauthenticated()
{
    HttpResponse reply = errorReply(401, "authentication needed");
    reply.headers.emplace_back("WWW-Authenticate", "Basic realm=\"quorveld\", charset=\"UTF-8\"");
    return reply;
}

// The now-playing token, from ?token= or the header; a reply when it is missing or wrong.
std::optional<HttpResponse> tokenRefusal(const HttpRequest &request, const HttpPolicy &policy)
{
    if (!policy.token)
        return errorReply(403, "the plain-text and URL forms need a token: start quorveld with "
                               "--http-token-file");
    const std::string given =
        request.query.count("token") ? query(request, "token") : header(request, TokenHeader);
    if (given.empty() || !policy.token->matches(given))
        return errorReply(403, std::string("the token (?token= or ") + TokenHeader +
                                   ") is missing or wrong");
    return std::nullopt;
}

// A JSON document, or the reply to a malformed one.
// A body that is not UTF-8 is read as Windows-1252, as older Windows systems
// send it.
std::variant<Json, HttpResponse> parsed(const std::string &body)
{
    try {
        return Json::parse(fields::encodeUtf8(fields::decodeUtf8OrCp1252(body)));
    } catch (const Json::exception &e) { // a syntax error, or a number too large to hold
        std::string message = e.what();
        if (const size_t close = message.find("] ");
            message.starts_with("[json") && close != std::string::npos)
            message.erase(0, close + 2);
        return errorReply(400, "malformed JSON: " + message);
    }
}

// A value as quorvel-ctl's set takes it: a string, or a number as written.
std::optional<std::string> valueText(const Json &value)
{
    if (value.is_string())
        return value.get<std::string>();
    if (value.is_number())
        return value.dump();
    return std::nullopt;
}

HttpAction setFields(const HttpRequest &request)
{
    if (mediaType(request) != "application/json")
        return errorReply(415, "PATCH takes application/json");
    auto document = parsed(request.body);
    if (const auto *reply = std::get_if<HttpResponse>(&document))
        return *reply;
    const Json &object = std::get<Json>(document);
    if (!object.is_object() || object.empty())
        return errorReply(400, "an object of field names and values is needed");
    SetFields set;
    std::vector<std::pair<std::string, std::string>> refusals;
    for (const auto &[name, value] : object.items()) {
        if (name == "seen") {
            const auto seenValue = [](const Json &v) {
                return v.is_null() || v.is_string() || v.is_number() || v.is_array();
            };
            if (!value.is_object() || !std::all_of(value.begin(), value.end(), seenValue))
                return errorReply(400, "\"seen\" is an object of field names and the values seen");
            set.seen = value;
            continue;
        }
        std::optional<std::string> text = valueText(value);
        if (name == "af" && value.is_array()) { // [87.6, 90.2]: the list's items
            text = "";
            for (const Json &item : value) {
                const auto itemText = valueText(item);
                if (!itemText || itemText->find(',') != std::string::npos) {
                    text.reset();
                    break;
                }
                text->append(text->empty() ? "" : ",").append(*itemText);
            }
        }
        if (value.is_null())
            set.drops.push_back(name);
        else if (text)
            set.values.emplace_back(name, *text);
        else
            refusals.emplace_back(
                name, name + ": " + value.dump(-1, ' ', false, Json::error_handler_t::replace) +
                          " is neither a string nor a number");
    }
    if (!refusals.empty())
        return refusedReply(refusals);
    if (set.values.empty() && set.drops.empty())
        return errorReply(400, "an object of field names and values is needed");
    return set;
}

// A JSON member that is a string, or none; a reply when it is another type.
std::optional<HttpResponse> stringMember(const Json &object, const char *key, std::string &into)
{
    const auto found = object.find(key);
    if (found == object.end() || found->is_null())
        return std::nullopt;
    if (!found->is_string())
        return errorReply(400, std::string("\"") + key + "\" is not a string");
    into = found->get<std::string>();
    return std::nullopt;
}

HttpAction songOf(const Json &document)
{
    const Json *song = &document;
    if (const auto nowPlaying = document.find("now_playing"); nowPlaying != document.end()) {
        const auto inner = nowPlaying->is_object() ? nowPlaying->find("song") : nowPlaying->end();
        if (inner == nowPlaying->end() || !inner->is_object())
            return errorReply(400, "\"now_playing\" has no \"song\" object");
        song = &*inner;
    }
    SetSong set;
    for (const auto &[key, into] :
         {std::pair{"text", &set.text}, {"artist", &set.artist}, {"title", &set.title}})
        if (auto reply = stringMember(*song, key, *into))
            return *reply;
    // A suite's song has its text too: artist and title go through the format.
    if (!set.artist.empty() || !set.title.empty())
        set.text.clear();
    if (set.text.empty() && set.artist.empty() && set.title.empty() && !song->contains("text") &&
        !song->contains("artist") && !song->contains("title"))
        return errorReply(400, "no \"text\", \"artist\" or \"title\"");
    return set;
}

HttpAction nowPlaying(const HttpRequest &request, const HttpPolicy &policy)
{
    if (request.method == "GET") {
        if (auto refusal = tokenRefusal(request, policy))
            return *refusal;
        if (!request.query.count("text") && !request.query.count("artist") &&
            !request.query.count("title"))
            return errorReply(400, "?text= or ?artist=&title= is needed");
        SetSong set{query(request, "text"), query(request, "artist"), query(request, "title")};
        if (!set.artist.empty() || !set.title.empty())
            set.text.clear();
        return set;
    }
    const std::string type = mediaType(request);
    if (type == "text/plain") {
        if (auto refusal = tokenRefusal(request, policy))
            return *refusal;
        return SetSong{request.body, {}, {}};
    }
    if (type != "application/json")
        return errorReply(415, "now playing takes application/json, or text/plain with the token");
    auto document = parsed(request.body);
    if (const auto *reply = std::get_if<HttpResponse>(&document))
        return *reply;
    const Json &object = std::get<Json>(document);
    if (!object.is_object())
        return errorReply(400, "a JSON object is needed");
    return songOf(object);
}

HttpResponse page(std::string_view path)
{
    const WebAsset *asset = findWebAsset(path);
    return {200, std::string(asset->contentType), std::string(asset->body), {}};
}

HttpResponse json(int status, const Json &document)
{
    return {status,
            "application/json",
            document.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n",
            {}};
}

} // namespace

bool CaselessLess::operator()(std::string_view a, std::string_view b) const
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) <
               std::tolower(static_cast<unsigned char>(y));
    });
}

namespace {

HttpAction decided(const HttpRequest &request, const HttpPolicy &policy)
{
    if (request.headers.count("Host") > 1)
        return errorReply(400, "more than one Host header");
    if (!knownHost(request, policy))
        return errorReply(403,
                          "unknown Host: name this daemon by its address or a --http-host name");
    const std::optional<Route> route = routeOf(request.path);
    if (!route)
        return errorReply(404, "no such resource");
    if (std::find(route->methods.begin(), route->methods.end(), request.method) ==
        route->methods.end()) {
        HttpResponse reply = errorReply(405, request.method + " is not allowed here");
        reply.headers.emplace_back("Allow", joined(route->methods));
        return reply;
    }
    if (!request.body.empty() && request.method != "POST" && request.method != "PATCH")
        return errorReply(400, request.method + " takes no body");
    const bool change = changes(*route, request.method);
    const bool guarded = change || route->resource == Resource::Changes ||
                         (route->resource == Resource::Metrics && !policy.metricsPublic);
    if (guarded && policy.password && request.login != Login::Verified) {
        // Only credentials not checked lately cost a key derivation, done
        // off the event loop.
        const std::string authorization = header(request, "Authorization");
        if (request.login == Login::Failed || !Credentials::isBasic(authorization))
            return unauthenticated();
        if (!policy.password->remembered(authorization))
            return CheckLogin{};
    }

    switch (route->resource) {
    case Resource::Page: return page(route->name);
    case Resource::Fields:
        if (request.method == "PATCH") {
            HttpAction action = setFields(request);
            if (auto *set = std::get_if<SetFields>(&action)) // past the guard above
                set->authenticated = policy.password != nullptr;
            return action;
        }
        return ReadFields{};
    case Resource::Field:
        if (!RdsUsbFindField(route->name)) // the whole name: a NUL ends no lookup
            return errorReply(404, "no field " + std::string(route->name));
        return ReadField{std::string(route->name)};
    case Resource::Status: return ReadStatus{};
    case Resource::NowPlaying: return nowPlaying(request, policy);
    case Resource::Metrics: return ReadMetrics{};
    case Resource::Events: return OpenEvents{};
    case Resource::Changes: return ReadChanges{};
    }
    return errorReply(404, "no such resource");
}

} // namespace

HttpAction decide(const HttpRequest &request, const HttpPolicy &policy)
{
    try {
        return decided(request, policy);
    } catch (const nlohmann::json::exception &e) {
        return errorReply(400, std::string("the JSON cannot be taken: ") + e.what());
    }
}

bool isChange(const HttpRequest &request)
{
    const std::optional<Route> route = routeOf(request.path);
    return route && changes(*route, request.method);
}

std::string userOf(const HttpRequest &request, const HttpPolicy &policy)
{
    const std::string authorization = header(request, "Authorization");
    if (!policy.password || !Credentials::isBasic(authorization))
        return {};
    return Credentials::userOf(authorization).substr(0, 64);
}

const std::vector<std::pair<std::string, std::string>> &commonHeaders()
{
    static const std::vector<std::pair<std::string, std::string>> headers{
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        {"Content-Security-Policy",
         "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; base-uri 'none'; "
         "form-action 'none'"},
    };
    return headers;
}

HttpResponse errorReply(int status, const std::string &message)
{
    return json(status, Json{{"error", message}});
}

namespace {

Json refusalList(const std::vector<std::pair<std::string, std::string>> &refusals)
{
    Json list = Json::array();
    for (const auto &[field, message] : refusals)
        list.push_back({{"field", field}, {"message", message}});
    return list;
}

} // namespace

HttpResponse refusedReply(const std::vector<std::pair<std::string, std::string>> &refusals)
{
    return json(422,
                {{"error", "value refused, nothing changed"}, {"refused", refusalList(refusals)}});
}

HttpResponse overBudgetReply(const std::vector<std::pair<std::string, std::string>> &refusals,
                             long long retryAfterSeconds)
{
    HttpResponse reply = json(429, {{"error", "the EEPROM write budget is spent, nothing changed"},
                                    {"refused", refusalList(refusals)}});
    reply.headers.emplace_back("Retry-After", std::to_string(retryAfterSeconds));
    return reply;
}

HttpResponse conflictReply(const std::vector<ConflictItem> &conflicts)
{
    Json list = Json::array();
    for (const ConflictItem &c : conflicts) {
        Json item{{"field", c.field}, {"value", c.value}};
        item["door"] = c.door.empty() ? Json() : Json(c.door);
        if (!c.door.empty())
            item.update({{"client", c.client}, {"user", c.user}, {"time", c.time}});
        list.push_back(std::move(item));
    }
    return json(409, {{"error", "changed elsewhere since you saw it, nothing changed"},
                      {"conflicts", list}});
}

HttpResponse changesReply(const nlohmann::ordered_json &changes)
{
    return json(200, {{"changes", changes}});
}

HttpResponse acceptedReply(const nlohmann::ordered_json &pending, uint64_t version)
{
    return json(202, {{"pending", pending}, {"version", version}});
}

HttpResponse fieldsReply(const nlohmann::ordered_json &held, const nlohmann::ordered_json &pending,
                         const nlohmann::ordered_json &asked, uint64_t version,
                         const nlohmann::ordered_json &lastKnown)
{
    Json document{{"fields", held}, {"pending", pending}, {"asked", asked}, {"version", version}};
    if (!lastKnown.empty())
        document["last_known"] = lastKnown;
    return json(200, document);
}

HttpResponse fieldReply(const std::string &name, const nlohmann::ordered_json &held,
                        const nlohmann::ordered_json &pending, const nlohmann::ordered_json &asked)
{
    Json document{{"field", name}, {"value", held.contains(name) ? held[name] : Json()}};
    if (pending.contains(name))
        document["pending"] = pending[name];
    if (asked.contains(name))
        document["asked"] = asked[name];
    return json(200, document);
}

HttpResponse statusReply(const nlohmann::ordered_json &status)
{
    return json(200, status);
}

HttpResponse metricsReply(const std::string &text)
{
    return {200, std::string(MetricsType), text, {}};
}

} // namespace qd
