// Encoded words of header lines.
#include "common/EncodedWords.h"

#include "common/AsciiCase.h"
#include "common/Base64.h"
#include "common/HexDigits.h"

namespace quorvex {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string DecodeQ(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '=' && i + 2 < text.size()) {
            if (const auto byte = DecodeHexPair(text[i + 1], text[i + 2])) {
                out.push_back(static_cast<char>(*byte));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i] == '_' ? ' ' : text[i]);
    }
    return out;
}

}  // namespace

std::string DecodeEncodedWords(std::string_view in) {
    if (in.find("=?") == std::string_view::npos) return std::string(in);
    std::string out;
    std::size_t pos = 0;
    bool joined = false;  // at an encoded word that directly follows another
    for (;;) {
        if (!joined) {
            const auto start = in.find("=?", pos);
            if (start == std::string_view::npos) {
                out.append(in.substr(pos));
                break;
            }
            out.append(in.substr(pos, start - pos));
            pos = start + 2;
        }
        joined = false;
        // Charset, then a one-letter encoding between two "?".
        const auto q = in.find('?', pos);
        if (q == std::string_view::npos || q + 2 >= in.size() || in[q + 2] != '?') continue;
        const char encoding = AsciiLower(in[q + 1]);
        pos = q + 3;
        auto end = in.find("?=", pos);
        const std::string_view text = in.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        if (encoding == 'q') {
            out.append(DecodeQ(text));
        } else if (encoding == 'b') {
            std::string decoded;
            if (Base64Decode(text, decoded) > 0) out.append(decoded);
        } else {
            out.append(text);
        }
        if (end == std::string_view::npos) {
            pos = in.size();
            break;
        }
        pos = end + 2;
        std::size_t next = pos;
        while (next < in.size() && IsBlank(in[next])) ++next;
        if (in.substr(next, 2) == "=?") {
            pos = next + 2;
            joined = true;
        }
    }
    return out;
}

}  // namespace quorvex
