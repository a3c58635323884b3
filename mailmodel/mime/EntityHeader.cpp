// Field list operations, media-type lookups and the made-up boundary.
#include "mailmodel/mime/EntityHeader.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>

#include "common/AsciiCase.h"
#include "mailmodel/mime/MimeCharClass.h"
#include "mailmodel/mime/MimeFlavour.h"

namespace quorvex::mime {
namespace {

// Hostile messages may carry any number of header lines; beyond this many
// fields a header keeps reading but stops storing them.
constexpr std::size_t kMaxFieldsPerHeader = 10000;

constexpr std::array<std::string_view, 8> kMediaTypes = {"text",      "image",     "audio",   "video",
                                                         "application", "multipart", "message", "uuencode"};

struct ExtensionType {
    std::string_view extension;
    int mainType;
    std::string_view subType;
};

constexpr std::array<ExtensionType, 16> kExtensionTypes = {{
    {"xml", kMediaApplication, "xml"},
    {"doc", kMediaApplication, "msword"},
    {"rtf", kMediaApplication, "rtf"},
    {"xls", kMediaApplication, "vnd.ms-excel"},
    {"ppt", kMediaApplication, "vnd.ms-powerpoint"},
    {"pdf", kMediaApplication, "pdf"},
    {"zip", kMediaApplication, "zip"},
    {"jpeg", kMediaImage, "jpeg"},
    {"jpg", kMediaImage, "jpeg"},
    {"gif", kMediaImage, "gif"},
    {"tif", kMediaImage, "tiff"},
    {"tiff", kMediaImage, "tiff"},
    {"wav", kMediaAudio, "basic"},
    {"mp3", kMediaAudio, "basic"},
    {"mpg", kMediaVideo, "mpeg"},
    {"mpeg", kMediaVideo, "mpeg"},
}};

std::atomic<int> g_boundaryCounter{0};

bool IsBeginLine(std::string_view t) {
    if (t.size() < 10 || !StartsWithNoCase(t, "begin ")) return false;
    for (std::size_t i = 6; i < 9; ++i)
        if (t[i] < '0' || t[i] > '9') return false;
    return t[9] == ' ';
}

}  // namespace

std::string_view MediaTypeName(int index, MimeFlavour flavour) {
    if (index < 0 || index >= TraitsOf(flavour).mediaTypeCount) return {};
    return kMediaTypes[static_cast<std::size_t>(index)];
}

std::string ContentTypeForExtension(std::string_view extension) {
    for (const ExtensionType& row : kExtensionTypes)
        if (EqualsNoCase(row.extension, extension))
            return std::string(kMediaTypes[static_cast<std::size_t>(row.mainType)]) + "/" + std::string(row.subType);
    return {};
}

CEntityHeader::FieldList::iterator CEntityHeader::FindField(std::string_view name) {
    for (auto it = fields_.begin(); it != fields_.end(); ++it)
        if (EqualsNoCase(it->name, name)) return it;
    return fields_.end();
}

CEntityHeader::FieldList::const_iterator CEntityHeader::FindField(std::string_view name) const {
    for (auto it = fields_.begin(); it != fields_.end(); ++it)
        if (EqualsNoCase(it->name, name)) return it;
    return fields_.end();
}

const std::string* CEntityHeader::GetFieldValue(std::string_view name) const {
    const auto it = FindField(name);
    return it == fields_.end() ? nullptr : &it->value;
}

std::string CEntityHeader::ValueOrEmpty(std::string_view name) const {
    const std::string* v = GetFieldValue(name);
    return v == nullptr ? std::string() : *v;
}

std::string CEntityHeader::GetFieldParameter(std::string_view name, std::string_view parameter) const {
    const auto it = FindField(name);
    std::string out;
    if (it != fields_.end()) it->GetParameter(parameter, out);
    return out;
}

void CEntityHeader::SetFieldValue(std::string_view name, std::string_view value, const char* charset) {
    SetField(CHeaderField(std::string(name), std::string(value), charset != nullptr ? charset : ""));
}

void CEntityHeader::SetField(const CHeaderField& field) {
    const auto it = FindField(field.name);
    if (it != fields_.end())
        *it = field;
    else
        fields_.push_back(field);
}

void CEntityHeader::SetFieldTextParameter(std::string_view name, std::string_view parameter, std::string_view text,
                                          std::string_view charset) {
    if (const auto it = FindField(name); it != fields_.end()) it->SetTextParameter(parameter, text, charset);
}

void CEntityHeader::AppendField(CHeaderField field) {
    if (fields_.size() < kMaxFieldsPerHeader) fields_.push_back(std::move(field));
}

int CEntityHeader::GetMediaType() const {
    const int count = Traits().mediaTypeCount;
    const std::string* type = GetFieldValue("Content-Type");
    const std::string_view value = type == nullptr ? std::string_view("text") : std::string_view(*type);
    for (int i = 0; i < count; ++i)
        if (StartsWithNoCase(value, kMediaTypes[static_cast<std::size_t>(i)])) return i;
    return count;
}

std::string CEntityHeader::GetMediaTypeName() const {
    const std::string* type = GetFieldValue("Content-Type");
    if (type == nullptr) return "text";
    return type->substr(0, type->find('/'));
}

std::string CEntityHeader::GetSubType() const {
    const auto it = FindField("Content-Type");
    if (it == fields_.end()) return "plain";
    const std::string bare = it->GetValueWithoutParameters();
    const std::size_t slash = bare.find('/');
    return slash == std::string::npos ? bare : bare.substr(slash + 1);
}

bool CEntityHeader::IsText() const {
    const int type = GetMediaType();
    return type == kMediaText || (type == kMediaUuencode && Traits().uuencode);
}

void CEntityHeader::SetCharset(std::string_view charset) {
    const auto it = FindField("Content-Type");
    if (it != fields_.end()) {
        it->SetParameter("charset", charset);
        return;
    }
    CHeaderField field("Content-Type", "text/plain");
    field.SetParameter("charset", charset);
    fields_.push_back(std::move(field));
}

void CEntityHeader::SetName(std::string_view name) {
    const auto it = FindField("Content-Type");
    if (it != fields_.end()) {
        it->SetParameter("name", name);
        return;
    }
    std::string type = "application/octet-stream";
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos) {
        std::string byExtension = ContentTypeForExtension(name.substr(dot + 1));
        if (!byExtension.empty()) type = std::move(byExtension);
    }
    CHeaderField field("Content-Type", type);
    field.SetParameter("name", name);
    fields_.push_back(std::move(field));
}

void CEntityHeader::SetBoundary(const char* boundary) {
    std::string made;
    if (boundary == nullptr) {
        // Seeded from the time and this object's address, as two messages
        // made in the same second by different objects must differ.
        const auto now = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
        std::mt19937 random(static_cast<std::uint32_t>(now ^ reinterpret_cast<std::uintptr_t>(this)));
        std::uniform_int_distribution<int> draw(0, 999999);
        const int r1 = draw(random);
        const int r2 = draw(random);
        int counter = g_boundaryCounter.fetch_add(1) + 1;
        if (counter >= 9) g_boundaryCounter.store(0);
        counter = (counter - 1) % 9 + 1;
        char text[96];
        std::snprintf(text, sizeof text, "%.*s%03d_%06d.%06d",
                      static_cast<int>(Traits().boundaryPrefix.size()),
                      Traits().boundaryPrefix.data(), counter, r2, r1);
        made = text;
        boundary = made.c_str();
    }
    auto it = FindField("Content-Type");
    if (it == fields_.end()) {
        fields_.emplace_back("Content-Type", "multipart/mixed");
        it = fields_.end() - 1;
    } else if (!StartsWithNoCase(it->value, "multipart")) {
        it->value = "multipart/mixed";
    }
    it->SetParameter("boundary", boundary);
}

std::size_t CEntityHeader::GetLength() {
    std::size_t total = 2;
    for (const CHeaderField& field : fields_) total += field.GetLength();
    return total;
}

std::ptrdiff_t CEntityHeader::Store(char* buffer, std::size_t capacity) {
    std::size_t o = 0;
    for (const CHeaderField& field : fields_) {
        const std::ptrdiff_t r = field.Store(buffer + o, capacity - o);
        if (r <= 0) return r;
        o += static_cast<std::size_t>(r);
    }
    if (capacity - o < 2) return 0;
    buffer[o++] = '\r';
    buffer[o++] = '\n';
    return static_cast<std::ptrdiff_t>(o);
}

std::ptrdiff_t CEntityHeader::Load(const char* text, std::size_t length) {
    const std::string_view t(text, length);
    if (Traits().uuencode && IsBeginLine(t)) {
        const std::size_t eol = t.find("\r\n", 10);
        if (eol != std::string_view::npos) {
            CHeaderField type("Content-Type", "application/octet-stream");
            type.SetParameter("name", t.substr(10, eol - 10));
            AppendField(std::move(type));
            AppendField(CHeaderField("Content-Transfer-Encoding", "uuencode"));
            return static_cast<std::ptrdiff_t>(eol + 2);
        }
    }
    std::size_t pos = 0;
    CHeaderField field;
    while (pos < t.size() && t[pos] != '\0' && t[pos] != '\r') {
        const std::ptrdiff_t r = field.Load(text + pos, length - pos);
        if (r < 1) return r;
        AppendField(field);
        pos += static_cast<std::size_t>(r);
    }
    if (pos < t.size() && t[pos] == '\r') pos = std::min(pos + 2, t.size());
    return static_cast<std::ptrdiff_t>(pos);
}

}  // namespace quorvex::mime
