// Line-breaking base64 on top of the foundation's one-line encoder.
#include "mailmodel/compose/Base64Lines.h"

#include "common/Base64.h"

namespace quorvex::compose {

void Base64LineEncoder::Encode(std::string_view bytes, std::string& out) {
    const std::string encoded = Base64Encode(bytes);
    out.reserve(out.size() + Base64LinesLength(bytes.size()));
    std::size_t pos = 0;
    while (pos < encoded.size()) {
        const std::size_t take = std::min(encoded.size() - pos, 76 - lineChars_);
        out.append(encoded, pos, take);
        pos += take;
        lineChars_ += take;
        if (lineChars_ == 76) {
            out += "\r\n";
            lineChars_ = 0;
        }
    }
    if (bytes.size() % 3 != 0 && lineChars_ > 0) {
        out += "\r\n";
        lineChars_ = 0;
    }
}

std::string Base64EncodeLines(std::string_view bytes) {
    std::string out;
    Base64LineEncoder encoder;
    encoder.Encode(bytes, out);
    return out;
}

}  // namespace quorvex::compose
