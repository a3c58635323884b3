// The concrete transfer coders: quoted-printable, base64, uudecoding of
// "uuencode" blocks and the line-folding coder for "7bit" and "8bit".
#pragma once

#include <cstdint>
#include <string_view>

#include "mailmodel/mime/TransferCoder.h"

namespace quorvex::mime {

// The decoders keep their state between calls, so that a content can be
// decoded all at once (the coders below) or piece by piece as it is read
// (TransferDecodeStream) with the same bytes out. Each writes at most
// `capacity` bytes to `out` and returns how many it wrote.

// Quoted-printable. Stops in front of an "=" with fewer than two bytes
// after it (the end of a whole content drops it); `consumed` tells how far
// it read.
std::size_t DecodeQuotedPrintable(std::string_view in, char* out, std::size_t capacity, std::size_t& consumed);

// Base64: groups of four characters; line breaks are skipped, "=" and any
// other character outside the alphabet end the data.
struct Base64Decoding {
    std::size_t Feed(std::string_view in, char* out, std::size_t capacity);
    // The end of the content: a short last group gives its bytes.
    std::size_t Finish(char* out, std::size_t capacity);

    std::uint32_t group = 0;
    int count = 0;          // characters in `group`
    bool stopped = false;   // the data ended
    bool no_room = false;   // the output ran out: nothing more is written
};

// Uudecoding of "uuencode" blocks, line by line, up to the "`" and "end"
// lines. Unless `final`, it stops in front of bytes that may begin those
// lines (`consumed` tells where), for the next piece to complete.
struct UuDecoding {
    std::size_t Feed(std::string_view in, bool final, char* out, std::size_t capacity, std::size_t& consumed);

    bool counting = false;  // the line's byte count was read
    bool skip_lf = false;   // a CR ended the last piece
    bool ended = false;     // the end lines were read
    int count = 0;
    unsigned group[4] = {};
    int have = 0;
};

class CQuotedPrintableCoder : public CTransferCoder {
public:
    std::size_t GetEncodeLength() const override;
    std::size_t Encode(char* buffer, std::size_t capacity) override;
    std::size_t Decode(char* buffer, std::size_t capacity) override;
};

class CBase64Coder : public CTransferCoder {
public:
    void SetLineBreaks(bool on) { lineBreaks_ = on; }
    std::size_t GetEncodeLength() const override;
    std::size_t GetDecodeLength() const override { return inputLength_ * 3 / 4 + 2; }
    std::size_t Encode(char* buffer, std::size_t capacity) override;
    std::size_t Decode(char* buffer, std::size_t capacity) override;

private:
    bool lineBreaks_ = true;
};

class CUuCoder : public CTransferCoder {
public:
    std::size_t Decode(char* buffer, std::size_t capacity) override;
};

class CFoldingCoder : public CTransferCoder {
public:
    std::size_t GetEncodeLength() const override { return inputLength_ + inputLength_ / 76 * 4 + 4; }
    std::size_t Encode(char* buffer, std::size_t capacity) override;
};

}  // namespace quorvex::mime
