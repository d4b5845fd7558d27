#include "HttpParser.h"

#include <boost/beast/core/string.hpp>
#include <boost/beast/http/error.hpp>

#include <algorithm>
#include <cctype>

namespace qd {

namespace http = boost::beast::http;

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// %XX escapes (and '+' for a space, in a query) to raw bytes.
bool decoded(std::string_view text, bool plusIsSpace, std::string &out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '%') {
            if (i + 2 >= text.size())
                return false;
            const int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
            if (high < 0 || low < 0)
                return false;
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            out.push_back(plusIsSpace && text[i] == '+' ? ' ' : text[i]);
        }
    }
    return true;
}

} // namespace

bool splitTarget(std::string_view target, std::string &path,
                 std::multimap<std::string, std::string> &query)
{
    if (!target.starts_with('/'))
        return false;
    const size_t mark = target.find('?');
    if (!decoded(target.substr(0, mark), false, path))
        return false;
    query.clear();
    std::string_view rest =
        mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
    std::string name, value;
    while (!rest.empty()) {
        const std::string_view pair = rest.substr(0, rest.find('&'));
        rest.remove_prefix(std::min(rest.size(), pair.size() + 1));
        if (pair.empty())
            continue;
        const size_t equals = pair.find('=');
        if (!decoded(pair.substr(0, equals), true, name) ||
            !decoded(equals == std::string_view::npos ? std::string_view()
                                                      : pair.substr(equals + 1),
                     true, value))
            return false;
        query.emplace(name, value);
    }
    return true;
}

RequestParser::RequestParser(const HeadLimits &limits) : limits_(limits)
{
    header_limit(static_cast<std::uint32_t>(limits.bytes));
    body_limit(limits.body);
}

void RequestParser::on_request_impl(http::verb, string_view method, string_view target, int version,
                                    error_code &ec)
{
    if (version != 11)
        expectContinue_ = false;
    http11_ = version == 11;
    if (version != 10 && version != 11) {
        ec = http::error::bad_version;
        return;
    }
    request_.method.assign(method.data(), method.size());
    if (!splitTarget(std::string_view(target.data(), target.size()), request_.path, request_.query))
        ec = http::error::bad_target;
}

void RequestParser::on_response_impl(int, string_view, int, error_code &ec)
{
    ec = http::error::bad_method; // a request parser only
}

void RequestParser::on_field_impl(http::field name, string_view nameText, string_view value,
                                  error_code &ec)
{
    if (++lines_ > limits_.lines) {
        ec = http::error::header_limit;
        return;
    }
    if (name == http::field::content_length)
        lengths_++;
    if (name == http::field::transfer_encoding) {
        encodings_++;
        chunked_ = boost::beast::iequals(value, "chunked");
    }
    if (name == http::field::expect)
        expectContinue_ = boost::beast::iequals(value, "100-continue");
    request_.headers.emplace(std::string(nameText.data(), nameText.size()),
                             std::string(value.data(), value.size()));
}

// A body's length comes from one Content-Length or from chunks, never both:
// two readers of the same bytes must not disagree on where a request ends.
void RequestParser::on_header_impl(error_code &ec)
{
    if (encodings_ > 1 || (encodings_ == 1 && (lengths_ > 0 || !chunked_)))
        ec = http::error::bad_transfer_encoding;
    else if (lengths_ > 1)
        ec = http::error::bad_content_length;
}

void RequestParser::on_body_init_impl(const boost::optional<std::uint64_t> &length, error_code &)
{
    if (length)
        request_.body.reserve(static_cast<size_t>(std::min<std::uint64_t>(*length, limits_.body)));
}

size_t RequestParser::on_body_impl(string_view body, error_code &)
{
    request_.body.append(body.data(), body.size());
    return body.size();
}

size_t RequestParser::on_chunk_body_impl(std::uint64_t, string_view body, error_code &)
{
    request_.body.append(body.data(), body.size());
    return body.size();
}

int statusOf(const boost::beast::error_code &error)
{
    if (error == http::error::header_limit)
        return 431;
    if (error == http::error::body_limit)
        return 413;
    return 400;
}

} // namespace qd
