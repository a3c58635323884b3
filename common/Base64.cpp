// Base64 encoder and the line decoder.
#include "common/Base64.h"

#include <algorithm>

namespace quorvex {

namespace {

// The character at `i`, or NUL past the end, as the decoder of a
// NUL-terminated line would see it.
char At(std::string_view text, std::size_t i) { return i < text.size() ? text[i] : '\0'; }

int SixBits(char c) { return Base64Value(static_cast<unsigned char>(c)); }

}  // namespace

std::string Base64Encode(std::string_view data) {
    std::string out(Base64EncodedLength(data.size()), '\0');
    const auto* in = reinterpret_cast<const unsigned char*>(data.data());
    for (std::size_t i = 0, o = 0; i < data.size(); i += 3, o += 4) {
        Base64EncodeGroup(in + i, std::min<std::size_t>(3, data.size() - i), out.data() + o);
    }
    return out;
}

int Base64Decode(std::string_view text, std::size_t capacity, std::string& out) {
    out.clear();
    return Base64DecodeAppend(text, capacity, out);
}

int Base64DecodeAppend(std::string_view text, std::size_t capacity, std::string& out) {
    if (capacity < text.size() / 4 * 3 + 6) return -1;
    if (text.starts_with("+ ")) text.remove_prefix(2);
    if (At(text, 0) == '\r') return 0;

    // Written in place: room for every byte the text can give.
    const std::size_t start = out.size();
    out.resize(start + text.size() / 4 * 3 + 3);
    char* const first = out.data() + start;
    char* at = first;
    std::size_t pos = 0;
    for (;;) {
        const char c0 = At(text, pos), c1 = At(text, pos + 1), c2 = At(text, pos + 2), c3 = At(text, pos + 3);
        const int w = SixBits(c0), x = SixBits(c1), y = SixBits(c2), z = SixBits(c3);
        if (w < 0 || x < 0 || (y < 0 && c2 != '=') || (z < 0 && c3 != '=')) {
            out.resize(start + static_cast<std::size_t>(at - first));
            return -1;
        }
        *at++ = static_cast<char>((w << 2 | x >> 4) & 0xFF);
        if (c2 != '=') {
            *at++ = static_cast<char>((x << 4 | y >> 2) & 0xFF);
            // "x=" followed by a data character: the "=" ends the data.
            if (c3 != '=') *at++ = static_cast<char>((y << 6 | z) & 0xFF);
        }
        pos += 4;
        const std::size_t decoded = static_cast<std::size_t>(at - first);
        const char next = At(text, pos);
        if (next == '\0' || next == '\r' || next == '\n' || c3 == '=' || decoded >= capacity) {
            out.resize(start + decoded);
            return static_cast<int>(decoded);
        }
    }
}

int Base64Decode(std::string_view text, std::string& out) {
    return Base64Decode(text, text.size() / 4 * 3 + 6, out);
}

}  // namespace quorvex
