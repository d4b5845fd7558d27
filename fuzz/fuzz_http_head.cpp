// quorveld's reading of a request off the wire: any bytes, arriving in
// pieces of any size, give either an error (answered 431, 413 or 400) or a
// request within the limits, framed one way only, which the request handling
// then takes without throwing. Small limits, so that inputs reach them.
// Input: the first byte sets the size of the pieces (1-256); the rest arrives.
#include "FuzzUsb.h"
#include "HttpApi.h"
#include "HttpParser.h"

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/error.hpp>

#include <string>
#include <string_view>

namespace {

constexpr qd::HeadLimits Limits{512, 8, 256};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    namespace http = boost::beast::http;
    if (size == 0)
        return 0;
    const size_t piece = data[0] + 1U;
    const std::string_view input(reinterpret_cast<const char *>(data + 1), size - 1);
    qd::RequestParser parser(Limits);
    boost::beast::error_code error;
    std::string held; // what arrived and the parser has not taken yet, as Beast's reads keep it
    for (size_t fed = 0; !parser.is_done() && !error;) {
        if (fed >= input.size()) { // the end of the stream
            if (!parser.got_some())
                return 0;
            parser.put_eof(error);
            break;
        }
        held += input.substr(fed, piece);
        fed += piece;
        held.erase(0, parser.put(boost::asio::buffer(held), error));
        if (error == http::error::need_more)
            error = {};
    }
    if (error) {
        const int status = qd::statusOf(error);
        fuzzusb::check(status == 400 || status == 413 || status == 431);
        return 0;
    }
    fuzzusb::check(parser.is_done());
    qd::HttpRequest &request = parser.request();
    fuzzusb::check(request.headers.size() <= Limits.lines && request.body.size() <= Limits.body);
    fuzzusb::check(request.path.starts_with('/'));
    const size_t lengths = request.headers.count("Content-Length");
    const size_t encodings = request.headers.count("Transfer-Encoding");
    fuzzusb::check(lengths + encodings <= 1);
    if (lengths == 1)
        fuzzusb::check(std::stoull(request.headers.find("Content-Length")->second) ==
                       request.body.size());
    request.localAddress = "127.0.0.1";
    const qd::HttpPolicy policy{{"encoder"}, nullptr, nullptr, false};
    const qd::HttpAction action = qd::decide(request, policy);
    if (const auto *reply = std::get_if<qd::HttpResponse>(&action))
        fuzzusb::check(reply->status >= 200 && reply->status < 500);
    return 0;
}
