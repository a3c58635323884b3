// Hex digits of quoted-printable and encoded words.
#include <gtest/gtest.h>

#include "common/HexDigits.h"

namespace quorvex {
namespace {

TEST(HexDigitsTest, DigitsAndPairs) {
    struct Case {
        char high, low;
        std::optional<std::uint8_t> byte;
    };
    const Case cases[] = {
        {'4', '1', 0x41}, {'3', 'd', 0x3d}, {'F', 'f', 0xff}, {'0', '0', 0x00},
        {'g', '0', std::nullopt}, {'4', 'x', std::nullopt}, {'=', '4', std::nullopt},
        // Bytes below 16 are no digits, although their codes are below 16.
        {'\x01', '\x02', std::nullopt}, {'4', '\x0f', std::nullopt}, {'\xC4', '1', std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecodeHexPair(c.high, c.low), c.byte) << int(c.high) << " " << int(c.low);
    }
    EXPECT_EQ(HexDigitValue('7'), 7);
    EXPECT_EQ(HexDigitValue('b'), 11);
    EXPECT_EQ(HexDigitValue('F'), 15);
    EXPECT_EQ(HexDigitValue('g'), 'g');  // other bytes stand for themselves
    EXPECT_EQ(HexDigitValue(0xC4), 0xC4);
}

}  // namespace
}  // namespace quorvex
