// Pass-through coding, the transfer-coder registry and the flavour switch.
// The registry is filled on first use; nothing registers coders after
// start-up, but a mutex keeps a late registration from racing a lookup.
#include "mailmodel/mime/TransferCoder.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "common/AsciiCase.h"
#include "mailmodel/mime/MimeCharClass.h"
#include "mailmodel/mime/MimeFlavour.h"
#include "mailmodel/mime/TransferCoders.h"

namespace quorvex::mime {
namespace {

constexpr MimeFlavourTraits kServerTraits{true, "__=_Part__", 8};
constexpr MimeFlavourTraits kWebMailTraits{false, "__=_Part_Boundary_", 7};

std::atomic<const MimeFlavourTraits*> g_traits{&kServerTraits};

struct CoderEntry {
    std::string name;
    TransferCoderFactory factory;
};

template <typename T>
std::unique_ptr<CTransferCoder> Make() {
    return std::make_unique<T>();
}

struct CoderRegistry {
    std::mutex mutex;
    std::vector<CoderEntry> entries;
    bool folding = false;

    CoderRegistry() { FillDefaults(); }
    void FillDefaults() {
        entries.clear();
        folding = false;
        entries.push_back({"quoted-printable", &Make<CQuotedPrintableCoder>});
        entries.push_back({"base64", &Make<CBase64Coder>});
        if (CurrentMimeFlavour().uuencode) entries.push_back({"uuencode", &Make<CUuCoder>});
    }
    void Set(std::string_view name, TransferCoderFactory factory) {
        std::erase_if(entries, [&](const CoderEntry& e) { return EqualsNoCase(e.name, name); });
        if (factory != nullptr) entries.push_back({std::string(name), factory});
    }
};

CoderRegistry& Registry() {
    static CoderRegistry registry;
    return registry;
}

}  // namespace

void SetMimeFlavour(MimeFlavour flavour) {
    g_traits = flavour == MimeFlavour::WebMail ? &kWebMailTraits : &kServerTraits;
    ResetTransferCoders();
}

const MimeFlavourTraits& CurrentMimeFlavour() { return *g_traits.load(); }

std::size_t CTransferCoder::Encode(char* buffer, std::size_t capacity) {
    const std::size_t n = std::min(inputLength_, capacity);
    if (n > 0) std::memcpy(buffer, input_, n);
    return n;
}

std::size_t CTransferCoder::Decode(char* buffer, std::size_t capacity) { return CTransferCoder::Encode(buffer, capacity); }

void RegisterTransferCoder(std::string_view name, TransferCoderFactory factory) {
    CoderRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    registry.Set(name, factory);
}

std::unique_ptr<CTransferCoder> CreateTransferCoder(std::string_view name) {
    if (name.empty()) name = "7bit";
    CoderRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    for (const CoderEntry& entry : registry.entries)
        if (EqualsNoCase(entry.name, name)) return entry.factory();
    return std::make_unique<CTransferCoder>();
}

void SetLineFolding(bool on) {
    CoderRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    registry.folding = on;
    registry.Set("7bit", on ? &Make<CFoldingCoder> : nullptr);
    registry.Set("8bit", on ? &Make<CFoldingCoder> : nullptr);
}

bool IsLineFoldingOn() {
    CoderRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    return registry.folding;
}

void ResetTransferCoders() {
    CoderRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    registry.FillDefaults();
}

std::string RunCoder(CTransferCoder& coder, std::string_view input, bool encode) {
    coder.SetInput(input.data(), input.size(), encode);
    std::string out(coder.GetResultLength(), '\0');
    out.resize(coder.Convert(out.data(), out.size()));
    return out;
}

std::string TransferEncode(std::string_view encoding, std::string_view input) {
    return RunCoder(*CreateTransferCoder(encoding), input, true);
}

std::string TransferDecode(std::string_view encoding, std::string_view input) {
    return RunCoder(*CreateTransferCoder(encoding), input, false);
}

}  // namespace quorvex::mime
