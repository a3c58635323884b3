// One header field of a MIME entity and the ordered field list of an entity
// header. Values are held decoded (RFC 2047 words undone, folding kept);
// a field with a charset is stored with encoded words again.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::mime {

class CHeaderField {
public:
    CHeaderField() = default;
    CHeaderField(std::string fieldName, std::string fieldValue, std::string fieldCharset = {})
        : name(std::move(fieldName)), value(std::move(fieldValue)), charset(std::move(fieldCharset)) {}

    std::string name;
    std::string value;
    std::string charset;  // empty when the value carries none

    // The value up to the first ';', white space before it cut.
    std::string GetValueWithoutParameters() const;
    // Value of a parameter (ReadParameter: the RFC 2231 forms first, as
    // UTF-8); false (and empty) when absent.
    bool GetParameter(std::string_view parameter, std::string& out) const;
    // Sets a parameter to the value in double quotes, in place when present.
    void SetParameter(std::string_view parameter, std::string_view parameterValue);
    // Sets a parameter holding text for people (a file name), whose bytes
    // are in `charset`: in double quotes when a quoted string can carry it,
    // else in the RFC 2231 form, a long value as continuations
    // ("name*0*=", "name*1*=" ...) on lines of their own. Either earlier
    // form of it goes.
    void SetTextParameter(std::string_view parameter, std::string_view text, std::string_view charset);

    std::size_t GetLength() const;
    // Writes "name: value" CR LF; 0 when the name and framing do not fit.
    std::ptrdiff_t Store(char* buffer, std::size_t capacity) const;
    // Reads one field; returns the bytes consumed, 0 when the text holds a
    // blank line first or no final CR LF.
    std::ptrdiff_t Load(const char* text, std::size_t length);

private:
    // Start and end of a parameter's value (quotes included) in `value`,
    // and where its name starts.
    bool FindParameter(std::string_view parameter, std::size_t& start, std::size_t& end,
                       std::size_t* nameStart = nullptr) const;
    // Takes the parameter out with the ';' and blanks before it.
    void RemoveParameter(std::string_view parameter);
};

}  // namespace quorvex::mime
