// Word scanning, encoding choice, field encoding with optional folding, and
// the registry of field coders by header name.
#include "mailmodel/mime/FieldCoder.h"

#include <cstring>

#include "common/AsciiCase.h"
#include "mailmodel/mime/CoderTable.h"
#include "mailmodel/mime/EncodedWordCoder.h"
#include "mailmodel/mime/MimeCharClass.h"

namespace quorvex::mime {
namespace {

constexpr std::size_t kFoldAfter = 75;

struct Word {
    std::size_t length;
    std::size_t high;
    bool hasStop;
    char stop;
};

// Appends pieces to the output, optionally folding lines longer than 75
// characters with CR LF and a tab before their last white space.
class FieldWriter {
public:
    FieldWriter(char* out, std::size_t capacity, bool folding) : out_(out), capacity_(capacity), folding_(folding) {}

    void Put(std::string_view piece) {
        for (char ch : piece) {
            if (o_ >= capacity_) return;
            const unsigned char c = static_cast<unsigned char>(ch);
            if (folding_ && line_ > kFoldAfter && fold_ != kNone && capacity_ - o_ >= 3) {
                std::memmove(out_ + fold_ + 3, out_ + fold_, o_ - fold_);
                std::memcpy(out_ + fold_, "\r\n\t", 3);
                line_ = o_ - fold_ + 1;
                o_ += 3;
                fold_ = kNone;
                if (o_ >= capacity_) return;
            }
            out_[o_++] = ch;
            if (c == '\r' || c == '\n') {
                line_ = 0;
                fold_ = kNone;
                continue;
            }
            if (folding_ && IsMimeSpace(c) && line_ > 0) fold_ = o_ - 1;
            ++line_;
        }
    }
    void Break() {
        if (capacity_ - o_ < 3) return;
        std::memcpy(out_ + o_, "\r\n\t", 3);
        o_ += 3;
        line_ = 1;
        fold_ = kNone;
    }
    bool HasRoom(std::size_t n) const { return capacity_ - o_ >= n; }
    std::size_t Written() const { return o_; }

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    char* out_;
    std::size_t capacity_;
    bool folding_;
    std::size_t o_ = 0;
    std::size_t line_ = 0;
    std::size_t fold_ = kNone;
};

using FieldCoders = CoderTable<CFieldCoder>;

void FillDefaults(FieldCoders& coders) {
    for (const char* name : {"Subject", "Comments", "Content-Description"})
        coders.Set(name, &FieldCoders::Make<CTextFieldCoder>);
    for (const char* name : {"From", "To", "Resent-To", "Cc", "Resent-Cc", "Bcc", "Resent-Bcc", "Reply-To",
                             "Resent-Reply-To"})
        coders.Set(name, &FieldCoders::Make<CAddressFieldCoder>);
    for (const char* name : {"Content-Type", "Content-Disposition"})
        coders.Set(name, &FieldCoders::Make<CParameterFieldCoder>);
}

// Filled with the defaults on first use.
FieldCoders& Registry() {
    static FieldCoders coders;
    static const bool filled = (FillDefaults(coders), true);
    (void)filled;
    return coders;
}

}  // namespace

bool CFieldCoder::IsDelimiter(char) const { return false; }

std::size_t CFieldCoder::ScanWord(const char* text, std::size_t length, int& quote, std::size_t& highBytes) {
    highBytes = 0;
    std::size_t i = 0;
    for (; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 128) {
            ++highBytes;
            continue;
        }
        if (static_cast<int>(c) == quote) {
            quote = 0;
            break;
        }
        if (quote != 0 || !IsMimeSpaceOrSpecial(c)) continue;
        if (c == '"') quote = '"';
        else if (c == '(') quote = ')';
        else if (c == '<') quote = '>';
        break;
    }
    return i;
}

char CFieldCoder::ChooseEncoding(std::size_t n, std::size_t h) {
    return (4 * ((n + 2) / 3) < n + 2 * h && n < 5 * h) ? 'B' : 'Q';
}

std::size_t CFieldCoder::GetEncodeLength() const {
    const bool folding = IsLineFoldingOn();
    if (charset.empty() && !folding) return inputLength_;
    std::size_t sum = 0;
    int quote = GetInitialQuote();
    std::size_t pos = 0;
    while (pos < inputLength_) {
        std::size_t high = 0;
        const std::size_t len = ScanWord(input_ + pos, inputLength_ - pos, quote, high);
        if (high > 0 && !charset.empty()) {
            CEncodedWordCoder words;
            words.SetEncoding(ChooseEncoding(len, high), charset);
            words.SetInput(input_ + pos, len, true);
            sum += words.GetEncodeLength();
        } else {
            sum += len;
        }
        pos += len;
        if (pos < inputLength_) {
            sum += IsDelimiter(input_[pos]) ? 4 : 1;
            ++pos;
        }
    }
    return folding ? sum + sum / 76 * 6 + 6 : sum;
}

std::size_t CFieldCoder::Encode(char* out, std::size_t capacity) {
    const bool folding = IsLineFoldingOn();
    if (charset.empty() && !folding) return CTransferCoder::Encode(out, capacity);
    FieldWriter writer(out, capacity, folding);
    int quote = GetInitialQuote();
    std::size_t pos = 0;
    while (pos < inputLength_) {
        std::size_t high = 0;
        const std::size_t len = ScanWord(input_ + pos, inputLength_ - pos, quote, high);
        if (high > 0 && !charset.empty())
            writer.Put(EncodeWords({input_ + pos, len}, ChooseEncoding(len, high), charset));
        else
            writer.Put({input_ + pos, len});
        pos += len;
        if (pos >= inputLength_) break;
        const char stop = input_[pos++];
        writer.Put({&stop, 1});
        if (pos >= inputLength_) break;
        if (IsDelimiter(stop) && writer.HasRoom(3)) {
            writer.Break();
            while (pos < inputLength_ && IsMimeSpace(static_cast<unsigned char>(input_[pos]))) ++pos;
        }
    }
    return writer.Written();
}

std::size_t CFieldCoder::Decode(char* out, std::size_t capacity) {
    CEncodedWordCoder words;
    std::string work = RunCoder(words, Input(), false);
    charset = words.GetCharset();
    if (IsLineFoldingOn()) work = UnfoldValue(work);
    const std::size_t n = std::min(work.size(), capacity);
    if (n > 0) std::memcpy(out, work.data(), n);
    return n;
}

std::string UnfoldValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') {
            i += 2;
            while (i < value.size() && IsMimeSpace(static_cast<unsigned char>(value[i]))) ++i;
            out += ' ';
            --i;
            continue;
        }
        out += value[i];
    }
    return out;
}

void RegisterFieldCoder(std::string_view name, FieldCoderFactory factory) { Registry().Set(name, factory); }

std::unique_ptr<CFieldCoder> CreateFieldCoder(std::string_view name) {
    auto coder = Registry().Create(name);
    return coder ? std::move(coder) : std::make_unique<CFieldCoder>();
}

}  // namespace quorvex::mime
