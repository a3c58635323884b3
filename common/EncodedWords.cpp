// Encoded words of header lines.
#include "common/EncodedWords.h"

#include "common/AsciiCase.h"
#include "common/Base64.h"
#include "common/CharsetText.h"
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

// Walks the line, handing each run of plain text to `text` and each
// encoded word's bytes with its charset to `word`, in order.
template <typename TextSink, typename WordSink>
void WalkEncodedWords(std::string_view in, TextSink text, WordSink word) {
    std::size_t pos = 0;
    bool joined = false;  // at an encoded word that directly follows another
    for (;;) {
        if (!joined) {
            const auto start = in.find("=?", pos);
            if (start == std::string_view::npos) {
                text(in.substr(pos));
                break;
            }
            text(in.substr(pos, start - pos));
            pos = start + 2;
        }
        joined = false;
        // Charset, then a one-letter encoding between two "?".
        const auto q = in.find('?', pos);
        if (q == std::string_view::npos || q + 2 >= in.size() || in[q + 2] != '?') continue;
        std::string_view charset = in.substr(pos, q - pos);
        charset = charset.substr(0, charset.find('*'));  // "charset*language"
        const char encoding = AsciiLower(in[q + 1]);
        pos = q + 3;
        auto end = in.find("?=", pos);
        const std::string_view body = in.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        if (encoding == 'q') {
            word(DecodeQ(body), charset);
        } else if (encoding == 'b') {
            std::string decoded;
            if (Base64Decode(body, decoded) > 0) word(decoded, charset);
        } else {
            text(body);
        }
        if (end == std::string_view::npos) break;
        pos = end + 2;
        std::size_t next = pos;
        while (next < in.size() && IsBlank(in[next])) ++next;
        if (in.substr(next, 2) == "=?") {
            pos = next + 2;
            joined = true;
        }
    }
}

}  // namespace

std::string DecodeEncodedWords(std::string_view in) {
    if (in.find("=?") == std::string_view::npos) return std::string(in);
    std::string out;
    WalkEncodedWords(
        in, [&](std::string_view text) { out.append(text); },
        [&](std::string_view bytes, std::string_view) { out.append(bytes); });
    return out;
}

std::string DecodeEncodedWordsToUtf8(std::string_view in, std::string_view fallback) {
    std::string out;
    std::string pending;  // bytes of adjacent words of one charset
    std::string pending_charset;
    const auto flush = [&] {
        if (!pending.empty()) out += TextToUtf8(pending, pending_charset.empty() ? "UTF-8" : pending_charset, fallback);
        pending.clear();
    };
    WalkEncodedWords(
        in,
        [&](std::string_view text) {
            if (text.empty()) return;
            flush();
            out += TextToUtf8(text, {}, fallback);
        },
        [&](std::string_view bytes, std::string_view charset) {
            if (!EqualsNoCase(charset, pending_charset)) flush();
            pending_charset.assign(charset);
            pending.append(bytes);
        });
    flush();
    return out;
}

}  // namespace quorvex
