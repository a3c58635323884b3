// Parsing, parameter handling and storing of one header field (RFC 822
// syntax, RFC 2045 parameters, RFC 2047 words through the field coders).
#include "mailmodel/mime/HeaderField.h"

#include <cstring>
#include <vector>

#include "common/AsciiCase.h"
#include "common/CharsetText.h"
#include "mailmodel/mime/FieldCoder.h"
#include "mailmodel/mime/MimeCharClass.h"
#include "mailmodel/mime/MimeParameters.h"
#include "mailmodel/mime/MimeTextRoutines.h"

namespace quorvex::mime {
namespace {

bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }

// The longest encoded text of one parameter (or one piece of it) on a line.
constexpr std::size_t kMaxParameterPiece = 60;

}  // namespace

std::string CHeaderField::GetValueWithoutParameters() const {
    const std::size_t semi = value.find(';');
    if (semi == std::string::npos) return value;
    std::size_t end = semi;
    while (end > 0 && IsMimeSpace(static_cast<unsigned char>(value[end - 1]))) --end;
    return value.substr(0, end);
}

bool CHeaderField::FindParameter(std::string_view parameter, std::size_t& start, std::size_t& end,
                                 std::size_t* nameStart) const {
    const std::string_view v = value;
    std::size_t p = v.find(';');
    if (p == std::string_view::npos) return false;
    ++p;
    while (p < v.size()) {
        while (p < v.size() && (IsMimeSpace(static_cast<unsigned char>(v[p])) || v[p] == ';')) ++p;
        const std::size_t eq = v.find('=', p);
        if (eq == std::string_view::npos) return false;
        const std::size_t nameAt = p;
        const std::size_t vs = eq + 1;
        std::size_t ve;
        if (vs < v.size() && v[vs] == '"') {
            const std::size_t close = v.find('"', vs + 1);
            ve = close == std::string_view::npos ? v.size() : close + 1;
        } else {
            ve = vs;
            while (ve < v.size() && (v[ve] == '.' || IsMimeTokenChar(static_cast<unsigned char>(v[ve])))) ++ve;
        }
        const std::size_t after = nameAt + parameter.size();
        if (StartsWithNoCase(v.substr(nameAt), parameter) && after < v.size() &&
            (IsMimeSpace(static_cast<unsigned char>(v[after])) || v[after] == '=')) {
            start = vs;
            end = ve;
            if (nameStart != nullptr) *nameStart = nameAt;
            return true;
        }
        p = ve > p ? ve : p + 1;
    }
    return false;
}

bool CHeaderField::GetParameter(std::string_view parameter, std::string& out) const {
    auto found = ReadParameter(value, parameter);
    out = found ? std::move(*found) : std::string();
    return found.has_value();
}

void CHeaderField::SetParameter(std::string_view parameter, std::string_view parameterValue) {
    std::string quoted;
    if (parameterValue.empty() || parameterValue.front() != '"') quoted += '"';
    quoted += parameterValue;
    if (!(parameterValue.size() >= 2 && parameterValue.back() == '"')) quoted += '"';
    std::size_t start = 0, end = 0;
    if (FindParameter(parameter, start, end)) {
        value.replace(start, end - start, quoted);
    } else {
        value += "; ";
        value += parameter;
        value += '=';
        value += quoted;
    }
}

void CHeaderField::SetTextParameter(std::string_view parameter, std::string_view text, std::string_view charset) {
    const std::string extended = std::string(parameter) + "*";
    RemoveParameter(extended);
    if (!NeedsExtendedParameter(text)) {
        SetParameter(parameter, text);
        return;
    }
    RemoveParameter(parameter);
    const std::string encoded = EncodeExtendedParameter(text, charset);
    if (encoded.size() <= kMaxParameterPiece) {
        value += "; " + extended + "=" + encoded;
        return;
    }
    // A long value goes as numbered pieces (RFC 2231 continuations), each
    // on a line of its own and ending with a whole character, so no line
    // grows long and no piece holds half a character.
    const std::vector<bool> starts = CharacterStarts(text, charset);
    std::size_t from = 0;
    for (unsigned piece = 0; from < text.size(); ++piece) {
        std::size_t to = from;
        std::string part = piece == 0 ? EncodeExtendedParameter({}, charset) : std::string();
        while (to < text.size()) {
            std::size_t next = to + 1;
            while (next < text.size() && !starts[next]) ++next;
            const std::string character = EncodeExtendedParameter(text.substr(to, next - to), {}).substr(2);
            if (to > from && part.size() + character.size() > kMaxParameterPiece) break;
            part += character;
            to = next;
        }
        value += ";\r\n " + extended + std::to_string(piece) + "*=" + part;
        from = to;
    }
}

void CHeaderField::RemoveParameter(std::string_view parameter) {
    std::size_t start = 0, end = 0, nameAt = 0;
    if (!FindParameter(parameter, start, end, &nameAt)) return;
    std::size_t from = nameAt;
    while (from > 0 && (IsMimeSpace(static_cast<unsigned char>(value[from - 1])) || value[from - 1] == ';')) {
        --from;
        if (value[from] == ';') break;
    }
    value.erase(from, end - from);
}

std::size_t CHeaderField::GetLength() const {
    auto coder = CreateFieldCoder(name);
    coder->charset = charset;
    coder->SetInput(value.data(), value.size(), true);
    return name.size() + coder->GetResultLength() + 4;
}

std::ptrdiff_t CHeaderField::Store(char* buffer, std::size_t capacity) const {
    if (capacity < name.size() + 4) return 0;
    std::memcpy(buffer, name.data(), name.size());
    std::memcpy(buffer + name.size(), ": ", 2);
    auto coder = CreateFieldCoder(name);
    coder->charset = charset;
    coder->SetInput(value.data(), value.size(), true);
    const std::size_t written = coder->Convert(buffer + name.size() + 2, capacity - name.size() - 4);
    std::memcpy(buffer + name.size() + 2 + written, "\r\n", 2);
    return static_cast<std::ptrdiff_t>(name.size() + 4 + written);
}

std::ptrdiff_t CHeaderField::Load(const char* text, std::size_t length) {
    name.clear();
    value.clear();
    charset.clear();
    const std::string_view t(text, length);
    std::size_t pos = 0;
    // Lines that begin with white space before any field are skipped whole.
    while (pos < t.size() && IsMimeSpace(static_cast<unsigned char>(t[pos]))) {
        if (t[pos] == '\r') return 0;
        const std::size_t eol = t.find("\r\n", pos);
        if (eol == std::string_view::npos) return 0;
        pos = eol + 2;
    }
    if (pos >= t.size()) return 0;
    std::size_t colon = pos;
    while (colon < t.size() && t[colon] != ':' && t[colon] != '\0' && t[colon] != '\r' && t[colon] != '\n') ++colon;
    std::size_t valueStart = pos;
    if (colon < t.size() && t[colon] == ':') {
        name.assign(t.substr(pos, colon - pos));
        valueStart = colon + 1;
    }
    while (valueStart < t.size() && IsBlankOrTab(t[valueStart])) ++valueStart;
    std::size_t end = t.find("\r\n", valueStart);
    while (end != std::string_view::npos && end + 2 < t.size() && IsBlankOrTab(t[end + 2]))
        end = t.find("\r\n", end + 2);
    if (end == std::string_view::npos) return 0;
    auto coder = CreateFieldCoder(name);
    const std::string_view raw = t.substr(valueStart, end - valueStart);
    value.resize(raw.size());
    coder->SetInput(raw.data(), raw.size(), false);
    value.resize(coder->Convert(value.data(), value.size()));
    charset = coder->charset;
    return static_cast<std::ptrdiff_t>(end + 2);
}

}  // namespace quorvex::mime
