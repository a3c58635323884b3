// Decoding a part's content as it is read, a line or a piece of a line at
// a time, with the bytes that decoding the whole content at once gives
// (the transfer coder of the encoding in that flavour, CreateTransferCoder).
// Holds at most a few bytes between pieces, so a part of any size is
// decoded in the memory of one piece.
#pragma once

#include <string>
#include <string_view>

#include "mailmodel/mime/TransferCoders.h"

namespace quorvex::mime {

class TransferDecodeStream {
public:
    explicit TransferDecodeStream(std::string_view encoding, MimeFlavour flavour = MimeFlavour::Server);

    // The next piece of the content, without its line end; `ends_line`
    // when a CR LF followed it. The decoded bytes are appended to `out`.
    void Feed(std::string_view piece, bool ends_line, std::string& out);
    // The content ends. Its last line end belongs to it when the content
    // runs to the end of the message (`with_line_end`), not when a
    // boundary line follows.
    void Finish(bool with_line_end, std::string& out);

private:
    enum class Kind { kCopy, kBase64, kQuotedPrintable, kUuencode };

    void Decode(std::string_view bytes, bool final, std::string& out);

    Kind kind_ = Kind::kCopy;
    bool line_end_pending_ = false;
    Base64Decoding base64_;
    UuDecoding uu_;
    // Quoted-printable and uuencode: bytes held back because they may
    // begin an escape or the end lines.
    std::string held_;
};

}  // namespace quorvex::mime
