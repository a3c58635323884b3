// getrandom(2), read until the buffer is full.
#include "common/RandomText.h"

#include <sys/random.h>

#include <cerrno>
#include <vector>

#include "common/HexDigits.h"

namespace quorvex {

std::string RandomHexText(std::size_t byte_count) {
    std::vector<unsigned char> bytes(byte_count);
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::getrandom(bytes.data() + got, bytes.size() - got, 0);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return {};
        }
        got += static_cast<std::size_t>(n);
    }
    std::string text;
    text.reserve(byte_count * 2);
    for (const unsigned char b : bytes) {
        text += kLowerHexDigits[b >> 4];
        text += kLowerHexDigits[b & 15];
    }
    return text;
}

}  // namespace quorvex
