// Bytes written as hex pairs in the tests: "FE 00 FF".
#ifndef TESTS_PROTOCOL_HEX_H
#define TESTS_PROTOCOL_HEX_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline std::vector<uint8_t> hex(std::string_view text)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != ' ')
            out.push_back(
                static_cast<uint8_t>(std::stoul(std::string(text.substr(i++, 2)), {}, 16)));
    }
    return out;
}

inline std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

#endif
