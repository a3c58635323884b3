// Piecewise decoding with the decoders' state kept between pieces, and the
// bytes that may begin a quoted-printable escape or the uuencoded end lines
// held back until the next piece completes them.
#include "mailmodel/mime/TransferDecodeStream.h"

#include <memory>

namespace quorvex::mime {

TransferDecodeStream::TransferDecodeStream(std::string_view encoding, MimeFlavour flavour) {
    const std::unique_ptr<CTransferCoder> coder = CreateTransferCoder(encoding, flavour);
    if (dynamic_cast<CBase64Coder*>(coder.get()) != nullptr) {
        kind_ = Kind::kBase64;
    } else if (dynamic_cast<CQuotedPrintableCoder*>(coder.get()) != nullptr) {
        kind_ = Kind::kQuotedPrintable;
    } else if (dynamic_cast<CUuCoder*>(coder.get()) != nullptr) {
        kind_ = Kind::kUuencode;
    }
}

void TransferDecodeStream::Feed(std::string_view piece, bool ends_line, std::string& out) {
    if (line_end_pending_) Decode("\r\n", false, out);
    Decode(piece, false, out);
    line_end_pending_ = ends_line;
}

void TransferDecodeStream::Finish(bool with_line_end, std::string& out) {
    if (line_end_pending_ && with_line_end) Decode("\r\n", false, out);
    line_end_pending_ = false;
    Decode({}, true, out);
}

void TransferDecodeStream::Decode(std::string_view bytes, bool final, std::string& out) {
    if (kind_ == Kind::kCopy) {
        out.append(bytes);
        return;
    }
    std::string text = std::move(held_);
    held_.clear();
    text.append(bytes);
    // No decoder writes more than three bytes beyond one per byte read.
    const std::size_t old = out.size();
    out.resize(old + text.size() + 3);
    char* room = out.data() + old;
    const std::size_t capacity = text.size() + 3;
    std::size_t written = 0;
    std::size_t consumed = text.size();
    switch (kind_) {
        case Kind::kBase64:
            written = base64_.Feed(text, room, capacity);
            if (final) written += base64_.Finish(room + written, capacity - written);
            break;
        case Kind::kQuotedPrintable:
            written = DecodeQuotedPrintable(text, room, capacity, consumed);
            if (final) consumed = text.size();  // an escape cut by the end is dropped
            break;
        case Kind::kUuencode:
            written = uu_.Feed(text, final, room, capacity, consumed);
            if (uu_.ended) consumed = text.size();
            break;
        case Kind::kCopy:
            break;
    }
    out.resize(old + written);
    held_ = text.substr(consumed);
}

}  // namespace quorvex::mime
