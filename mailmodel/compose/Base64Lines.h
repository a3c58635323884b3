// Base64 in lines of 76 characters for the text-template writer, able to
// encode a long input piece by piece with the line count running on.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvex::compose {

// Upper bound of Base64EncodeLines for n input bytes.
inline std::size_t Base64LinesLength(std::size_t n) {
    const std::size_t l = (n + 2) / 3 * 4;
    return l + 2 * l / 76 + 3;
}

class Base64LineEncoder {
public:
    // Appends the encoding of `bytes` (a multiple of 3 unless it is the
    // last piece). CR LF follows every 76 characters; a padded last group
    // is followed by CR LF; after an unpadded end a short line gets none.
    void Encode(std::string_view bytes, std::string& out);

private:
    std::size_t lineChars_ = 0;
};

// The whole input at once.
std::string Base64EncodeLines(std::string_view bytes);

}  // namespace quorvex::compose
