// Loading, storing and walking a MIME entity tree.
#include "mailmodel/mime/MimeEntity.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "common/AsciiCase.h"
#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "mailmodel/mime/MimeCharClass.h"
#include "mailmodel/mime/MimeFlavour.h"
#include "mailmodel/mime/Rfc822Message.h"
#include "mailmodel/mime/TransferCoder.h"

namespace quorvex::mime {
namespace {

constexpr std::string_view kUuDelimiter = "\r\n\r\nbegin ";

// "\r\n\r\nbegin " followed by three digits and a blank, from `from` on.
std::size_t FindUuBlock(std::string_view t, std::size_t from) {
    while (true) {
        const std::size_t p = t.find(kUuDelimiter, from);
        if (p == std::string_view::npos) return p;
        const std::size_t d = p + kUuDelimiter.size();
        if (d + 4 <= t.size() && std::isdigit(static_cast<unsigned char>(t[d])) &&
            std::isdigit(static_cast<unsigned char>(t[d + 1])) && std::isdigit(static_cast<unsigned char>(t[d + 2])) &&
            t[d + 3] == ' ')
            return p;
        from = p + 1;
    }
}

std::size_t FindDelimiter(std::string_view t, std::string_view delimiter, bool uu, std::size_t from) {
    return uu ? FindUuBlock(t, from) : t.find(delimiter, from);
}

}  // namespace

std::unique_ptr<CMimeEntity> CreateEntity(std::string_view, MimeFlavour flavour) {
    return std::make_unique<CMimeEntity>(flavour);
}

void CMimeEntity::Clear() {
    parts_.clear();
    content_.clear();
    CEntityHeader::Clear();
}

std::ptrdiff_t CMimeEntity::SetText(const char* text, std::size_t length) {
    if (text == nullptr) return -1;
    if (length == 0) length = std::strlen(text);
    content_.assign(text, length);
    return static_cast<std::ptrdiff_t>(length);
}

std::ptrdiff_t CMimeEntity::SetText(std::string_view text) {
    content_.assign(text);
    return static_cast<std::ptrdiff_t>(text.size());
}

std::size_t CMimeEntity::CopyText(char* buffer, std::size_t n) const {
    const std::size_t count = std::min(n, content_.size());
    if (count > 0) std::memcpy(buffer, content_.data(), count);
    return count;
}

std::size_t CMimeEntity::GetText(std::string& out) const {
    out = content_;
    return content_.size();
}

bool CMimeEntity::SetMessage(CRfc822Message& message) {
    content_ = message.StoreToString();
    const std::string* type = GetFieldValue("Content-Type");
    if (type == nullptr || !StartsWithNoCase(*type, "message")) SetContentType("message/rfc822");
    return true;
}

std::ptrdiff_t CMimeEntity::GetMessage(CRfc822Message& message) const {
    return message.Load(content_.data(), content_.size());
}

bool CMimeEntity::ReadFromFile(const std::string& path) {
    std::string bytes;
    if (!FileExists(path) || !ReadWholeFile(path, bytes)) return false;
    content_ = std::move(bytes);
    SetName(BaseName(path));
    return true;
}

bool CMimeEntity::WriteToFile(const std::string& path) const {
    if (content_.empty()) return true;
    return AtomicWriteFile(path, content_);
}

CMimeEntity* CMimeEntity::CreatePart(std::string_view mediaType, const CMimeEntity* before) {
    std::unique_ptr<CMimeEntity> part = CreateEntity(mediaType.empty() ? std::string_view("text") : mediaType, flavour_);
    CMimeEntity* raw = part.get();
    auto at = std::find_if(parts_.begin(), parts_.end(), [&](const auto& p) { return p.get() == before; });
    if (before == nullptr) at = parts_.end();
    parts_.insert(at, std::move(part));
    return raw;
}

void CMimeEntity::ErasePart(const CMimeEntity* part) {
    std::erase_if(parts_, [&](const auto& p) { return p.get() == part; });
}

std::size_t CMimeEntity::GetBodyPartList(std::vector<CMimeEntity*>& list) {
    if (GetMediaType() != kMediaMultipart) {
        list.push_back(this);
        return 1;
    }
    std::size_t count = 0;
    for (auto& part : parts_) count += part->GetBodyPartList(list);
    return count;
}

std::size_t CMimeEntity::GetAttachmentList(std::vector<CMimeEntity*>& list) {
    const int type = GetMediaType();
    if (type == kMediaMultipart || (type == kMediaUuencode && Traits().uuencode)) {
        std::size_t count = 0;
        for (auto& part : parts_) count += part->GetAttachmentList(list);
        return count;
    }
    if (GetName().empty()) return 0;
    list.push_back(this);
    return 1;
}

std::size_t CMimeEntity::GetLength() {
    std::size_t total = CEntityHeader::GetLength();
    auto coder = CreateTransferCoder(GetTransferEncoding(), flavour_);
    coder->SetInput(content_.data(), content_.size(), true);
    total += coder->GetResultLength();
    if (!parts_.empty()) {
        const std::size_t b = GetBoundary().size();
        for (auto& part : parts_) total += b + 6 + part->GetLength();
        total += b + 8;
    }
    return total;
}

std::ptrdiff_t CMimeEntity::Store(char* buffer, std::size_t capacity) {
    const std::ptrdiff_t header = CEntityHeader::Store(buffer, capacity);
    if (header <= 0) return header;
    std::size_t o = static_cast<std::size_t>(header);
    auto coder = CreateTransferCoder(GetTransferEncoding(), flavour_);
    coder->SetInput(content_.data(), content_.size(), true);
    o += coder->Convert(buffer + o, capacity - o);
    if (parts_.empty()) return static_cast<std::ptrdiff_t>(o);
    const std::string boundary = GetBoundary();
    if (boundary.empty()) return -1;
    bool first = true;
    for (auto& part : parts_) {
        if (capacity - o < boundary.size() + 6) continue;  // does not fit: skipped
        // The CR LF that ends the content is the one of the first delimiter.
        if (first && o >= 2 && buffer[o - 2] == '\r' && buffer[o - 1] == '\n') o -= 2;
        first = false;
        std::memcpy(buffer + o, "\r\n--", 4);
        std::memcpy(buffer + o + 4, boundary.data(), boundary.size());
        std::memcpy(buffer + o + 4 + boundary.size(), "\r\n", 2);
        o += boundary.size() + 6;
        const std::ptrdiff_t r = part->Store(buffer + o, capacity - o);
        if (r < 0) return r;
        o += static_cast<std::size_t>(r);
    }
    if (capacity - o >= boundary.size() + 8) {
        std::memcpy(buffer + o, "\r\n--", 4);
        std::memcpy(buffer + o + 4, boundary.data(), boundary.size());
        std::memcpy(buffer + o + 4 + boundary.size(), "--\r\n", 4);
        o += boundary.size() + 8;
    }
    return static_cast<std::ptrdiff_t>(o);
}

std::string CMimeEntity::StoreToString() {
    std::string out(GetLength(), '\0');
    const std::ptrdiff_t n = Store(out.data(), out.size());
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

std::ptrdiff_t CMimeEntity::Load(const char* text, std::size_t length) {
    LoadBudget budget;
    return LoadWithin(text, length, budget, 0);
}

std::ptrdiff_t CMimeEntity::LoadWithin(const char* text, std::size_t length, LoadBudget& budget, int depth) {
    const std::ptrdiff_t headerResult = CEntityHeader::Load(text, length);
    if (headerResult < 1) return headerResult;
    content_.clear();
    const std::string_view t(text, length);
    const std::size_t bodyStart = static_cast<std::size_t>(headerResult);
    const bool uuencode = Traits().uuencode;
    const std::string boundary = GetBoundary();
    const bool split = depth < kMaxMimeDepth;

    // Where this entity's own content ends and its parts (if any) begin.
    std::size_t ownEnd = t.size();
    const std::size_t searchFrom = bodyStart >= 2 ? bodyStart - 2 : 0;
    const std::string delimiter = "\r\n--" + boundary;
    if (GetMediaType() == kMediaMultipart && !boundary.empty()) {
        const std::size_t p = split ? t.find(delimiter, searchFrom) : std::string_view::npos;
        if (p != std::string_view::npos) ownEnd = std::max(p + 2, bodyStart);
    } else if (uuencode && split) {
        const std::size_t p = FindUuBlock(t, bodyStart);
        if (p != std::string_view::npos) {
            ownEnd = p;
            AppendField(CHeaderField("Content-Type", "uuencode"));
        }
    }

    if (ownEnd > bodyStart) {
        auto coder = CreateTransferCoder(GetTransferEncoding(), flavour_);
        coder->SetInput(text + bodyStart, ownEnd - bodyStart, false);
        content_.resize(coder->GetResultLength());
        content_.resize(coder->Convert(content_.data(), content_.size()));
    }
    if (ownEnd >= t.size()) return static_cast<std::ptrdiff_t>(t.size());

    const bool byBoundary = !boundary.empty();
    if (!byBoundary && !uuencode) return static_cast<std::ptrdiff_t>(t.size());
    const std::size_t delimiterLength = byBoundary ? delimiter.size() : kUuDelimiter.size();
    std::size_t pos = FindDelimiter(t, delimiter, !byBoundary, ownEnd >= 2 ? ownEnd - 2 : 0);
    while (pos != std::string_view::npos && pos < t.size()) {
        const std::size_t after = pos + delimiterLength;
        std::size_t partStart;
        if (byBoundary) {
            const std::size_t eol = t.find("\r\n", after);
            if (eol == std::string_view::npos) break;
            if (t.compare(after, 2, "--") == 0) return static_cast<std::ptrdiff_t>(eol + 2);
            partStart = eol + 2;
        } else {
            partStart = pos + 4;  // the empty line before "begin" is the delimiter line
        }
        const std::size_t next = FindDelimiter(t, delimiter, !byBoundary, partStart >= 2 ? partStart - 2 : 0);
        const std::size_t partEnd = next == std::string_view::npos ? t.size() : std::max(next, partStart);
        if (budget.partsLeft == 0) break;
        --budget.partsLeft;
        CEntityHeader probe(flavour_);
        probe.Load(text + partStart, partEnd - partStart);
        CMimeEntity* child = CreatePart(probe.GetMediaTypeName());
        const std::ptrdiff_t r = child->LoadWithin(text + partStart, partEnd - partStart, budget, depth + 1);
        if (r < 0) {
            ErasePart(child);
            return r;
        }
        pos = next;
    }
    return static_cast<std::ptrdiff_t>(t.size());
}

}  // namespace quorvex::mime
