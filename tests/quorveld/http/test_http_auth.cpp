// The password file and the token, against published test vectors (base64
// included).
#include "HttpAuth.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

std::string basic(const std::string &pair) { return "Basic " + qd::base64Encode(pair); }

// RFC 7914, section 11: PBKDF2-HMAC-SHA256 of "passwd" with salt "salt", one
// iteration, first 32 bytes 55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc.
const std::string rfcHash = "pbkdf2-sha256$1$c2FsdA==$VawEblbjCJ/sFpHCJUS2BflBhSFt3gRl5oudV8INrLw=";

TEST(HttpAuth, APasswordLineHoldsPbkdf2Sha256WithAFreshSalt)
{
    const qd::Credentials credentials("op:" + rfcHash + "\n", "passwords");
    EXPECT_TRUE(credentials.verify(basic("op:passwd")));
    EXPECT_TRUE(credentials.verify("basic   " + qd::base64Encode("op:passwd")));
    for (const std::string &wrong :
         {basic("op:passwe"), basic("op:passwd "), basic("oq:passwd"), basic("op"),
          basic(":passwd"), std::string("Basic"), std::string("Digest x"),
          "Bearer " + qd::base64Encode("op:passwd")})
        EXPECT_FALSE(credentials.verify(wrong)) << wrong;

    // --hash-password's line: the format, a fresh salt, 600,000 iterations by default.
    const std::string line = qd::hashPasswordLine("ops", "pässword: with colon", 2000);
    const std::regex form(R"(ops:pbkdf2-sha256\$2000\$[A-Za-z0-9+/]{22}==\$[A-Za-z0-9+/]{43}=)");
    EXPECT_TRUE(std::regex_match(line, form)) << line;
    EXPECT_NE(line, qd::hashPasswordLine("ops", "pässword: with colon", 2000));
    const qd::Credentials two(
        "\n# a comment\n" + line + "\r\n" + qd::hashPasswordLine("two", "x", 10) + "\n", "p");
    EXPECT_TRUE(two.verify(basic("ops:pässword: with colon")));
    EXPECT_TRUE(two.verify(basic("two:x")));
    EXPECT_FALSE(two.verify(basic("two:pässword: with colon")));
    EXPECT_NE(qd::hashPasswordLine("ops", "x").find("$600000$"), std::string::npos);
    for (const auto &[user, password] :
         {std::pair{"", "x"}, {"a:b", "x"}, {"a\nb", "x"}, {"a", "x\ny"}})
        EXPECT_THROW(qd::hashPasswordLine(user, password, 10), std::invalid_argument) << user;
}

// A malformed password file or token is refused, naming the file and line;
// so is text that is not base64.
TEST(HttpAuth, AMalformedPasswordFileIsRefusedNamingTheLine)
{
    const std::string hash = rfcHash.substr(rfcHash.rfind('$'));
    for (const auto &[text, message] : std::vector<std::pair<std::string, std::string>>{
             {"", "f: no user"},
             {"# only a comment\n", "f: no user"},
             {"op\n", "f:1: not USER:"},
             {"\n:" + rfcHash, "f:2: not USER:"},
             {"op:sha1$1$c2FsdA==" + hash, "f:1: not USER:"},
             {"op:pbkdf2-sha256$0$c2FsdA==" + hash, "f:1: iterations"},
             {"op:pbkdf2-sha256$99999999$c2FsdA==" + hash, "f:1: iterations"},
             {"op:pbkdf2-sha256$1x$c2FsdA==" + hash, "f:1: iterations"},
             {"op:pbkdf2-sha256$1$c2Fsd" + hash, "f:1: the salt"},
             {"op:pbkdf2-sha256$1$c2FsdA==$VawEblbjCJ/sFpHCJUS2Bfl=", "f:1: the hash"},
             {"op:" + rfcHash + "$", "f:1: not USER:"}}) {
        try {
            qd::Credentials credentials(text, "f");
            ADD_FAILURE() << text;
        } catch (const std::runtime_error &e) {
            EXPECT_TRUE(std::string(e.what()).starts_with(message)) << e.what();
        }
    }
    EXPECT_THROW(qd::Credentials::load("/nonexistent/passwords"), std::runtime_error);
    const qd::Token token("  tok-123 \r\nsecond line\n", "t"); // the first line, trimmed
    EXPECT_TRUE(token.matches("tok-123"));
    for (const char *wrong : {"tok-12", "tok-1234", " tok-123", "", "second line"})
        EXPECT_FALSE(token.matches(wrong)) << wrong;
    for (const char *empty : {"", "\n", "  \nsecond\n"})
        EXPECT_THROW(qd::Token(empty, "t"), std::runtime_error) << empty;
    EXPECT_THROW(qd::Token::load("/nonexistent/token"), std::runtime_error);
    std::string decoded; // base64 (RFC 4648) with its padding only
    for (const char *bad : {"Zg=", "Zg", "Z===", "Zm9v!", "=Zm9", "Zg==Zg==", "Zm 9"})
        EXPECT_FALSE(qd::base64Decode(bad, decoded)) << bad;
}

} // namespace
