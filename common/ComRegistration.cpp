// Load, call, unload. The exports take nothing and return a 32-bit status
// whose negative values mean failure.
#include "common/ComRegistration.h"

#include <cstdint>
#include <cstdio>

#include "common/SharedLibrary.h"

namespace quorvex {

namespace {

int CallExport(const std::string& library_path, const char* export_name, std::string* reason) {
    const auto fail = [&](std::string text) {
        if (reason != nullptr) *reason = std::move(text);
        return 0;
    };
    const SharedLibrary library = SharedLibrary::Open(library_path, "The component library", reason);
    if (!library) return 0;
    const auto entry = library.Function<std::int32_t (*)()>(export_name);
    if (entry == nullptr)
        return fail("The component library " + library_path + " has no export " + export_name + ".");
    const std::int32_t status = entry();
    if (status >= 0) return 1;
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(status));
    return fail(std::string(export_name) + " of " + library_path + " failed with status " + code + ".");
}

}  // namespace

int RegisterComServer(const std::string& library_path, std::string* reason) {
    return CallExport(library_path, "DllRegisterServer", reason);
}

int UnregisterComServer(const std::string& library_path, std::string* reason) {
    return CallExport(library_path, "DllUnregisterServer", reason);
}

}  // namespace quorvex
