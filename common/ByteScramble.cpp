// Word-wise XOR with a repeated one-byte key.
#include "common/ByteScramble.h"

#include <cstring>

namespace quorvex {

void ScrambleBytes(const char* from, char* to, std::size_t size, std::uint8_t key) {
    if (key == 0) {
        if (from != to && size > 0) std::memcpy(to, from, size);
        return;
    }
    // The key in every byte of a word. Loads and stores go through memcpy,
    // which the compiler turns into plain unaligned word moves; four words
    // per round give it independent work.
    const std::uint64_t mask = 0x0101010101010101ULL * key;
    std::size_t i = 0;
    for (; size - i >= 32; i += 32) {
        std::uint64_t words[4];
        std::memcpy(words, from + i, sizeof words);
        for (std::uint64_t& word : words) word ^= mask;
        std::memcpy(to + i, words, sizeof words);
    }
    for (; size - i >= 8; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, from + i, sizeof word);
        word ^= mask;
        std::memcpy(to + i, &word, sizeof word);
    }
    for (; i < size; ++i) to[i] = static_cast<char>(from[i] ^ static_cast<char>(key));
}

}  // namespace quorvex
