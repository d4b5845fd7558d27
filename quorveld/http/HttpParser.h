// Reading a request off the wire: Beast's parser, limited in header bytes,
// header lines and body bytes, filling an HttpRequest directly. No sockets:
// the server feeds it through Beast's reads, the fuzz target byte by byte.
#ifndef QUORVELD_HTTP_PARSER_H
#define QUORVELD_HTTP_PARSER_H

#include "HttpApi.h"

#include <boost/beast/http/basic_parser.hpp>

#include <map>
#include <string>
#include <string_view>

namespace qd {

struct HeadLimits {
    size_t bytes = size_t{16} * 1024; // request line and header lines together
    size_t lines = 100;               // header lines
    size_t body = MaxHttpBody;
};

class RequestParser : public boost::beast::http::basic_parser<true> {
public:
    explicit RequestParser(const HeadLimits &limits = {});
    HttpRequest &request() { return request_; }
    // Expect: 100-continue on an HTTP/1.1 request with a body still to come.
    bool expectsContinue() const { return http11_ && expectContinue_ && !is_done(); }
    bool http11() const { return http11_; }

private:
    using error_code = boost::beast::error_code;
    using string_view = boost::beast::string_view;

    void on_request_impl(boost::beast::http::verb, string_view method, string_view target,
                         int version, error_code &ec) override;
    void on_response_impl(int, string_view, int, error_code &ec) override;
    void on_field_impl(boost::beast::http::field name, string_view nameText, string_view value,
                       error_code &ec) override;
    void on_header_impl(error_code &ec) override;
    void on_body_init_impl(const boost::optional<std::uint64_t> &length, error_code &ec) override;
    size_t on_body_impl(string_view body, error_code &ec) override;
    void on_chunk_header_impl(std::uint64_t, string_view, error_code &) override {}
    size_t on_chunk_body_impl(std::uint64_t, string_view body, error_code &ec) override;
    void on_finish_impl(error_code &) override {}

    HeadLimits limits_;
    HttpRequest request_;
    size_t lines_ = 0;
    int lengths_ = 0, encodings_ = 0;
    bool chunked_ = false, expectContinue_ = false, http11_ = false;
};

// The status that answers a parser's error: 431 for a head over its limits,
// 413 for a body over its own, 400 for the rest.
int statusOf(const boost::beast::error_code &error);

// An origin-form target: its path and its query, percent-decoded (the query's
// '+' as a space) to raw bytes; false for another form or a bad escape.
bool splitTarget(std::string_view target, std::string &path,
                 std::multimap<std::string, std::string> &query);

} // namespace qd

#endif
