// Header reading, part scanning and part writing of the stored message
// parser. Output files are created without following links and are never
// named after the message file itself, so a hostile part cannot replace a
// file outside the folder or the message being read.
#include "mailmodel/mime/MimeMessageParser.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "common/AsciiCase.h"
#include "common/AtomicFile.h"
#include "common/CharsetText.h"
#include "common/EncodedWords.h"
#include "common/Paths.h"
#include "common/TextHelpers.h"
#include "common/UniqueFd.h"
#include "mailmodel/mime/MimeCharClass.h"
#include "mailmodel/mime/MimeTextRoutines.h"

namespace quorvex::mime {
namespace {

constexpr std::size_t kHeaderPieceRoom = 512;
constexpr std::size_t kLineRoom = 8192;
constexpr std::size_t kFlushAfter = 7992;
// Files the web server must read are group-readable, never world-readable.
constexpr mode_t kOutputMode = 0640;

UniqueFd CreateOutput(const std::string& path, bool exclusive) {
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
    return UniqueFd(::open(path.c_str(), flags, kOutputMode));
}

// Copies a file to a new name; never replaces an existing file.
void CopyToNewFile(const std::string& from, const std::string& to) {
    UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!in) return;
    UniqueFd out = CreateOutput(to, true);
    if (!out) return;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(in.get(), buffer, sizeof buffer)) > 0)
        if (!WriteFully(out.get(), {buffer, static_cast<std::size_t>(n)})) return;
}

// The MIME version without comments and white space.
std::string BareVersion(std::string_view version) {
    std::string out;
    int depth = 0;
    for (char c : version) {
        if (c == '(') ++depth;
        else if (c == ')' && depth > 0) --depth;
        else if (depth == 0 && !IsMimeSpace(static_cast<unsigned char>(c))) out += c;
    }
    return out;
}

bool IsUnsafeName(std::string_view name) {
    if (name.empty() || name.front() == '.' || name.size() > kMaxPartFileNameBytes) return true;
    if (name.find("..") != std::string_view::npos) return true;
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) return true;
    }
    return false;
}

}  // namespace

std::string SafeContentIdName(const std::string& contentId) {
    if (!IsUnsafeName(contentId)) return contentId;
    std::string safe = contentId;
    SanitizeFileName(safe);
    return safe;
}

MimeMessageParser::MimeMessageParser(MimeParserLimits limits) : limits_(std::move(limits)) {
    Decoder.TextCharset = limits_.textCharset;
}

int MimeMessageParser::CountAttachments() const {
    return static_cast<int>(std::count_if(PartList.begin(), PartList.end(), [](const MimePart& p) { return p.IsAttachment; }));
}

const std::string* MimeMessageParser::FirstAttachmentName() {
    AttachmentCursor = -1;
    for (const MimePart& part : PartList)
        if (part.IsAttachment) {
            AttachmentCursor = 1;
            return &part.FileName;
        }
    return nullptr;
}

const std::string* MimeMessageParser::NextAttachmentName() {
    if (AttachmentCursor < 0) return nullptr;
    int seen = 0;
    for (const MimePart& part : PartList) {
        if (!part.IsAttachment) continue;
        if (seen++ == AttachmentCursor) {
            ++AttachmentCursor;
            return &part.FileName;
        }
    }
    AttachmentCursor = -1;
    return nullptr;
}

void MimeMessageParser::ParseHeaderField(const std::string& field) {
    struct Rule {
        const char* name;
        std::string MimeMessageParser::*target;
        bool address;
    };
    static constexpr Rule kRules[] = {
        {"Message-ID:", &MimeMessageParser::MessageId, false}, {"Subject:", &MimeMessageParser::Subject, false},
        {"Date:", &MimeMessageParser::Date, false},           {"From:", &MimeMessageParser::From, true},
        {"To:", &MimeMessageParser::To, true},                {"Cc:", &MimeMessageParser::Cc, true},
        {"Reply-To:", &MimeMessageParser::ReplyTo, true},     {"MIME-Version:", &MimeMessageParser::MimeVersion, false},
    };
    for (const Rule& rule : kRules) {
        const std::string_view name = rule.name;
        if (!StartsWithNoCase(field, name)) continue;
        const bool wide = rule.target == &MimeMessageParser::To || rule.target == &MimeMessageParser::Cc;
        std::string value(Utf8Prefix(std::string_view(field).substr(name.size()),
                                     wide ? limits_.toCcCapacity : kHeaderFieldCapacity));
        if (rule.address) {
            while (value.size() >= 2 && value.compare(0, 2, "\r\n") == 0) value.erase(0, 2);
            while (value.size() >= 2 && value.compare(value.size() - 2, 2, "\r\n") == 0) value.resize(value.size() - 2);
            value = std::string(TrimChars(value, " "));
        } else {
            value = WithoutLineBreaks(TrimChars(value, " "));
        }
        this->*rule.target = std::move(value);
        return;
    }
}

int MimeMessageParser::ReadHeaders(MessageFile& file) {
    FileSize = file.Size();
    if (!file.Seek(0)) return kReadFailed;
    std::string header;
    std::string piece;
    while (!file.AtEnd()) {
        std::string field;
        std::int64_t fieldBytes = 0;
        bool blank = false;
        char first = 0;
        while (true) {
            const long n = file.ReadFoldedLine(piece, kHeaderPieceRoom);
            if (n < 0) return kReadFailed;
            fieldBytes += n;
            first = piece.empty() ? 0 : piece[0];
            field += piece;
            if (field == "\r\n" || field == "\r\r\n") {
                blank = true;
                break;
            }
            const int next = file.PeekChar();
            if (next != ' ' && next != '\t') break;
        }
        if (blank) break;
        // The whole field at once: words split over folded lines join.
        field = limits_.textCharset.empty() ? DecodeEncodedWords(field)
                                            : DecodeEncodedWordsToUtf8(field, limits_.textCharset);
        HeaderLength += fieldBytes;
        header += field;
        ParseHeaderField(field);
        if (first == '\r' || first == '\n') break;
    }
    HeaderFlags = Decoder.ParsePartHeader(header);
    return kDone;
}

int MimeMessageParser::ParseFile(const std::string& folder, const std::string& fileName, const std::string&) {
    MessageFile file;
    if (!file.Open(JoinPath(folder, fileName))) return kReadFailed;
    sourceName_ = fileName;
    ReadHeaders(file);
    AttachmentPaths.clear();
    TextBodyPath.clear();
    HtmlBodyPath.clear();
    PartList.assign(1, MimePart());
    AttachmentCursor = -1;
    Decoder.PartScanState = 1;
    std::int64_t position = 0;
    bool ended = false;
    if (!file.Seek(0)) return kReadFailed;
    std::string line;
    // The line break before a boundary line belongs to the boundary
    // (RFC 2046 5.1.1), so a part's body ends before it: a quoted-printable
    // or unencoded attachment keeps exactly its own bytes.
    std::int64_t lineBreak = 0;
    auto endBeforeBoundary = [&](MimePart& part, long n) {
        const std::int64_t body = position - part.Offset - n;
        part.Length = body >= lineBreak ? body - lineBreak : body;
    };
    while (position < FileSize) {
        const long n = file.ReadFoldedLine(line, kLineRoom);
        if (n < 0) return kReadFailed;
        position += n;
        MimePart& current = PartList.back();
        const int r = Decoder.ParsePartLine(line, current);
        if (r == MimePartDecoder::kEnd || (r == MimePartDecoder::kBoundary && PartList.size() >= kMaxParts)) {
            endBeforeBoundary(current, n);
            ended = true;
            break;
        }
        if (r == MimePartDecoder::kKeep) current.Kept = true;
        if (r == MimePartDecoder::kBodyStarts) current.Offset = position;
        if (r == MimePartDecoder::kBoundary) {
            endBeforeBoundary(current, n);
            PartList.emplace_back();
        }
        lineBreak = line.ends_with("\r\n") ? 2 : line.ends_with('\n') ? 1 : 0;
        if (r == MimePartDecoder::kBodyStarts || r == MimePartDecoder::kBoundary) lineBreak = 0;
    }
    MimePart& last = PartList.back();
    if (!ended && last.Offset != 0) last.Length = position - last.Offset;
    if (last.Length == 0) last.Kept = false;
    if ((HeaderFlags & kHeaderMultipartBit) == 0) {
        last.Length = position - last.Offset;
        last.Kept = true;
    }
    if (BareVersion(MimeVersion) != "1.0") {
        last.Offset = HeaderLength;
        last.Length = position - HeaderLength;
    }
    std::erase_if(PartList, [](const MimePart& p) { return !p.Kept || p.Length < 0; });

    renamedIds_.clear();
    for (const MimePart& part : PartList)
        if (!part.ContentId.empty() && SafeContentIdName(part.ContentId) != part.ContentId)
            renamedIds_.emplace_back(part.ContentId, SafeContentIdName(part.ContentId));
    int counter = 1;
    for (const MimePart& part : PartList) WriteParts(file, part, folder, counter);
    if (!limits_.textCharset.empty()) BodyText = TextToUtf8(BodyText, BodyCharset, limits_.textCharset);
    return kDone;
}

std::string MimeMessageParser::OutputName(const MimePart& part, int& counter, bool& html, bool& text, bool& listed) {
    html = text = false;
    listed = true;
    if (!part.FileName.empty()) return ++counter, part.FileName;
    if (!part.Name.empty()) return ++counter, part.Name;
    if (part.ContentType.find("html") != std::string::npos) {
        if (HtmlBodyPath.empty()) {
            html = true;
            listed = false;
            return "body.html";
        }
    } else if (BodyText.empty()) {
        text = true;
        listed = false;
        return "body.txt";
    }
    if (!part.Description.empty()) return ++counter, part.Description;
    if (!part.ContentId.empty()) {
        listed = false;
        return ++counter, SafeContentIdName(part.ContentId);
    }
    char numbered[32];
    std::snprintf(numbered, sizeof numbered, "ATT%05d.dat", counter++);
    return numbered;
}

void MimeMessageParser::FlushChunk(std::string& chunk, bool html, bool text, int fd, bool& writeFailed) {
    if (html) {
        for (const auto& [raw, safe] : renamedIds_) ReplaceAllInPlace(chunk, "cid:" + raw, "cid:" + safe);
        ReplaceAllInPlace(chunk, "=cid:", "=");
        ReplaceAllInPlace(chunk, "=\"cid:", "=\"");
        ReplaceAllInPlace(chunk, "<BASE ", "<BAS ");
    }
    if (!writeFailed && !WriteFully(fd, chunk)) writeFailed = true;
    if (text && BodyText.size() < limits_.bodyTextLimit) BodyText += chunk;
    chunk.clear();
}

int MimeMessageParser::WriteParts(MessageFile& file, const MimePart& part, const std::string& folder, int& counter) {
    bool html = false, text = false, listed = false;
    std::string name = OutputName(part, counter, html, text, listed);
    if (name == sourceName_) name = "_" + name;  // never replace the message being read
    const std::string path = JoinPath(folder, name);
    if (!part.FileName.empty() || !part.Name.empty()) MakeFolders(folder);
    UniqueFd out = CreateOutput(path, false);
    if (!out) return kNoResources;
    if (html) HtmlBodyPath = path;
    if (text) {
        TextBodyPath = path;
        BodyText.clear();
        BodyCharset = part.Charset;
    }
    if (listed) AttachmentPaths.push_back(path);

    Decoder.SelectPartDecoding(part);
    if (!file.Seek(part.Offset)) return kReadFailed;
    std::int64_t remaining = part.Length;
    std::string line;
    std::string chunk;
    bool writeFailed = false;
    while (remaining > 0 && !file.AtEnd()) {
        const long n = file.ReadFoldedLine(line, kLineRoom);
        if (n < 0) {
            FlushChunk(chunk, html, text, out.get(), writeFailed);
            return kReadFailed;
        }
        // The part may end inside this line (before the break that
        // belongs to a boundary).
        if (n > remaining) line.resize(static_cast<std::size_t>(remaining));
        remaining -= n;
        Decoder.DecodePartLine(line, chunk);
        if (chunk.size() > kFlushAfter) FlushChunk(chunk, html, text, out.get(), writeFailed);
    }
    FlushChunk(chunk, html, text, out.get(), writeFailed);
    out.reset();
    if (writeFailed) return kNoResources;
    if (!part.ContentId.empty()) {
        const std::string copy = JoinPath(folder, SafeContentIdName(part.ContentId));
        if (copy != path && BaseName(copy) != sourceName_) CopyToNewFile(path, copy);
    }
    return kDone;
}

}  // namespace quorvex::mime
