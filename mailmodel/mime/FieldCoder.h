// Header-field coders and their registry. Decoding turns the encoded words
// of any field back into bytes; encoding (only for a field that carries a
// charset) cuts the value into words that respect quoted strings, comments
// and angle addresses, encodes each word holding 8-bit bytes, and breaks
// structured fields after their delimiters.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "mailmodel/mime/TransferCoder.h"

namespace quorvex::mime {

class CFieldCoder : public CTransferCoder {
public:
    std::string charset;  // empty: words are never encoded

    std::size_t GetEncodeLength() const override;
    std::size_t Encode(char* buffer, std::size_t capacity) override;
    std::size_t Decode(char* buffer, std::size_t capacity) override;

    virtual bool IsDelimiter(char c) const;
    // The closing character the word scanner waits for at the start of a
    // value: 0 none; 255 never matches, so the value is one single word.
    virtual int GetInitialQuote() const { return 0; }

    // Length of the next word; updates the quote state and counts the bytes
    // with the high bit set.
    static std::size_t ScanWord(const char* text, std::size_t length, int& quote, std::size_t& highBytes);
    // 'B' or 'Q' for a word of n bytes of which h are 8-bit.
    static char ChooseEncoding(std::size_t n, std::size_t h);
};

class CTextFieldCoder : public CFieldCoder {
public:
    int GetInitialQuote() const override { return 255; }
};

class CAddressFieldCoder : public CFieldCoder {
public:
    bool IsDelimiter(char c) const override { return c == ',' || c == ':'; }
};

class CParameterFieldCoder : public CFieldCoder {
public:
    bool IsDelimiter(char c) const override { return c == ';'; }
};

using FieldCoderFactory = std::unique_ptr<CFieldCoder> (*)();

// Removes every entry of that name; appends the factory unless null.
void RegisterFieldCoder(std::string_view name, FieldCoderFactory factory);
// The coder registered for a header name (case-insensitive), else the base
// coder, which still decodes encoded words.
std::unique_ptr<CFieldCoder> CreateFieldCoder(std::string_view name);

// Replaces every CR LF and the white space after it by one blank.
std::string UnfoldValue(std::string_view value);

}  // namespace quorvex::mime
