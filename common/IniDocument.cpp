// In-memory INI text with Windows profile semantics.
#include "common/IniDocument.h"

#include <climits>

#include "common/AccountName.h"

namespace quorvex {

namespace {

constexpr std::size_t npos = std::string::npos;

std::string_view trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

bool has_line_break(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

IniDocument::Line IniDocument::ParseLine(std::string raw) {
    Line line;
    line.raw = std::move(raw);
    const std::string_view text = trim(line.raw);
    if (text.empty() || text.front() == ';') return line;
    if (text.front() == '[') {
        const auto close = text.find(']');
        if (close != std::string_view::npos) {
            line.kind = Kind::kSection;
            line.name = std::string(trim(text.substr(1, close - 1)));
        }
        return line;
    }
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) return line;
    const std::string_view key = trim(text.substr(0, eq));
    if (key.empty()) return line;
    std::string_view value = trim(text.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    line.kind = Kind::kKey;
    line.name = std::string(key);
    line.value = std::string(value);
    return line;
}

IniDocument IniDocument::Parse(std::string_view text) {
    IniDocument doc;
    const auto first_lf = text.find('\n');
    if (first_lf != std::string_view::npos) doc.eol_ = (first_lf > 0 && text[first_lf - 1] == '\r') ? "\r\n" : "\n";
    std::size_t pos = 0;
    while (pos < text.size()) {
        auto lf = text.find('\n', pos);
        if (lf == std::string_view::npos) lf = text.size();
        std::string_view raw = text.substr(pos, lf - pos);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        doc.lines_.push_back(ParseLine(std::string(raw)));
        pos = lf + 1;
    }
    return doc;
}

std::string IniDocument::Format() const {
    std::size_t size = 0;
    for (const Line& line : lines_) size += line.raw.size() + eol_.size();
    std::string out;
    out.reserve(size);
    for (const Line& line : lines_) out.append(line.raw).append(eol_);
    return out;
}

std::size_t IniDocument::FindSection(std::string_view section) const {
    const std::string_view wanted = trim(section);
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == Kind::kSection && SameName(lines_[i].name, wanted)) return i;
    return npos;
}

std::size_t IniDocument::SectionEnd(std::size_t header) const {
    std::size_t i = header + 1;
    while (i < lines_.size() && lines_[i].kind != Kind::kSection) ++i;
    return i;
}

std::size_t IniDocument::FindKey(std::size_t header, std::string_view key) const {
    const std::string_view wanted = trim(key);
    const std::size_t end = SectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i)
        if (lines_[i].kind == Kind::kKey && SameName(lines_[i].name, wanted)) return i;
    return npos;
}

std::optional<std::string_view> IniDocument::Find(std::string_view section, std::string_view key) const {
    const std::size_t header = FindSection(section);
    if (header == npos) return std::nullopt;
    const std::size_t at = FindKey(header, key);
    if (at == npos) return std::nullopt;
    return std::string_view(lines_[at].value);
}

bool IniDocument::HasSection(std::string_view section) const { return FindSection(section) != npos; }

std::vector<std::string> IniDocument::SectionNames() const {
    std::vector<std::string> names;
    for (const Line& line : lines_)
        if (line.kind == Kind::kSection) names.push_back(line.name);
    return names;
}

std::vector<std::string> IniDocument::KeyNames(std::string_view section) const {
    std::vector<std::string> names;
    const std::size_t header = FindSection(section);
    if (header == npos) return names;
    const std::size_t end = SectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i)
        if (lines_[i].kind == Kind::kKey) names.push_back(lines_[i].name);
    return names;
}

bool IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    if (has_line_break(section) || has_line_break(key) || has_line_break(value)) return false;
    section = trim(section);
    key = trim(key);
    if (section.empty() || key.empty()) return false;
    if (section.find(']') != std::string_view::npos || key.find('=') != std::string_view::npos) return false;
    if (key.front() == '[' || key.front() == ';') return false;

    const std::size_t header = FindSection(section);
    if (header == npos) {
        if (!lines_.empty() && !trim(lines_.back().raw).empty()) lines_.push_back(ParseLine(""));
        lines_.push_back(ParseLine(std::string("[").append(section).append("]")));
        lines_.push_back(ParseLine(std::string(key) + "=" + std::string(value)));
        return true;
    }
    const std::size_t at = FindKey(header, key);
    if (at != npos) {
        lines_[at] = ParseLine(lines_[at].name + "=" + std::string(value));
        return true;
    }
    std::size_t insert_at = header + 1;
    const std::size_t end = SectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i)
        if (lines_[i].kind == Kind::kKey) insert_at = i + 1;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert_at),
                  ParseLine(std::string(key) + "=" + std::string(value)));
    return true;
}

bool IniDocument::RemoveKey(std::string_view section, std::string_view key) {
    const std::size_t header = FindSection(section);
    if (header == npos) return false;
    const std::size_t at = FindKey(header, key);
    if (at == npos) return false;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
}

bool IniDocument::RemoveSection(std::string_view section) {
    const std::size_t header = FindSection(section);
    if (header == npos) return false;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(SectionEnd(header)));
    return true;
}

int ParseProfileInt(std::string_view text, int default_value) {
    if (text.empty()) return default_value;
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > static_cast<long long>(INT_MAX) + 1) magnitude = static_cast<long long>(INT_MAX) + 1;
    }
    const long long value = negative ? -magnitude : magnitude;
    if (value > INT_MAX) return INT_MAX;
    return static_cast<int>(value);
}

}  // namespace quorvex
