// The parser's pure text routines (see the header).
#include "mailmodel/mime/MimeTextRoutines.h"

#include "common/AsciiCase.h"
#include "common/Base64.h"
#include "common/CharsetText.h"
#include "common/HexDigits.h"
#include "mailmodel/mime/MimeCharClass.h"

namespace quorvex::mime {

bool NeedsExtendedParameter(std::string_view value) {
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 || u < 0x20 || u == 0x7F || c == '"' || c == '\\') return true;
    }
    return false;
}

std::string EncodeExtendedParameter(std::string_view value, std::string_view charset) {
    return std::string(charset) + "''" + PercentEncode(value, [](char c) {
               return IsAsciiAlnum(c) || std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos;
           });
}

std::string DecodeExtendedParameter(std::string_view text) {
    const std::size_t charset_end = text.find('\'');
    const std::size_t language_end = charset_end == std::string_view::npos ? charset_end : text.find('\'', charset_end + 1);
    if (language_end != std::string_view::npos) text.remove_prefix(language_end + 1);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = text[i] == '%' && i + 2 < text.size() ? DecodeHexPair(text[i + 1], text[i + 2]) : std::nullopt;
        if (byte) {
            out += static_cast<char>(*byte);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool IsBlankPartLine(std::string_view line) { return line.empty() || line[0] == '\n' || line == "\r\n"; }

std::optional<std::string> FindBoundary(std::string_view value) {
    std::size_t semi = value.find(';');
    while (semi != std::string_view::npos) {
        std::size_t p = semi + 1;
        while (p < value.size() && IsMimeSpace(static_cast<unsigned char>(value[p]))) ++p;
        if (StartsWithNoCase(value.substr(p), "boundary")) {
            p += 8;
            bool sawEquals = false;
            while (p < value.size() && (IsMimeSpace(static_cast<unsigned char>(value[p])) || value[p] == '=')) {
                sawEquals = sawEquals || value[p] == '=';
                ++p;
            }
            if (!sawEquals) return std::nullopt;
            std::string boundary;
            if (p < value.size() && value[p] == '"') {
                const std::size_t close = value.find('"', p + 1);
                if (close == std::string_view::npos) return std::nullopt;
                boundary.assign(value.substr(p + 1, close - p - 1));
            } else {
                const std::size_t end = value.find(';', p);
                boundary.assign(value.substr(p, end == std::string_view::npos ? std::string_view::npos : end - p));
            }
            if (boundary.empty()) return std::nullopt;
            return boundary;
        }
        semi = value.find(';', semi + 1);
    }
    return std::nullopt;
}

void DecodeQuotedPrintableLine(std::string_view line, std::string& out) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c != '=') {
            out += c;
            continue;
        }
        if (i + 1 >= line.size() || line[i + 1] == '\r' || line[i + 1] == '\n') {
            // Soft line break: the '=' and one CR and one LF go.
            if (i + 1 < line.size() && line[i + 1] == '\r') ++i;
            if (i + 1 < line.size() && line[i + 1] == '\n') ++i;
            continue;
        }
        if (const auto byte = i + 2 < line.size() ? DecodeHexPair(line[i + 1], line[i + 2]) : std::nullopt) {
            out += static_cast<char>(*byte);
            i += 2;
            continue;
        }
        out += '=';
    }
}

int DecodeBase64Run(std::string_view in, std::string& out) {
    // The protocol-line decoder of the foundation has exactly these rules;
    // a failed line yields nothing here.
    const std::size_t before = out.size();
    const int count = Base64DecodeAppend(in, in.size() / 4 * 3 + 6, out);
    if (count <= 0) out.resize(before);
    return count;
}

void SanitizeFileName(std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            continue;
        }
        if (c == '\t') continue;
        if (std::string_view("\\/:*?\"<>|#&;").find(static_cast<char>(c)) != std::string_view::npos || c < 0x20 ||
            c == 0x7F) {
            out += '_';
            continue;
        }
        out += static_cast<char>(c);
    }
    // No "..", no hidden or dot-only names: the name stays inside its folder.
    for (std::size_t p = out.find(".."); p != std::string::npos; p = out.find("..", p)) out[p] = '_';
    if (!out.empty() && out[0] == '.') out[0] = '_';
    if (out.size() > kMaxPartFileNameBytes) {
        const std::size_t dot = out.rfind('.');
        const std::size_t extension = (dot != std::string::npos && out.size() - dot <= 16) ? out.size() - dot : 0;
        // The middle goes: the first characters and the extension stay.
        const std::string tail = out.substr(out.size() - extension);
        out = std::string(Utf8Prefix(out, kMaxPartFileNameBytes - extension)) + tail;
    }
    if (out.empty()) out.push_back('_');
    text = std::move(out);
}

}  // namespace quorvex::mime
