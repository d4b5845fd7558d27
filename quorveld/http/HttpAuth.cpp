#include "HttpAuth.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qd {

namespace {

constexpr std::string_view Scheme = "pbkdf2-sha256";
constexpr size_t HashBytes = 32;
constexpr size_t SaltBytes = 16;
constexpr int MaxIterations = 10000000;

using Digest = std::array<unsigned char, SHA256_DIGEST_LENGTH>;

Digest sha256(std::string_view text)
{
    Digest digest;
    SHA256(reinterpret_cast<const unsigned char *>(text.data()), text.size(), digest.data());
    return digest;
}

bool sameDigest(const Digest &a, const Digest &b)
{
    return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string derive(std::string_view password, std::string_view salt, int iterations)
{
    std::string key(HashBytes, '\0');
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                          reinterpret_cast<const unsigned char *>(salt.data()),
                          static_cast<int>(salt.size()), iterations, EVP_sha256(),
                          static_cast<int>(key.size()),
                          reinterpret_cast<unsigned char *>(key.data())) != 1)
        throw std::runtime_error("password hashing failed");
    return key;
}

bool hasControl(std::string_view text)
{
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

std::string readFile(const std::string &path, const char *what)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf()))
        throw std::runtime_error(std::string(what) + " " + path + ": cannot be read");
    return text.str();
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    size_t from = 0;
    for (size_t at; (at = text.find(separator, from)) != std::string_view::npos; from = at + 1)
        parts.push_back(text.substr(from, at - from));
    parts.push_back(text.substr(from));
    return parts;
}

std::string_view withoutLineEnd(std::string_view line)
{
    return line.ends_with('\r') ? line.substr(0, line.size() - 1) : line;
}

} // namespace

std::string base64Encode(std::string_view bytes)
{
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(text.data()),
                                       reinterpret_cast<const unsigned char *>(bytes.data()),
                                       static_cast<int>(bytes.size()));
    text.resize(static_cast<size_t>(length));
    return text;
}

bool base64Decode(std::string_view text, std::string &bytes)
{
    if (text.size() % 4 != 0)
        return false;
    for (size_t i = 0; i < text.size(); i++) {
        const char c = text[i];
        const bool padding =
            c == '=' && i + 2 >= text.size() && (i + 1 == text.size() || text[i + 1] == '=');
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || padding))
            return false;
    }
    bytes.assign(3 * text.size() / 4, '\0');
    if (EVP_DecodeBlock(reinterpret_cast<unsigned char *>(bytes.data()),
                        reinterpret_cast<const unsigned char *>(text.data()),
                        static_cast<int>(text.size())) < 0)
        return false;
    // EVP_DecodeBlock counts the padding as zero bytes.
    bytes.resize(bytes.size() - static_cast<size_t>(text.ends_with("==")  ? 2
                                                    : text.ends_with('=') ? 1
                                                                          : 0));
    return true;
}

std::string hashPasswordLine(const std::string &user, const std::string &password, int iterations)
{
    if (user.empty() || user.find(':') != std::string::npos || hasControl(user))
        throw std::invalid_argument("a user name without ':' and control characters is needed");
    if (password.find_first_of("\r\n") != std::string::npos)
        throw std::invalid_argument("a password is one line");
    if (iterations < 1 || iterations > MaxIterations)
        throw std::invalid_argument("iterations out of range");
    std::string salt(SaltBytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char *>(salt.data()), static_cast<int>(salt.size())) !=
        1)
        throw std::runtime_error("no random bytes for the salt");
    return user + ":" + std::string(Scheme) + "$" + std::to_string(iterations) + "$" +
           base64Encode(salt) + "$" + base64Encode(derive(password, salt, iterations));
}

Credentials::Credentials(std::string_view text, const std::string &name)
{
    int number = 0;
    for (std::string_view line : split(text, '\n')) {
        number++;
        line = withoutLineEnd(line);
        if (line.empty() || line.starts_with('#'))
            continue;
        const auto bad = [&](const char *why) {
            return std::runtime_error(name + ":" + std::to_string(number) + ": " + why);
        };
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0)
            throw bad("not USER:pbkdf2-sha256$ITERATIONS$SALT$HASH");
        const std::vector<std::string_view> parts = split(line.substr(colon + 1), '$');
        if (parts.size() != 4 || parts[0] != Scheme)
            throw bad("not USER:pbkdf2-sha256$ITERATIONS$SALT$HASH");
        User user{std::string(line.substr(0, colon)), 0, {}, {}};
        const auto [end, ec] =
            std::from_chars(parts[1].data(), parts[1].data() + parts[1].size(), user.iterations);
        if (ec != std::errc() || end != parts[1].data() + parts[1].size() || user.iterations < 1 ||
            user.iterations > MaxIterations)
            throw bad("iterations are not a number of 1-10000000");
        if (!base64Decode(parts[2], user.salt) || user.salt.empty())
            throw bad("the salt is not base64");
        if (!base64Decode(parts[3], user.hash) || user.hash.size() != HashBytes)
            throw bad("the hash is not 32 bytes in base64");
        users_.push_back(std::move(user));
    }
    if (users_.empty())
        throw std::runtime_error(name + ": no user");
    if (RAND_bytes(key_.data(), static_cast<int>(key_.size())) != 1)
        throw std::runtime_error("no random bytes for the credentials' key");
}

Credentials Credentials::load(const std::string &path)
{
    return Credentials(readFile(path, "password file"), path);
}

Credentials::Credentials(Credentials &&other) noexcept
    : users_(std::move(other.users_)), key_(other.key_), derivations_(other.derivations_.load())
{
    const std::lock_guard lock(other.mutex_);
    remembered_ = std::move(other.remembered_);
}

bool Credentials::check(std::string_view user, std::string_view password) const
{
    // An unknown user costs a derivation too, so that timing does not tell
    // which users exist.
    const User *match = &users_.front();
    bool known = false;
    const Digest given = sha256(user);
    for (const User &candidate : users_) {
        const bool same = sameDigest(sha256(candidate.name), given);
        if (same && !known) {
            match = &candidate;
            known = true;
        }
    }
    const std::string key = derive(password, match->salt, match->iterations);
    return CRYPTO_memcmp(key.data(), match->hash.data(), HashBytes) == 0 && known;
}

namespace {

// USER:PASSWORD from "Basic BASE64(USER:PASSWORD)"; false for another form.
bool basicPair(std::string_view authorization, std::string &pair)
{
    constexpr std::string_view Basic = "basic ";
    if (authorization.size() < Basic.size())
        return false;
    for (size_t i = 0; i < Basic.size(); i++)
        if (std::tolower(static_cast<unsigned char>(authorization[i])) != Basic[i])
            return false;
    std::string_view encoded = authorization.substr(Basic.size());
    while (encoded.starts_with(' '))
        encoded.remove_prefix(1);
    return base64Decode(encoded, pair) && pair.find(':') != std::string::npos;
}

} // namespace

bool Credentials::isBasic(std::string_view authorization)
{
    std::string pair;
    return basicPair(authorization, pair);
}

std::string Credentials::userOf(std::string_view authorization)
{
    std::string pair;
    if (!basicPair(authorization, pair))
        return {};
    std::string user = pair.substr(0, std::min<size_t>(pair.find(':'), 64));
    for (char &c : user)
        if (c < 0x20 || c > 0x7E)
            c = '?';
    return user;
}

Credentials::Mac Credentials::mac(std::string_view pair) const
{
    Mac out{};
    unsigned int length = 0;
    HMAC(EVP_sha256(), key_.data(), static_cast<int>(key_.size()),
         reinterpret_cast<const unsigned char *>(pair.data()), pair.size(), out.data(), &length);
    return out;
}

bool Credentials::remembered(std::string_view authorization, Clock::time_point now) const
{
    std::string pair;
    if (!basicPair(authorization, pair))
        return false;
    const Mac given = mac(pair);
    const std::lock_guard lock(mutex_);
    return std::any_of(remembered_.begin(), remembered_.end(), [&](const auto &entry) {
        return now - entry.second < RememberFor &&
               CRYPTO_memcmp(entry.first.data(), given.data(), given.size()) == 0;
    });
}

bool Credentials::verify(std::string_view authorization, Clock::time_point now) const
{
    std::string pair;
    if (!basicPair(authorization, pair))
        return false;
    if (remembered(authorization, now))
        return true;
    derivations_++;
    const size_t colon = pair.find(':');
    if (!check(std::string_view(pair).substr(0, colon), std::string_view(pair).substr(colon + 1)))
        return false;
    const std::lock_guard lock(mutex_);
    std::erase_if(remembered_,
                  [&](const auto &entry) { return now - entry.second >= RememberFor; });
    if (remembered_.size() >= MaxRemembered)
        remembered_.erase(
            std::min_element(remembered_.begin(), remembered_.end(),
                             [](const auto &a, const auto &b) { return a.second < b.second; }));
    remembered_.emplace_back(mac(pair), now);
    return true;
}

std::chrono::seconds LoginThrottle::wait(const std::string &address, Clock::time_point now) const
{
    const auto found = failures_.find(address);
    if (found == failures_.end() || now - found->second.last >= ForgetAfter ||
        found->second.until <= now)
        return std::chrono::seconds(0);
    return std::chrono::ceil<std::chrono::seconds>(found->second.until - now);
}

void LoginThrottle::failed(const std::string &address, Clock::time_point now)
{
    auto found = failures_.find(address);
    if (found == failures_.end()) {
        if (failures_.size() >= max_ && max_ > 0)
            failures_.erase(std::min_element(
                failures_.begin(), failures_.end(),
                [](const auto &a, const auto &b) { return a.second.last < b.second.last; }));
        found = failures_.emplace(address, Failures{}).first;
    }
    Failures &f = found->second;
    if (now - f.last >= ForgetAfter)
        f = Failures{};
    f.count++;
    f.last = now;
    if (f.count > FreeFailures)
        f.until = now + std::min<std::chrono::seconds>(
                            std::chrono::seconds(1LL << std::min(f.count - FreeFailures - 1, 16)),
                            MaxWait);
}

Token::Token(std::string_view text, const std::string &name)
{
    std::string_view line = withoutLineEnd(text.substr(0, text.find('\n')));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    if (line.empty())
        throw std::runtime_error(name + ": no token on the first line");
    digest_ = sha256(line);
}

Token Token::load(const std::string &path)
{
    return Token(readFile(path, "token file"), path);
}

bool Token::matches(std::string_view given) const
{
    return sameDigest(sha256(given), digest_);
}

} // namespace qd
