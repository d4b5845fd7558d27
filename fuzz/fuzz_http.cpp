// quorveld's HTTP request handling: any method, path, query, headers and body
// get a well-formed reply or a station action, never a CORS header, and never
// a change without the password and the Host the policy asks for; nothing a
// client sends makes it throw.
// Input: lines METHOD, PATH, QUERY (a=b&c=d), Host, Content-Type,
// Authorization, token header; the rest is the body.
#include "FuzzUsb.h"
#include "HttpApi.h"
#include "HttpAuth.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace {

// "pw" for the user "ops", one iteration: cheap to check.
const qd::Credentials &credentials()
{
    static const qd::Credentials c(
        "ops:pbkdf2-sha256$1$c2FsdA==$b0rYx47DZcBg5kjraU7kDepYSEsDcfvWFxWsRBC3OAo=\n", "fuzz");
    return c;
}

std::string_view line(std::string_view &input)
{
    const size_t end = input.find('\n');
    const std::string_view first = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    return first;
}

void checkReply(const qd::HttpResponse &reply)
{
    const int s = reply.status;
    fuzzusb::check(s == 200 || s == 400 || s == 401 || s == 403 || s == 404 || s == 405 ||
                   s == 415 || s == 422);
    for (const auto &[name, value] : reply.headers)
        fuzzusb::check(!name.starts_with("Access-Control"));
    if (reply.contentType == "application/json") {
        const auto document = nlohmann::json::parse(reply.body, nullptr, false);
        fuzzusb::check(!document.is_discarded() && (s == 200 || document.contains("error")));
    }
    fuzzusb::check((s == 401) ==
                   (!reply.headers.empty() && reply.headers[0].first == "WWW-Authenticate"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view input(reinterpret_cast<const char *>(data), size);
    qd::HttpRequest request;
    request.method = line(input);
    request.path = line(input);
    std::string_view query = line(input);
    while (!query.empty()) {
        const std::string_view pair = query.substr(0, query.find('&'));
        query.remove_prefix(std::min(query.size(), pair.size() + 1));
        const size_t equals = pair.find('=');
        request.query.emplace(pair.substr(0, equals), equals == std::string_view::npos
                                                          ? std::string_view()
                                                          : pair.substr(equals + 1));
    }
    for (const char *name : {"Host", "Content-Type", "Authorization", qd::TokenHeader})
        if (const std::string_view value = line(input); !value.empty())
            request.headers.emplace(name, value);
    request.body = input;
    request.localAddress = "127.0.0.1";

    static const qd::Token token("tok", "fuzz");
    const bool open = request.method.size() % 2 == 0; // with and without the password
    const qd::HttpPolicy policy{{"encoder"}, open ? nullptr : &credentials(), &token, open};
    qd::HttpAction action = qd::decide(request, policy);
    if (std::holds_alternative<qd::CheckLogin>(action)) { // as the server does, off the loop
        fuzzusb::check(!open);
        const auto authorization = request.headers.find("Authorization");
        request.login =
            credentials().verify(authorization->second) ? qd::Login::Verified : qd::Login::Failed;
        action = qd::decide(request, policy);
        fuzzusb::check(!std::holds_alternative<qd::CheckLogin>(action));
    }
    if (const auto *reply = std::get_if<qd::HttpResponse>(&action)) {
        checkReply(*reply);
        return 0;
    }
    const auto host = request.headers.find("Host");
    fuzzusb::check(host != request.headers.end());
    const bool change = std::holds_alternative<qd::SetFields>(action) ||
                        std::holds_alternative<qd::SetSong>(action);
    fuzzusb::check(change == qd::isChange(request));
    if (change && !open)
        fuzzusb::check(credentials().verify(request.headers.find("Authorization")->second));
    if (std::holds_alternative<qd::OpenEvents>(action))
        fuzzusb::check(request.method == "GET" && request.path == "/api/v1/events");
    if (const auto *set = std::get_if<qd::SetFields>(&action)) {
        fuzzusb::check(!set->values.empty() || !set->drops.empty());
        checkReply(qd::refusedReply(set->values)); // values as messages: any bytes
    }
    if (const auto *read = std::get_if<qd::ReadField>(&action))
        checkReply(qd::fieldReply(read->name, {{read->name, request.body}},
                                  nlohmann::ordered_json::object(),
                                  nlohmann::ordered_json::object()));
    return 0;
}
