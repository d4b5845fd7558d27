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
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
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
    using Clock = std::chrono::steady_clock;
    // Credentials that passed are remembered this long, so many at most.
    static constexpr std::chrono::minutes RememberFor{5};
    static constexpr size_t MaxRemembered = 64;

    // Throws std::runtime_error naming `name` and the line for a line that is
    // not of the form above, and for a file without any user.
    Credentials(std::string_view text, const std::string &name);
    static Credentials load(const std::string &path);
    Credentials(Credentials &&other) noexcept;

    // Whether an Authorization header's value has the form "Basic
    // BASE64(USER:PASSWORD)"; one that has not is refused unchecked.
    static bool isBasic(std::string_view authorization);
    // The user it names, for the log: printable ASCII only, 64 characters at most.
    static std::string userOf(std::string_view authorization);

    // Whether it names a user of the file with that user's password: a key
    // derivation (hundreds of milliseconds at the default rounds, whichever
    // the user), compared in constant time. Credentials that pass are
    // remembered for RememberFor as an HMAC under a key drawn at start,
    // never as the password. Thread-safe.
    bool verify(std::string_view authorization, Clock::time_point now = Clock::now()) const;
    // Whether these credentials passed verify() within RememberFor: cheap.
    bool remembered(std::string_view authorization, Clock::time_point now = Clock::now()) const;
    // The key derivations done so far.
    uint64_t derivations() const { return derivations_; }

private:
    struct User {
        std::string name;
        int iterations;
        std::string salt, hash;
    };
    using Mac = std::array<unsigned char, 32>;
    bool check(std::string_view user, std::string_view password) const;
    Mac mac(std::string_view authorization) const;

    std::vector<User> users_;
    Mac key_{}; // of the HMAC of remembered credentials
    mutable std::mutex mutex_;
    mutable std::vector<std::pair<Mac, Clock::time_point>> remembered_; // and when they passed
    mutable std::atomic<uint64_t> derivations_{0};
};

// Failed logins by client address (as the server counts addresses): the
// first FreeFailures cost nothing more; each further one shuts the address
// out for a time that doubles from 1 s up to MaxWait. A success forgets the
// address, and so does ForgetAfter without a failure. At most `maxAddresses`
// are kept, since addresses can be forged: past them, the one whose last
// failure is oldest goes. On one thread only.
class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int FreeFailures = 5;
    static constexpr std::chrono::seconds MaxWait{300};
    static constexpr std::chrono::minutes ForgetAfter{15};

    explicit LoginThrottle(size_t maxAddresses = 4096) : max_(maxAddresses) {}
    // How long the address must still wait before a login of its is checked.
    std::chrono::seconds wait(const std::string &address, Clock::time_point now) const;
    void failed(const std::string &address, Clock::time_point now);
    void succeeded(const std::string &address) { failures_.erase(address); }
    size_t size() const { return failures_.size(); }

private:
    struct Failures {
        int count = 0;
        Clock::time_point last, until;
    };
    size_t max_;
    std::map<std::string, Failures> failures_;
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
