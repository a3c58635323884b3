// Load, call, unload. The exports take nothing and return a 32-bit status
// whose negative values mean failure.
#include "common/ComRegistration.h"

#include <cstdint>

#include "common/SharedLibrary.h"

namespace quorvex {

namespace {

int CallExport(const std::string& library_path, const char* export_name) {
    const SharedLibrary library = SharedLibrary::Open(library_path);
    const auto entry = library.Function<std::int32_t (*)()>(export_name);
    if (entry == nullptr) return 0;
    return entry() >= 0 ? 1 : 0;
}

}  // namespace

int RegisterComServer(const std::string& library_path) { return CallExport(library_path, "DllRegisterServer"); }

int UnregisterComServer(const std::string& library_path) { return CallExport(library_path, "DllUnregisterServer"); }

}  // namespace quorvex
