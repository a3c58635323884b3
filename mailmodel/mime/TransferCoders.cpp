// Quoted-printable, base64, uudecoding and line folding. Each works in one
// pass over caller buffers sized by its estimate; every write is checked
// against the capacity, every read against the input length.
#include "mailmodel/mime/TransferCoders.h"

#include <array>
#include <cstring>

#include "common/Base64.h"
#include "common/HexDigits.h"
#include "mailmodel/mime/MimeCharClass.h"

namespace quorvex::mime {

namespace {

constexpr std::size_t kNoFold = static_cast<std::size_t>(-1);
constexpr std::size_t kMaxLine = 76;


bool IsLoneDotLine(std::string_view in, std::size_t i) {
    return i >= 2 && in[i - 2] == '\r' && in[i - 1] == '\n' && i + 2 < in.size() && in[i + 1] == '\r' &&
           in[i + 2] == '\n';
}

}  // namespace

// ---- quoted-printable -------------------------------------------------------

std::size_t CQuotedPrintableCoder::GetEncodeLength() const {
    std::size_t m = inputLength_;
    for (std::size_t i = 0; i < inputLength_; ++i)
        if (!IsMimeAlnum(static_cast<unsigned char>(input_[i]))) m += 2;
    return m + m / 74 * 6;
}

std::size_t CQuotedPrintableCoder::Encode(char* out, std::size_t capacity) {
    const std::string_view in = Input();
    std::size_t o = 0;
    std::size_t line = 0;
    std::size_t fold = kNoFold;
    for (std::size_t i = 0; i < in.size() && o < capacity; ++i) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        if (c == '\r' || c == '\n') {
            out[o++] = static_cast<char>(c);
            line = 0;
            fold = kNoFold;
            continue;
        }
        bool encoded;
        if (c == ' ' || c == '\t')
            encoded = i + 1 == in.size() || in[i + 1] == '\r';
        else if (c == '.')
            encoded = IsLoneDotLine(in, i);
        else
            encoded = c < '!' || c > '~' || c == '=';
        const std::size_t width = encoded ? 3 : 1;
        // A soft break keeps every output line within 76 characters, the
        // trailing '=' included; it goes after the last blank when there is one.
        if (line + width >= kMaxLine && capacity - o >= 3) {
            if (fold != kNoFold && fold < o) {
                const std::size_t moved = o - (fold + 1);
                std::memmove(out + fold + 4, out + fold + 1, moved);
                std::memcpy(out + fold + 1, "=\r\n", 3);
                o += 3;
                line = moved;
            } else {
                std::memcpy(out + o, "=\r\n", 3);
                o += 3;
                line = 0;
            }
            fold = kNoFold;
        }
        if (encoded) {
            if (capacity - o < 3) continue;  // does not fit: dropped
            out[o] = '=';
            out[o + 1] = kUpperHexDigits[c >> 4];
            out[o + 2] = kUpperHexDigits[c & 15];
            o += 3;
            line += 3;
        } else {
            if (o >= capacity) break;
            if ((c == ' ' || c == '\t') && line > 0) fold = o;
            out[o++] = static_cast<char>(c);
            line += 1;
        }
    }
    return o;
}

std::size_t DecodeQuotedPrintable(std::string_view in, char* out, std::size_t capacity, std::size_t& consumed) {
    std::size_t o = 0;
    std::size_t i = 0;
    while (i < in.size() && o < capacity) {
        const char c = in[i];
        if (c != '=') {
            out[o++] = c;
            ++i;
            continue;
        }
        if (in.size() - i - 1 < 2) break;
        const unsigned char a = static_cast<unsigned char>(in[i + 1]);
        const unsigned char b = static_cast<unsigned char>(in[i + 2]);
        if (IsUpperHexDigit(a)) {
            out[o++] = static_cast<char>((HexDigitValue(a) << 4) | (HexDigitValue(b) & 15));
            i += 3;
        } else if (a == '\r' && b == '\n') {
            i += 3;
        } else {
            out[o++] = static_cast<char>(a);
            i += 2;
        }
    }
    consumed = i;
    return o;
}

std::size_t CQuotedPrintableCoder::Decode(char* out, std::size_t capacity) {
    std::size_t consumed = 0;
    return DecodeQuotedPrintable(Input(), out, capacity, consumed);
}

// ---- base64 -----------------------------------------------------------------

std::size_t CBase64Coder::GetEncodeLength() const {
    const std::size_t a = (inputLength_ + 2) / 3 * 4;
    return lineBreaks_ ? a + a / kMaxLine * 2 + 2 : a;
}

std::size_t CBase64Coder::Encode(char* out, std::size_t capacity) {
    const auto* in = reinterpret_cast<const unsigned char*>(input_);
    const std::size_t n = inputLength_;
    std::size_t o = 0;
    std::size_t line = 0;
    auto put = [&](char ch) {
        if (o >= capacity) return false;
        out[o++] = ch;
        if (lineBreaks_ && ++line == kMaxLine) {
            line = 0;
            if (o < capacity) out[o++] = '\r';
            if (o < capacity) out[o++] = '\n';
        }
        return true;
    };
    std::size_t i = 0;
    // Fast path: whole lines of 57 input bytes while the room is certain.
    if (lineBreaks_) {
        while (n - i >= 57 && capacity - o >= 78) {
            for (int g = 0; g < 19; ++g, i += 3, o += 4) Base64EncodeGroup(in + i, 3, out + o);
            out[o++] = '\r';
            out[o++] = '\n';
        }
    }
    for (; i < n; i += 3) {
        char group[4];
        Base64EncodeGroup(in + i, std::min<std::size_t>(3, n - i), group);
        for (const char ch : group)
            if (!put(ch)) return o;
    }
    if (lineBreaks_ && line > 0) {
        if (o < capacity) out[o++] = '\r';
        if (o < capacity) out[o++] = '\n';
    }
    return o;
}

std::size_t Base64Decoding::Feed(std::string_view in, char* out, std::size_t capacity) {
    std::size_t o = 0;
    for (std::size_t i = 0; i < in.size() && !stopped && !no_room; ++i) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        const int v = Base64Value(c);
        if (v < 0) {
            if (c == '\r' || c == '\n') continue;
            stopped = true;  // '=', blanks and every other stranger end the data
            break;
        }
        group = (group << 6) | static_cast<unsigned>(v);
        if (++count < 4) continue;
        if (capacity - o < 3) {
            for (int k = 2; k >= 0 && o < capacity; --k) out[o++] = static_cast<char>(group >> (8 * k));
            no_room = true;
            break;
        }
        out[o++] = static_cast<char>(group >> 16);
        out[o++] = static_cast<char>(group >> 8);
        out[o++] = static_cast<char>(group);
        group = 0;
        count = 0;
    }
    return o;
}

std::size_t Base64Decoding::Finish(char* out, std::size_t capacity) {
    // A short last group: two characters give one byte, three give two.
    std::size_t o = 0;
    if (!no_room && count >= 2 && o < capacity) out[o++] = static_cast<char>(group >> (6 * count - 8));
    if (!no_room && count == 3 && o < capacity) out[o++] = static_cast<char>(group >> 2);
    count = 0;
    return o;
}

std::size_t CBase64Coder::Decode(char* out, std::size_t capacity) {
    Base64Decoding decoding;
    const std::size_t o = decoding.Feed(Input(), out, capacity);
    return o + decoding.Finish(out + o, capacity - o);
}

// ---- uudecoding -------------------------------------------------------------

std::size_t UuDecoding::Feed(std::string_view in, bool final, char* out, std::size_t capacity,
                             std::size_t& consumed) {
    constexpr std::string_view kEnd = "\r\n`\r\nend\r\n";
    std::size_t o = 0;
    std::size_t i = 0;
    for (; i < in.size() && !ended; ++i) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        if (skip_lf) {
            skip_lf = false;
            if (c == '\n') continue;
        }
        if (have == 0 && c == '\r') {
            const std::string_view rest = in.substr(i);
            if (rest.substr(0, kEnd.size()) == kEnd) {
                ended = true;
                break;
            }
            if (!final && rest.size() < kEnd.size() && kEnd.starts_with(rest)) break;  // the end lines may be coming
        }
        if (c == '\r') {
            counting = false;
            have = 0;
            skip_lf = true;
            continue;
        }
        if (!counting) {
            if (c <= 32) continue;
            count = c == '`' ? 0 : c - 32;
            counting = true;
            continue;
        }
        group[have++] = (c == '`' ? 0u : static_cast<unsigned>(c - 32)) & 63u;
        if (have < 4) continue;
        have = 0;
        const unsigned char bytes[3] = {static_cast<unsigned char>(group[0] << 2 | group[1] >> 4),
                                        static_cast<unsigned char>(group[1] << 4 | group[2] >> 2),
                                        static_cast<unsigned char>(group[2] << 6 | group[3])};
        const int keep = count <= 0 ? 0 : (count < 3 ? count : 3);
        for (int k = 0; k < keep && o < capacity; ++k) out[o++] = static_cast<char>(bytes[k]);
        count -= 3;
    }
    consumed = i;
    return o;
}

std::size_t CUuCoder::Decode(char* out, std::size_t capacity) {
    if (Input().empty() || capacity == 0) return 0;
    UuDecoding decoding;
    std::size_t consumed = 0;
    return decoding.Feed(Input(), true, out, capacity, consumed);
}

// ---- folding ----------------------------------------------------------------

std::size_t CFoldingCoder::Encode(char* out, std::size_t capacity) {
    const std::string_view in = Input();
    std::size_t o = 0;
    std::size_t line = 0;
    std::size_t fold = kNoFold;
    for (std::size_t i = 0; i < in.size() && o < capacity; ++i) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        if (line >= kMaxLine && fold != kNoFold && capacity - o >= 2) {
            std::memmove(out + fold + 2, out + fold, o - fold);
            out[fold] = '\r';
            out[fold + 1] = '\n';
            line = o - fold;
            o += 2;
            fold = kNoFold;
            if (o >= capacity) break;
        }
        out[o++] = static_cast<char>(c);
        if (c == '\r' || c == '\n') {
            line = 0;
            fold = kNoFold;
            continue;
        }
        if (IsMimeSpace(c) && line > 0) fold = o - 1;
        ++line;
    }
    return o;
}

}  // namespace quorvex::mime
