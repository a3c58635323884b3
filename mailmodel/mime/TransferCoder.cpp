// Pass-through coding, the transfer-coder registry and the flavours' traits.
// The registry is filled on first use; nothing registers coders after
// start-up, but a mutex keeps a late registration from racing a lookup.
#include "mailmodel/mime/TransferCoder.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "common/AsciiCase.h"
#include "mailmodel/mime/CoderTable.h"
#include "mailmodel/mime/MimeCharClass.h"
#include "mailmodel/mime/MimeFlavour.h"
#include "mailmodel/mime/TransferCoders.h"

namespace quorvex::mime {
namespace {

constexpr MimeFlavourTraits kServerTraits{true, "__=_Part__", 8};
constexpr MimeFlavourTraits kWebMailTraits{false, "__=_Part_Boundary_", 7};

using TransferCoders = CoderTable<CTransferCoder>;

std::atomic<bool> g_folding{false};

void FillDefaults(TransferCoders& coders) {
    g_folding = false;
    coders.Reset({{"quoted-printable", &TransferCoders::Make<CQuotedPrintableCoder>},
                  {"base64", &TransferCoders::Make<CBase64Coder>},
                  {"uuencode", &TransferCoders::Make<CUuCoder>}});
}

// Filled with the defaults on first use.
TransferCoders& Coders() {
    static TransferCoders coders;
    static const bool filled = (FillDefaults(coders), true);
    (void)filled;
    return coders;
}

}  // namespace

const MimeFlavourTraits& TraitsOf(MimeFlavour flavour) {
    return flavour == MimeFlavour::WebMail ? kWebMailTraits : kServerTraits;
}

std::size_t CTransferCoder::Encode(char* buffer, std::size_t capacity) {
    const std::size_t n = std::min(inputLength_, capacity);
    if (n > 0) std::memcpy(buffer, input_, n);
    return n;
}

std::size_t CTransferCoder::Decode(char* buffer, std::size_t capacity) { return CTransferCoder::Encode(buffer, capacity); }

void RegisterTransferCoder(std::string_view name, TransferCoderFactory factory) { Coders().Set(name, factory); }

std::unique_ptr<CTransferCoder> CreateTransferCoder(std::string_view name, MimeFlavour flavour) {
    if (name.empty()) name = "7bit";
    // A flavour without uudecoding knows no "uuencode" coder.
    if (!TraitsOf(flavour).uuencode && EqualsNoCase(name, "uuencode")) return std::make_unique<CTransferCoder>();
    auto coder = Coders().Create(name);
    return coder ? std::move(coder) : std::make_unique<CTransferCoder>();
}

void SetLineFolding(bool on) {
    TransferCoders& coders = Coders();
    g_folding = on;
    coders.Set("7bit", on ? &TransferCoders::Make<CFoldingCoder> : nullptr);
    coders.Set("8bit", on ? &TransferCoders::Make<CFoldingCoder> : nullptr);
}

bool IsLineFoldingOn() { return g_folding; }

void ResetTransferCoders() { FillDefaults(Coders()); }

std::string RunCoder(CTransferCoder& coder, std::string_view input, bool encode) {
    coder.SetInput(input.data(), input.size(), encode);
    std::string out(coder.GetResultLength(), '\0');
    out.resize(coder.Convert(out.data(), out.size()));
    return out;
}

std::string TransferEncode(std::string_view encoding, std::string_view input, MimeFlavour flavour) {
    return RunCoder(*CreateTransferCoder(encoding, flavour), input, true);
}

std::string TransferDecode(std::string_view encoding, std::string_view input, MimeFlavour flavour) {
    return RunCoder(*CreateTransferCoder(encoding, flavour), input, false);
}

}  // namespace quorvex::mime
