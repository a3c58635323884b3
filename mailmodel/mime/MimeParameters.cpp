// The parameter reader (see the header).
#include "mailmodel/mime/MimeParameters.h"

#include <map>
#include <tuple>
#include <utility>
#include <vector>

#include "common/AsciiCase.h"
#include "common/CharsetText.h"
#include "mailmodel/mime/MimeTextRoutines.h"

namespace quorvex::mime {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

struct Parameter {
    std::string_view name;
    std::string value;
};

// Every "name=value" after the field's own value, quoted strings and
// comments skipped whole.
std::vector<Parameter> SplitParameters(std::string_view text) {
    std::vector<Parameter> list;
    std::size_t p = 0;
    // The field's own value: up to the first ';' outside a quoted string.
    for (bool quoted = false; p < text.size() && (quoted || text[p] != ';'); ++p) {
        if (text[p] == '\\' && quoted) ++p;
        else if (text[p] == '"') quoted = !quoted;
    }
    while (p < text.size()) {
        ++p;  // the ';'
        while (p < text.size() && IsBlank(text[p])) ++p;
        const std::size_t name_start = p;
        while (p < text.size() && text[p] != '=' && text[p] != ';' && !IsBlank(text[p])) ++p;
        const std::string_view name = text.substr(name_start, p - name_start);
        while (p < text.size() && IsBlank(text[p])) ++p;
        if (p >= text.size() || text[p] != '=') {
            while (p < text.size() && text[p] != ';') ++p;
            continue;
        }
        ++p;
        while (p < text.size() && IsBlank(text[p])) ++p;
        std::string value;
        if (p < text.size() && text[p] == '"') {
            for (++p; p < text.size() && text[p] != '"'; ++p) {
                if (text[p] == '\\' && p + 1 < text.size()) ++p;
                if (text[p] != '\r' && text[p] != '\n') value += text[p];
            }
            while (p < text.size() && text[p] != ';') ++p;
        } else {
            for (; p < text.size() && text[p] != ';'; ++p)
                if (text[p] != '\r' && text[p] != '\n') value += text[p];
            // A comment after the value ("us-ascii (Plain text)") is no part of it.
            if (const std::size_t comment = value.find(" ("); comment != std::string::npos && value.ends_with(')'))
                value.resize(comment);
            while (!value.empty() && IsBlank(value.back())) value.pop_back();
        }
        if (!name.empty()) list.push_back({name, std::move(value)});
    }
    return list;
}

// The bytes of percent-encoded text.
std::string PercentBytes(std::string_view text) { return DecodeExtendedParameter("''" + std::string(text)); }

// "charset'language'text": the charset (empty without both quotes) and the
// text after them.
std::pair<std::string_view, std::string_view> SplitExtended(std::string_view value) {
    const std::size_t first = value.find('\'');
    const std::size_t second = first == std::string_view::npos ? first : value.find('\'', first + 1);
    if (second == std::string_view::npos) return {{}, value};
    return {value.substr(0, first), value.substr(second + 1)};
}

std::string Utf8In(std::string_view bytes, std::string_view charset) {
    return TextToUtf8(bytes, charset.empty() ? "UTF-8" : charset, "UTF-8");
}

std::optional<unsigned> PieceNumber(std::string_view digits) {
    if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits[0] == '0')) return std::nullopt;
    unsigned n = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    return n;
}

}  // namespace

std::optional<std::string> ReadParameter(std::string_view fieldValue, std::string_view name) {
    const std::vector<Parameter> list = SplitParameters(fieldValue);
    const std::string extended = std::string(name) + "*";
    for (const Parameter& p : list) {
        if (!EqualsNoCase(p.name, extended)) continue;
        const auto [charset, text] = SplitExtended(p.value);
        return Utf8In(PercentBytes(text), charset);
    }

    // Continuations: "name*<n>" (as it is) and "name*<n>*" (percent-encoded,
    // the first one led by the charset).
    std::map<unsigned, const Parameter*> pieces;
    for (const Parameter& p : list) {
        if (p.name.size() <= extended.size() || !StartsWithNoCase(p.name, extended)) continue;
        std::string_view number = p.name.substr(extended.size());
        if (number.ends_with('*')) number.remove_suffix(1);
        if (const auto n = PieceNumber(number)) pieces.emplace(*n, &p);
    }
    if (pieces.count(0) != 0) {
        std::string bytes;
        std::string_view charset;
        bool encoded = false;
        for (unsigned n = 0; pieces.count(n) != 0; ++n) {
            const Parameter& piece = *pieces[n];
            if (!piece.name.ends_with('*')) {
                bytes += piece.value;
                continue;
            }
            std::string_view text = piece.value;
            if (n == 0) std::tie(charset, text) = SplitExtended(text);
            bytes += PercentBytes(text);
            encoded = true;
        }
        return encoded ? Utf8In(bytes, charset) : bytes;
    }
    for (const Parameter& p : list)
        if (EqualsNoCase(p.name, name)) return p.value;
    return std::nullopt;
}

}  // namespace quorvex::mime
