// Encoded words (RFC 2047). The B text reuses the base64 coder without line
// breaks; Q text uses the quoted-printable decoding rules with '_' for a
// blank. Malformed words are copied as plain text.
#include "mailmodel/mime/EncodedWordCoder.h"

#include <algorithm>
#include <cstring>

#include "common/AsciiCase.h"
#include "common/CharsetText.h"
#include "common/HexDigits.h"
#include "mailmodel/mime/MimeCharClass.h"
#include "mailmodel/mime/TransferCoders.h"

namespace quorvex::mime {
namespace {

constexpr std::size_t kMaxWordText = 68;  // 75 less "=?", "?X?" and "?="

bool IsQLiteral(unsigned char c) {
    return (c >= '!' && c <= '<') || c == '>' || (c >= '@' && c <= '^') || (c >= '`' && c <= '~');
}

bool IsAllSpace(std::string_view run) {
    for (char c : run)
        if (!IsMimeSpace(static_cast<unsigned char>(c))) return false;
    return true;
}

// Appends the decoded Q text ('_' is a blank) to out, bounded by capacity.
std::size_t DecodeQText(std::string_view text, char* out, std::size_t capacity) {
    std::string unders(text);
    for (char& c : unders)
        if (c == '_') c = ' ';
    CQuotedPrintableCoder qp;
    qp.SetInput(unders.data(), unders.size(), false);
    return qp.Convert(out, capacity);
}

}  // namespace

std::vector<bool> CEncodedWordCoder::CharacterStarts() const {
    return quorvex::CharacterStarts(Input(), charset_);
}

std::size_t CEncodedWordCoder::InputPerBWord() const {
    const std::size_t c = charset_.size();
    const std::size_t per = c < kMaxWordText ? (kMaxWordText - c) / 4 * 3 : 0;
    return per < 3 ? 3 : per;  // an absurdly long charset still makes progress
}

std::size_t CEncodedWordCoder::GetEncodeLength() const {
    if (inputLength_ == 0 || charset_.empty()) return inputLength_;
    const std::size_t c = charset_.size();
    std::size_t text;
    // A word that ends before a character of several bytes holds up to 3
    // bytes (11 characters of Q text) less.
    const std::vector<bool> starts = CharacterStarts();
    const std::size_t shorter = std::find(starts.begin(), starts.end(), false) != starts.end() ? 1 : 0;
    if (letter_ == 'B' || letter_ == 'b') {
        text = (inputLength_ + 2) / 3 * 4;
        const std::size_t per = InputPerBWord() > 6 ? InputPerBWord() - 3 * shorter : InputPerBWord();
        const std::size_t words = inputLength_ / per + 1;
        return words * (c + 11 + 4 * shorter) + text;
    }
    CQuotedPrintableCoder qp;
    qp.SetInput(input_, inputLength_, true);
    text = qp.GetEncodeLength();
    // A word holds at least 66 - c characters of text, so 64 - c is safe.
    std::size_t perWord = c + 8 < 64 ? 64 - c : 3;
    if (shorter != 0) perWord = perWord > 14 ? perWord - 11 : 3;
    return (text / perWord + 1) * (c + 11) + text;
}

std::size_t CEncodedWordCoder::Encode(char* out, std::size_t capacity) {
    if (charset_.empty()) return CTransferCoder::Encode(out, capacity);
    if (inputLength_ == 0) return 0;
    return (letter_ == 'B' || letter_ == 'b') ? EncodeB(out, capacity) : EncodeQ(out, capacity);
}

std::size_t CEncodedWordCoder::EncodeB(char* out, std::size_t capacity) const {
    const std::size_t c = charset_.size();
    const std::size_t per = InputPerBWord();
    const std::vector<bool> starts = CharacterStarts();
    std::size_t o = 0;
    std::size_t i = 0;
    while (i < inputLength_ && capacity - o >= c + 7) {
        std::size_t take = std::min(per, inputLength_ - i);
        // A word ends with a whole character: each word decodes alone.
        std::size_t whole = take;
        while (whole > 0 && i + whole < inputLength_ && !starts[i + whole]) --whole;
        if (whole > 0) take = whole;
        std::memcpy(out + o, "=?", 2);
        std::memcpy(out + o + 2, charset_.data(), c);
        std::memcpy(out + o + 2 + c, "?B?", 3);
        o += c + 5;
        CBase64Coder b64;
        b64.SetLineBreaks(false);
        b64.SetInput(input_ + i, take, true);
        o += b64.Convert(out + o, capacity - o - 2);
        std::memcpy(out + o, "?=", 2);
        o += 2;
        i += take;
        if (i < inputLength_) {
            if (o >= capacity) break;
            out[o++] = ' ';
        }
    }
    return o;
}

std::size_t CEncodedWordCoder::EncodeQ(char* out, std::size_t capacity) const {
    const std::size_t c = charset_.size();
    const std::size_t maxText = c + 6 < kMaxWordText ? kMaxWordText - c : 6;
    std::size_t o = 0;
    bool open = false;
    std::size_t text = 0;
    auto openWord = [&] {
        if (capacity - o < c + 7) return false;
        std::memcpy(out + o, "=?", 2);
        std::memcpy(out + o + 2, charset_.data(), c);
        std::memcpy(out + o + 2 + c, "?Q?", 3);
        o += c + 5;
        open = true;
        text = 0;
        return true;
    };
    const std::vector<bool> starts = CharacterStarts();
    const auto widthOf = [&](std::size_t i) { return IsQLiteral(static_cast<unsigned char>(input_[i])) ? 1u : 3u; };
    for (std::size_t i = 0; i < inputLength_; ++i) {
        const unsigned char ch = static_cast<unsigned char>(input_[i]);
        const std::size_t width = widthOf(i);
        if (!open && !openWord()) break;
        // A character is not split between two words, unless it alone is
        // longer than a word; no word grows past its limit.
        std::size_t needed = width;
        if (starts[i]) {
            std::size_t character = width;
            for (std::size_t k = i + 1; k < inputLength_ && !starts[k]; ++k) character += widthOf(k);
            if (character <= maxText) needed = character;
        }
        if ((starts[i] && text + needed > maxText) || text + width > maxText) {
            if (capacity - o < 3) break;
            std::memcpy(out + o, "?= ", 3);
            o += 3;
            open = false;
            if (!openWord()) break;
        }
        // Keep two bytes for the closing "?=".
        if (capacity - o < width + 2) break;
        if (width == 1) {
            out[o++] = static_cast<char>(ch);
        } else {
            out[o++] = '=';
            out[o++] = kUpperHexDigits[ch >> 4];
            out[o++] = kUpperHexDigits[ch & 15];
        }
        text += width;
    }
    if (open && capacity - o >= 2) {
        std::memcpy(out + o, "?=", 2);
        o += 2;
    }
    return o;
}

std::size_t CEncodedWordCoder::Decode(char* out, std::size_t capacity) {
    charset_.clear();
    bool recorded = false;
    const std::string_view in = Input();
    std::size_t o = 0;
    std::size_t i = 0;
    while (i < in.size() && o < capacity) {
        if (in.compare(i, 2, "=?") == 0) {
            const std::size_t q1 = in.find('?', i + 2);
            if (q1 != std::string_view::npos && q1 + 3 < in.size() && in[q1 + 2] == '?') {
                const char letter = AsciiLower(in[q1 + 1]);
                if (letter == 'b' || letter == 'q') {
                    const std::size_t start = q1 + 3;
                    std::size_t end = in.find("?=", start);
                    const std::size_t next = end == std::string_view::npos ? in.size() : end + 2;
                    if (end == std::string_view::npos) end = in.size();
                    if (!recorded) {
                        charset_.assign(in.substr(i + 2, q1 - i - 2));
                        letter_ = letter;
                        recorded = true;
                    }
                    const std::string_view text = in.substr(start, end - start);
                    if (letter == 'b') {
                        CBase64Coder b64;
                        b64.SetInput(text.data(), text.size(), false);
                        o += b64.Convert(out + o, capacity - o);
                    } else {
                        o += DecodeQText(text, out + o, capacity - o);
                    }
                    i = next;
                    continue;
                }
            }
        }
        // Plain text up to the next "=?" after its first byte; white space
        // alone between two words (not at the start) vanishes.
        std::size_t j = in.find("=?", i + 1);
        if (j == std::string_view::npos) j = in.size();
        const std::string_view run = in.substr(i, j - i);
        if (!(i != 0 && j != in.size() && IsAllSpace(run))) {
            const std::size_t n = std::min(run.size(), capacity - o);
            std::memcpy(out + o, run.data(), n);
            o += n;
        }
        i = j;
    }
    return o;
}

std::string EncodeWords(std::string_view text, char letter, const std::string& charset) {
    CEncodedWordCoder coder;
    coder.SetEncoding(letter, charset);
    return RunCoder(coder, text, true);
}

std::string DecodeWords(std::string_view text, std::string* charset) {
    CEncodedWordCoder coder;
    std::string out = RunCoder(coder, text, false);
    if (charset != nullptr) *charset = coder.GetCharset();
    return out;
}

}  // namespace quorvex::mime
