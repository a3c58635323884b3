// Line classification, part records, the boundary stack and the line
// decoders of the stored-message parser.
#include "mailmodel/mime/MimePartDecoder.h"

#include "common/AsciiCase.h"
#include "common/CharsetText.h"
#include "common/EncodedWords.h"
#include "common/HexDigits.h"
#include "mailmodel/mime/MimeCharClass.h"
#include "mailmodel/mime/MimeParameters.h"
#include "mailmodel/mime/MimeTextRoutines.h"

namespace quorvex::mime {
namespace {

std::string Cut(std::string_view text, std::size_t capacity) { return std::string(text.substr(0, capacity)); }

bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }

// The text after "Name:" when the line starts with it (case-insensitive).
bool HeaderValue(std::string_view line, std::string_view nameWithColon, std::string_view& rest) {
    if (!StartsWithNoCase(line, nameWithColon)) return false;
    rest = line.substr(nameWithColon.size());
    return true;
}

std::string_view SkipBlanks(std::string_view text) {
    std::size_t p = 0;
    while (p < text.size() && IsBlankOrTab(text[p])) ++p;
    return text.substr(p);
}

// From the first non-blank to the first LF not followed by a blank (that
// LF excluded), or to the end.
std::string_view UnfoldedValue(std::string_view rest) {
    rest = SkipBlanks(rest);
    for (std::size_t i = 0; i < rest.size(); ++i)
        if (rest[i] == '\n' && !(i + 1 < rest.size() && IsBlankOrTab(rest[i + 1]))) return rest.substr(0, i);
    return rest;
}

std::string FirstToken(std::string_view text) {
    std::size_t p = 0;
    while (p < text.size() && IsMimeSpace(static_cast<unsigned char>(text[p]))) ++p;
    std::size_t e = p;
    while (e < text.size() && !IsMimeSpace(static_cast<unsigned char>(text[e]))) ++e;
    return std::string(text.substr(p, e - p));
}

std::string SanitizedCut(std::string value) {
    value = std::string(Utf8Prefix(value, kPartTextCapacity));
    SanitizeFileName(value);
    return value;
}

}  // namespace

std::string WithoutLineBreaks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '\r' && c != '\n') out += c;
    return out;
}

bool MimePartDecoder::IsDecodableType(std::string_view type) {
    std::size_t p = 0;
    while (p < type.size() && IsMimeSpace(static_cast<unsigned char>(type[p]))) ++p;
    type.remove_prefix(p);
    for (std::string_view prefix : {"text/", "message/rfc822", "image/", "application/", "plain/"})
        if (StartsWithNoCase(type, prefix)) return true;
    return false;
}

int MimePartDecoder::ParsePartHeader(std::string_view header) {
    PartDecodable = false;
    PartDecoding = kDecodeNone;
    PartScanState = 0;
    if (header.empty()) return 0;
    std::string encoding, type, version = "1.0";
    int counted = 0;
    std::size_t lineStart = 0;
    while (lineStart < header.size() && counted < 3) {
        const std::string_view line = header.substr(lineStart);
        std::string_view rest;
        if (HeaderValue(line, "Content-Transfer-Encoding:", rest)) {
            const std::string_view text = line;
            std::string token;
            if (NextHeaderAddress(&text, token)) encoding = token;
            ++counted;
        } else if (HeaderValue(line, "Content-Type:", rest)) {
            type.assign(UnfoldedValue(rest));
            ++counted;
        } else if (HeaderValue(line, "MIME-Version:", rest)) {
            const std::string_view text = line;
            std::string token;
            version = NextHeaderAddress(&text, token) ? token : std::string();
            ++counted;
        }
        const std::size_t lf = header.find('\n', lineStart);
        if (lf == std::string_view::npos) break;
        lineStart = lf + 1;
    }
    if (version != "1.0") return 0;
    PartDecodable = IsDecodableType(type);
    if ((StartsWithNoCase(type, "multipart/") || StartsWithNoCase(type, "message/")) && FindBoundary(type))
        return kHeaderMultipart;
    if (encoding.empty()) return 0;
    if (EqualsNoCase(encoding, "quoted-printable")) {
        PartDecoding = kDecodeQuotedPrintable;
        return kHeaderEncoded;
    }
    if (EqualsNoCase(encoding, "base64")) {
        PartDecoding = kDecodeBase64;
        return kHeaderEncoded;
    }
    if (EqualsNoCase(encoding, "7bit")) return 1;
    if (EqualsNoCase(encoding, "8bit")) return 2;
    return 0;
}

int MimePartDecoder::ParsePartLine(std::string_view rawLine, MimePart& part) {
    if (PartScanState == 1) {
        if (!TextCharset.empty()) return ParseHeaderLine(DecodeEncodedWordsToUtf8(rawLine, TextCharset), part);
        if (rawLine.find("=?") == std::string_view::npos) return ParseHeaderLine(rawLine, part);
        const std::string decoded = DecodeEncodedWords(rawLine);
        return ParseHeaderLine(decoded, part);
    }
    return ParseBodyLine(rawLine);
}

int MimePartDecoder::ParseHeaderLine(std::string_view line, MimePart& part) {
    if (IsBlankPartLine(line)) {
        PartScanState = 0;
        return kBodyStarts;
    }
    std::string_view rest;
    if (HeaderValue(line, "Content-Transfer-Encoding:", rest)) {
        std::string token;
        if (NextHeaderAddress(&line, token)) part.TransferEncoding = Cut(token, kPartTypeCapacity);
        return kNothing;
    }
    if (HeaderValue(line, "Content-Type:", rest)) {
        const std::string_view value = UnfoldedValue(rest);
        if (StartsWithNoCase(value, "multipart/")) {
            if (const auto boundary = FindBoundary(value); boundary && BoundaryStack.size() < kMaxBoundaryDepth)
                BoundaryStack.push_back(WithoutLineBreaks("--" + boundary->substr(0, kBoundaryCapacity)));
            return kNothing;
        }
        part.ContentType = Cut(FirstToken(value), kPartTypeCapacity);
        if (const auto name = ReadParameter(value, "name")) part.Name = SanitizedCut(*name);
        if (const auto charset = ReadParameter(value, "charset")) part.Charset = Cut(*charset, kPartTypeCapacity);
        return kKeep;
    }
    if (HeaderValue(line, "Content-Disposition:", rest)) {
        std::string token;
        if (!NextHeaderAddress(&line, token) || !StartsWithNoCase(token, "attachment")) return kNothing;
        part.IsAttachment = true;
        part.FileName = SanitizedCut(ReadParameter(UnfoldedValue(rest), "filename").value_or("unknown"));
        return kNothing;
    }
    if (HeaderValue(line, "Content-ID:", rest)) {
        const std::size_t open = rest.find('<');
        if (open != std::string_view::npos) {
            const std::string_view id = rest.substr(open + 1);
            const std::size_t close = id.rfind('>');
            part.ContentId =
                Cut(close == std::string_view::npos ? WithoutLineBreaks(id) : std::string(id.substr(0, close)),
                    kPartTextCapacity);
        } else if (rest.substr(0, 4) == "cid:") {
            std::string_view id = rest.substr(4);
            std::size_t e = 0;
            while (e < id.size() && !IsMimeSpace(static_cast<unsigned char>(id[e]))) ++e;
            part.ContentId = Cut(id.substr(0, e), kPartTextCapacity);
        }
        return kNothing;
    }
    if (HeaderValue(line, "Content-Location:", rest)) {
        part.Name = SanitizedCut(WithoutLineBreaks(SkipBlanks(rest)));
        return kNothing;
    }
    if (HeaderValue(line, "Content-Description:", rest)) {
        if (part.Description.empty()) part.Description = SanitizedCut(WithoutLineBreaks(SkipBlanks(rest)));
        return kNothing;
    }
    return kNothing;
}

int MimePartDecoder::ParseBodyLine(std::string_view line) {
    if (BoundaryStack.empty()) return kNothing;
    const std::string& inner = BoundaryStack.back();
    if (!inner.empty() && StartsWithNoCase(line, inner)) {
        PartScanState = 1;
        if (BoundaryStack.size() == 1 && line.substr(inner.size(), 2) == "--") return kEnd;
        return kBoundary;
    }
    if (!IsBlankPartLine(line) && BoundaryStack.size() >= 2) {
        const std::string& outer = BoundaryStack[BoundaryStack.size() - 2];
        if (!outer.empty() && StartsWithNoCase(line, outer)) {
            BoundaryStack.pop_back();
            PartScanState = 1;
            return kBoundary;
        }
    }
    return kNothing;
}

void MimePartDecoder::SelectPartDecoding(const MimePart& part) {
    PartDecodable = IsDecodableType(part.ContentType);
    if (EqualsNoCase(part.TransferEncoding, "quoted-printable"))
        PartDecoding = kDecodeQuotedPrintable;
    else if (EqualsNoCase(part.TransferEncoding, "base64"))
        PartDecoding = kDecodeBase64;
    else
        PartDecoding = kDecodeNone;
}

void MimePartDecoder::DecodeBase64Line(std::string_view line, std::string& out) { DecodeBase64Run(line, out); }

void MimePartDecoder::DecodePartLine(std::string_view line, std::string& out) const {
    const bool decode = PartDecoding != kDecodeNone && PartDecodable;
    if (IsBlankPartLine(line)) {
        if (!(decode && PartDecoding == kDecodeBase64)) out.append(line);
        return;
    }
    if (!decode)
        out.append(line);
    else if (PartDecoding == kDecodeQuotedPrintable)
        DecodeQuotedPrintableLine(line, out);
    else
        DecodeBase64Line(line, out);
}

bool MimePartDecoder::NextHeaderAddress(const std::string_view* text, std::string& token) {
    enum { kSkipName = 0, kBetween = 1, kWord = 2, kQuoted = 3, kComment = 4, kAngle = 5, kDone = 6 };
    if (text != nullptr) {
        scanText_.assign(*text);
        scanPos_ = 0;
        scanState_ = kSkipName;
    }
    token.clear();
    auto add = [&](char c) {
        if (token.size() < kHeaderTokenCapacity) token += c;
    };
    const std::string& s = scanText_;
    while (scanPos_ < s.size() && scanState_ != kDone) {
        const char c = s[scanPos_];
        if (c == '\n' && !(scanPos_ + 1 < s.size() && IsBlankOrTab(s[scanPos_ + 1]))) {
            scanState_ = kDone;
            ++scanPos_;
            while (!token.empty() && IsMimeSpace(static_cast<unsigned char>(token.back()))) token.pop_back();
            return !token.empty();
        }
        if (c == '\\' && scanState_ != kComment && scanState_ != kSkipName) {
            if (scanState_ == kBetween) scanState_ = kWord;
            add(c);
            if (scanPos_ + 1 < s.size()) add(s[scanPos_ + 1]);
            scanPos_ += 2;
            continue;
        }
        switch (scanState_) {
            case kSkipName:
                ++scanPos_;
                if (c == ':') scanState_ = kBetween;
                break;
            case kBetween:
                if (c == '"') {
                    add(c);
                    scanSaved_ = kBetween;
                    scanState_ = kQuoted;
                    ++scanPos_;
                } else if (c == '(') {
                    scanSaved_ = kBetween;
                    scanState_ = kComment;
                    scanDepth_ = 1;
                    ++scanPos_;
                } else if (c == '<') {
                    token.clear();
                    scanState_ = kAngle;
                    ++scanPos_;
                } else if (c == ',' || IsMimeSpace(static_cast<unsigned char>(c))) {
                    ++scanPos_;
                } else {
                    scanState_ = kWord;
                }
                break;
            case kWord:
                ++scanPos_;
                if (c == ',') {
                    if (!token.empty()) {
                        scanState_ = kBetween;
                        return true;
                    }
                } else if (c == '(') {
                    scanSaved_ = kWord;
                    scanState_ = kComment;
                    scanDepth_ = 1;
                } else if (c == '<') {
                    token.clear();
                    scanState_ = kAngle;
                } else if (!IsMimeSpace(static_cast<unsigned char>(c))) {
                    add(c);
                }
                break;
            case kQuoted:
                ++scanPos_;
                add(c);
                if (c == '"') scanState_ = scanSaved_;
                break;
            case kComment:
                ++scanPos_;
                if (c == '(') ++scanDepth_;
                if (c == ')' && --scanDepth_ == 0) scanState_ = scanSaved_;
                break;
            case kAngle:
                ++scanPos_;
                if (c == '>') {
                    scanState_ = kBetween;
                    if (!token.empty()) return true;
                } else if (c == '<') {
                    token.clear();
                } else if (c == '"') {
                    add(c);
                    scanSaved_ = kAngle;
                    scanState_ = kQuoted;
                } else {
                    add(c);
                }
                break;
            default:
                return false;
        }
    }
    return false;
}

}  // namespace quorvex::mime
