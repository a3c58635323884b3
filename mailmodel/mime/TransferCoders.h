// The concrete transfer coders: quoted-printable, base64, uudecoding of
// "uuencode" blocks and the line-folding coder for "7bit" and "8bit".
#pragma once

#include "mailmodel/mime/TransferCoder.h"

namespace quorvex::mime {

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
