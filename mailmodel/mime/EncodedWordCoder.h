// RFC 2047 encoded words: encodes a byte run into B or Q words of at most
// 75 characters (each word holds whole characters of its charset, as each
// word must decode alone) and decodes every encoded word of a header value.
// No charset conversion happens; the charset of the first word is reported.
#pragma once

#include <string>
#include <vector>

#include "mailmodel/mime/TransferCoder.h"

namespace quorvex::mime {

class CEncodedWordCoder : public CTransferCoder {
public:
    void SetEncoding(char letter, std::string charset) {
        letter_ = letter;
        charset_ = std::move(charset);
    }
    // After a decode: the charset of the first encoded word, empty if none.
    const std::string& GetCharset() const { return charset_; }
    // After a decode: the lower-cased letter of the first encoded word.
    char GetLetter() const { return letter_; }

    std::size_t GetEncodeLength() const override;
    std::size_t Encode(char* buffer, std::size_t capacity) override;
    std::size_t Decode(char* buffer, std::size_t capacity) override;

private:
    std::size_t EncodeB(char* buffer, std::size_t capacity) const;
    std::size_t EncodeQ(char* buffer, std::size_t capacity) const;
    std::size_t InputPerBWord() const;
    // Where the characters of the input begin, so that no word ends
    // inside one.
    std::vector<bool> CharacterStarts() const;

    char letter_ = 'B';
    std::string charset_;
};

// Convenience wrappers over the coder.
std::string EncodeWords(std::string_view text, char letter, const std::string& charset);
std::string DecodeWords(std::string_view text, std::string* charset = nullptr);

}  // namespace quorvex::mime
