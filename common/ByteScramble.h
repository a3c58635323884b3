// The scrambling of stored message bodies: every byte XOR a one-byte key
// (0 leaves the bytes as they are). The same call scrambles and
// unscrambles.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvex {

// Writes `size` bytes of `from`, each XOR `key`, to `to`. `to` may be
// `from` itself; otherwise the two must not overlap. Works a machine word
// at a time; the bytes out are those of a byte-by-byte loop.
void ScrambleBytes(const char* from, char* to, std::size_t size, std::uint8_t key);

inline void ScrambleBytes(char* data, std::size_t size, std::uint8_t key) { ScrambleBytes(data, data, size, key); }

}  // namespace quorvex
