// CStringTokenizer: splits a text at every occurrence of a delimiter
// string (a substring, not a set of characters). Used for protocol lines
// and ";"-separated list values. Tokens are views into the tokenizer's own
// copy of the text and stay valid while the tokenizer lives.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvex {

class CStringTokenizer {
public:
    // Text and delimiter are each kept up to kMaxLength characters; a
    // longer one is cut there and the cut is written to the error log.
    static constexpr std::size_t kMaxLength = 4096;

    CStringTokenizer(std::string_view text, std::string_view delimiter);
    CStringTokenizer(const CStringTokenizer&) = delete;
    CStringTokenizer& operator=(const CStringTokenizer&) = delete;

    // The text up to the next delimiter; the cursor moves behind that
    // delimiter, or to the end when there is none. Two delimiters in a row
    // give an empty token; a delimiter at the very end gives no empty last
    // token. At the end (and always with an empty delimiter) the result is
    // empty.
    std::string_view NextToken();

    // True while text is left behind the cursor.
    bool HasMoreTokens() const { return cursor_ < text_.size(); }

    // The part of the text not yet split.
    std::string_view Remainder() const { return std::string_view(text_).substr(cursor_); }

private:
    std::string text_;
    std::string delimiter_;
    std::size_t cursor_ = 0;
};

}  // namespace quorvex
