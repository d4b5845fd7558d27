// The HTTP door's secrets: the password file of HTTP Basic authentication and
// the token of the now-playing URL and plain-text body.
//
// Password file: one line per user, USER:pbkdf2-sha256$ITERATIONS$SALT$HASH,
// SALT and HASH in base64 (HASH: 32 bytes of PBKDF2-HMAC-SHA256 over the
// password); blank lines and lines starting with '#' are skipped. Made by
// `quorveld --hash-password USER`. Token file: the token on its first line.
#ifndef QUORVELD_HTTP_AUTH_H
#define QUORVELD_HTTP_AUTH_H

#include <array>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qd {

inline constexpr int DefaultPasswordIterations = 600000;

// A line of the password file for `user`, with a fresh random salt. Throws
// std::invalid_argument for a user name with ':' or a control character, or
// an empty one, and for a password with a line break.
std::string hashPasswordLine(const std::string &user, const std::string &password,
                             int iterations = DefaultPasswordIterations);

class Credentials {
public:
    // Throws std::runtime_error naming `name` and the line for a line that is
    // not of the form above, and for a file without any user.
    Credentials(std::string_view text, const std::string &name);
    static Credentials load(const std::string &path);
    Credentials(Credentials &&other) noexcept;

    // An Authorization header's value, "Basic BASE64(USER:PASSWORD)": whether
    // it names a user of the file with that user's password. Compares in
    // constant time; the last accepted credentials are remembered as a digest,
    // so that a page's every request does not cost a key derivation.
    bool verify(std::string_view authorization) const;

private:
    struct User {
        std::string name;
        int iterations;
        std::string salt, hash;
    };
    bool check(std::string_view user, std::string_view password) const;

    std::vector<User> users_;
    mutable std::mutex mutex_;
    mutable std::array<unsigned char, 32> accepted_{}; // SHA-256 of USER:PASSWORD
    mutable bool hasAccepted_ = false;
};

class Token {
public:
    // Throws std::runtime_error naming `name` for an empty token.
    Token(std::string_view text, const std::string &name);
    static Token load(const std::string &path);
    // Compares in constant time, whatever the lengths.
    bool matches(std::string_view given) const;

private:
    std::array<unsigned char, 32> digest_; // SHA-256 of the token
};

// Base64 (RFC 4648, with padding) through OpenSSL; decode gives nothing
// (false) for text that is not base64.
std::string base64Encode(std::string_view bytes);
bool base64Decode(std::string_view text, std::string &bytes);

} // namespace qd

#endif
