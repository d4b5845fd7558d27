// The RDS basic character table (G0).
#include "rdsG0.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>

namespace {

// The RDS table (G0) places characters where receivers show them.
TEST(RdsG0, PlacesCharactersWhereReceiversShowThem)
{
    const std::pair<char32_t, int> codes[] = {{U'A', 0x41}, {U'é', 0x82}, {U'ß', 0x8D},
                                              {U'ñ', 0x9A}, {U'€', 0xA9}, {U'$', 0xAB},
                                              {U'¤', 0x24}, {U'Ž', 0xCD}, {U'ŧ', 0xFE},
                                              {U'~', -1},   {U'Ω', -1},   {0, -1}}; // 0x7E: macron
    for (auto [c, byte] : codes)
        EXPECT_EQ(UnicodeToRdsG0(c), byte) << static_cast<int>(c);
    int defined = 0; // 0x20-0x7E and 0x80-0xFE: the controls, 0x7F and 0xFF have no character
    for (int byte = 0; byte < 256; ++byte) {
        const std::optional<char32_t> c = RdsG0ToUnicode(static_cast<unsigned char>(byte));
        defined += c.has_value();
        EXPECT_EQ(c ? UnicodeToRdsG0(*c) : byte, byte) << std::hex << byte;
    }
    EXPECT_EQ(defined, 95 + 127);
}

} // namespace
