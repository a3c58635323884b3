#include "common/CharsetText.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

#include "common/AsciiCase.h"

namespace quorvex {

namespace {

// The longest character of any set iconv is asked about here (GB18030 and
// UTF-8 have four bytes).
constexpr std::size_t kMaxCharacterBytes = 4;

// One iconv conversion descriptor, closed with its owner. A set name
// holding "/" would pass iconv options ("//TRANSLIT") and counts as unknown.
class Converter {
public:
    Converter(std::string_view from, std::string_view to) {
        if (from.empty() || to.empty() || from.find('/') != std::string_view::npos ||
            to.find('/') != std::string_view::npos)
            return;
        handle_ = ::iconv_open(std::string(to).c_str(), std::string(from).c_str());
    }
    ~Converter() {
        if (valid()) ::iconv_close(handle_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return handle_ != Invalid(); }

    // Converts all of `bytes`, appending to `out`; false (errno set) when a
    // sequence is invalid, cut or has no place in the target set.
    bool Convert(std::string_view bytes, std::string& out) {
        if (!Run(bytes, out, false)) return false;
        // A stateful target set returns to its initial state at the end.
        char chunk[64];
        char* at = chunk;
        std::size_t room = sizeof chunk;
        if (::iconv(handle_, nullptr, nullptr, &at, &room) == static_cast<std::size_t>(-1)) return false;
        out.append(chunk, static_cast<std::size_t>(at - chunk));
        return true;
    }

    // Converts all of `bytes` into UTF-8 (the descriptor's target), each
    // invalid or cut sequence written as U+FFFD.
    void ConvertReplacing(std::string_view bytes, std::string& out) { Run(bytes, out, true); }

    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

private:
    static iconv_t Invalid() { return reinterpret_cast<iconv_t>(-1); }

    // The conversion from the initial state; an invalid or cut sequence
    // ends it (false, errno set) or, with `replace`, becomes U+FFFD and
    // the bytes after an invalid one go on.
    bool Run(std::string_view bytes, std::string& out, bool replace) {
        ::iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(bytes.data());
        std::size_t in_left = bytes.size();
        char chunk[1024];
        while (in_left > 0) {
            char* at = chunk;
            std::size_t room = sizeof chunk;
            const std::size_t result = ::iconv(handle_, &in, &in_left, &at, &room);
            out.append(chunk, static_cast<std::size_t>(at - chunk));
            if (result != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
            if (!replace) return false;
            out.append(kReplacement);
            if (errno != EILSEQ) break;  // cut at the end (or worse): nothing more converts
            ++in;
            --in_left;
            ::iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        }
        return true;
    }

    iconv_t handle_ = Invalid();
};

// Bytes of the UTF-8 sequence led by `lead`, 0 for a byte no sequence
// begins with.
std::size_t Utf8SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

}  // namespace

bool IsAsciiText(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsUtf8Text(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = Utf8SequenceLength(lead);
        if (length == 0 || i + length > bytes.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
        }
        if (length > 1) {
            // The second byte's range rules out overlong forms, surrogates
            // and code points above U+10FFFF.
            const auto second = static_cast<unsigned char>(bytes[i + 1]);
            if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
                (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
                return false;
        }
        i += length;
    }
    return true;
}

bool IsUtf8CharsetName(std::string_view charset) { return EqualsNoCase(charset, "utf-8") || EqualsNoCase(charset, "utf8"); }

std::optional<std::string> ConvertCharset(std::string_view bytes, std::string_view from, std::string_view to) {
    Converter converter(from, to);
    if (!converter.valid()) return std::nullopt;
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    if (!converter.Convert(bytes, out)) return std::nullopt;
    return out;
}

std::string ReadAsUtf8(std::string_view bytes, std::string_view charset) {
    if (IsUtf8Text(bytes)) return std::string(bytes);
    if (auto converted = ConvertCharset(bytes, charset, "UTF-8")) return std::move(*converted);
    std::string latin1;
    latin1.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            latin1 += c;
        } else {
            latin1 += static_cast<char>(0xC0 | (u >> 6));
            latin1 += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return latin1;
}

std::optional<std::string> DecodeToUtf8(std::string_view bytes, std::string_view charset) {
    Converter converter(charset, "UTF-8");
    if (!converter.valid()) return std::nullopt;
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    converter.ConvertReplacing(bytes, out);
    return out;
}

std::string TextToUtf8(std::string_view bytes, std::string_view declared, std::string_view fallback) {
    // 7-bit text is ASCII, unless a stateful charset shifts it (ISO-2022-JP).
    const bool ascii = IsAsciiText(bytes);
    if (!declared.empty() && !(ascii && !IsStatefulCharset(declared))) {
        if (auto text = DecodeToUtf8(bytes, declared)) return std::move(*text);
    }
    const bool shifted = IsStatefulCharset(fallback) && bytes.find('\x1B') != std::string_view::npos;
    if (ascii ? !shifted : IsUtf8Text(bytes)) return std::string(bytes);
    if (auto text = DecodeToUtf8(bytes, fallback)) return std::move(*text);
    return std::move(*DecodeToUtf8(bytes, "UTF-8"));
}

std::string_view Utf8Prefix(std::string_view text, std::size_t max_bytes) {
    if (text.size() <= max_bytes) return text;
    std::size_t end = max_bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

bool IsStatefulCharset(std::string_view charset) {
    return StartsWithNoCase(charset, "iso-2022") || StartsWithNoCase(charset, "utf-7") ||
           StartsWithNoCase(charset, "utf7") || StartsWithNoCase(charset, "hz");
}

std::vector<bool> CharacterStarts(std::string_view bytes, std::string_view charset) {
    std::vector<bool> starts(bytes.size(), true);
    if (IsUtf8CharsetName(charset)) {
        for (std::size_t i = 0; i < bytes.size(); ++i) starts[i] = (static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80;
        return starts;
    }
    if (IsAsciiText(bytes)) return starts;
    Converter converter(charset, "UTF-32LE");
    if (!converter.valid()) return starts;
    // Each character is the shortest run of bytes from its start that
    // converts whole; a shorter run is cut (iconv: incomplete input).
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t length = 0;
        std::string ignored;
        for (std::size_t run = 1; run <= kMaxCharacterBytes && i + run <= bytes.size(); ++run) {
            ignored.clear();
            if (converter.Convert(bytes.substr(i, run), ignored)) {
                length = run;
                break;
            }
            if (errno != EINVAL) break;
        }
        if (length == 0) return std::vector<bool>(bytes.size(), true);
        for (std::size_t k = 1; k < length; ++k) starts[i + k] = false;
        i += length;
    }
    return starts;
}

}  // namespace quorvex
