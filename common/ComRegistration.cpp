// dlopen, dlsym, call, dlclose. The exports take nothing and return a
// 32-bit status whose negative values mean failure.
#include "common/ComRegistration.h"

#include <dlfcn.h>

#include <cstdint>
#include <memory>

namespace quorvex {

namespace {

struct LibraryCloser {
    void operator()(void* handle) const { ::dlclose(handle); }
};

int CallExport(const std::string& library_path, const char* export_name) {
    // dlopen of an empty name would hand back the program itself.
    if (library_path.empty()) return 0;
    std::unique_ptr<void, LibraryCloser> library(::dlopen(library_path.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!library) return 0;
    using Entry = std::int32_t (*)();
    const auto entry = reinterpret_cast<Entry>(::dlsym(library.get(), export_name));
    if (entry == nullptr) return 0;
    return entry() >= 0 ? 1 : 0;
}

}  // namespace

int RegisterComServer(const std::string& library_path) { return CallExport(library_path, "DllRegisterServer"); }

int UnregisterComServer(const std::string& library_path) { return CallExport(library_path, "DllUnregisterServer"); }

}  // namespace quorvex
