// The word-wise scrambling gives the bytes of a byte-by-byte XOR, for
// every length and alignment around the word and block sizes.
#include <gtest/gtest.h>

#include <string>

#include "common/ByteScramble.h"

namespace quorvex {
namespace {

TEST(ByteScrambleTest, SameBytesAsAByteLoopAtEveryLengthAndAlignment) {
    std::string source;
    for (int i = 0; i < 120; ++i) source += static_cast<char>(i * 37 + 11);
    for (const std::uint8_t key : {std::uint8_t{0}, std::uint8_t{0x01}, std::uint8_t{0xA5}, std::uint8_t{0xFF}}) {
        for (std::size_t offset = 0; offset < 8; ++offset) {
            for (std::size_t size = 0; offset + size <= 80; ++size) {
                std::string expected = source;
                for (std::size_t i = offset; i < offset + size; ++i) expected[i] = static_cast<char>(expected[i] ^ key);
                SCOPED_TRACE("key " + std::to_string(key) + " offset " + std::to_string(offset) + " size " +
                             std::to_string(size));
                std::string in_place = source;
                ScrambleBytes(in_place.data() + offset, size, key);
                EXPECT_EQ(in_place, expected);
                // A copy leaves the source alone and writes nothing past the end.
                std::string copy = source;
                ScrambleBytes(source.data() + offset, copy.data() + offset, size, key);
                EXPECT_EQ(copy, expected);
            }
        }
    }
}

}  // namespace
}  // namespace quorvex
