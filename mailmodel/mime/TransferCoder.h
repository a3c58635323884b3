// The transfer coders of RFC 2045 behind one small interface, and the
// registry that makes them by Content-Transfer-Encoding name. A coder is
// made per use: set the input, ask for the result length (an upper bound),
// convert into a buffer of that size. Coders never write past the capacity
// they are given and never read past their input.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "mailmodel/mime/MimeFlavour.h"

namespace quorvex::mime {

class CTransferCoder {
public:
    virtual ~CTransferCoder() = default;

    void SetInput(const char* data, std::size_t length, bool encode) {
        input_ = data;
        inputLength_ = length;
        encode_ = encode;
    }
    std::size_t GetResultLength() const { return encode_ ? GetEncodeLength() : GetDecodeLength(); }
    std::size_t Convert(char* buffer, std::size_t capacity) {
        return encode_ ? Encode(buffer, capacity) : Decode(buffer, capacity);
    }

    virtual std::size_t GetEncodeLength() const { return inputLength_; }
    virtual std::size_t GetDecodeLength() const { return inputLength_; }
    virtual std::size_t Encode(char* buffer, std::size_t capacity);
    virtual std::size_t Decode(char* buffer, std::size_t capacity);

protected:
    std::string_view Input() const { return {input_, inputLength_}; }

    const char* input_ = nullptr;
    std::size_t inputLength_ = 0;
    bool encode_ = false;
};

using TransferCoderFactory = std::unique_ptr<CTransferCoder> (*)();

// Removes every entry of that name; appends the factory unless it is null.
void RegisterTransferCoder(std::string_view name, TransferCoderFactory factory);
// The first entry of that name (case-insensitive) makes the coder; an empty
// name means "7bit"; an unknown name gives the pass-through coder, and so
// does "uuencode" in a flavour without uudecoding.
std::unique_ptr<CTransferCoder> CreateTransferCoder(std::string_view name, MimeFlavour flavour = MimeFlavour::Server);
// Folding on registers the folding coder under "7bit" and "8bit"; off
// removes both names. The field coders read the switch too.
void SetLineFolding(bool on);
bool IsLineFoldingOn();
// Rebuilds the registry with the defaults.
void ResetTransferCoders();

// Runs one coder over a whole input (allocates the estimate, trims to the
// bytes written).
std::string RunCoder(CTransferCoder& coder, std::string_view input, bool encode);
std::string TransferEncode(std::string_view encoding, std::string_view input, MimeFlavour flavour = MimeFlavour::Server);
std::string TransferDecode(std::string_view encoding, std::string_view input, MimeFlavour flavour = MimeFlavour::Server);

}  // namespace quorvex::mime
