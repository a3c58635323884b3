// An INI text held in memory with the semantics of the Windows profile
// functions: section and key names compare without regard to case, the
// first matching section and key win, names and values are trimmed and a
// value in matching quotes loses them. Every line that is not a section or
// a key (comments, blank lines, log text) is kept as it is, and so are key
// order, unknown keys and the file's line ending. Pure: no file access.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

class IniDocument {
public:
    static IniDocument Parse(std::string_view text);

    // The text to write back: every line followed by the document's line
    // ending ("\r\n" for new documents, the first one found otherwise).
    std::string Format() const;

    // The value of the first matching key in the first matching section.
    std::optional<std::string_view> Find(std::string_view section, std::string_view key) const;
    bool HasSection(std::string_view section) const;
    std::vector<std::string> SectionNames() const;
    std::vector<std::string> KeyNames(std::string_view section) const;

    // Writes a value the way WritePrivateProfileString does: the first
    // matching key is replaced (its spelling kept), else the key is added
    // after the last key of the section, else the section is added at the
    // end. Refused (false, nothing changed) when a name or the value holds
    // CR or LF, the key is empty or holds '=', or the section holds ']'.
    bool Set(std::string_view section, std::string_view key, std::string_view value);
    // Removes the first matching key. False when there was none.
    bool RemoveKey(std::string_view section, std::string_view key);
    // Removes the first matching section with all its lines.
    bool RemoveSection(std::string_view section);

    bool empty() const { return lines_.empty(); }

private:
    enum class Kind { kOther, kSection, kKey };
    struct Line {
        std::string raw;    // the line as stored, without its line ending
        Kind kind = Kind::kOther;
        std::string name;   // section or key name, trimmed
        std::string value;  // key value, trimmed and unquoted
    };

    static Line ParseLine(std::string raw);
    // Index of the first line of the first matching section's header, or npos.
    std::size_t FindSection(std::string_view section) const;
    // One past the section's last line.
    std::size_t SectionEnd(std::size_t header) const;
    std::size_t FindKey(std::size_t header, std::string_view key) const;

    std::vector<Line> lines_;
    std::string eol_ = "\r\n";
};

// GetPrivateProfileInt's reading of a number: leading blanks, an optional
// sign and the decimal digits that follow; no digits give 0; the result is
// clamped to the int range. An empty text gives the default.
int ParseProfileInt(std::string_view text, int default_value);

}  // namespace quorvex
