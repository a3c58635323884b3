// dlopen, dlsym and dlclose behind the owner's lifetime.
#include "common/SharedLibrary.h"

#include <dlfcn.h>

#include "common/Paths.h"

namespace quorvex {

void SharedLibrary::Closer::operator()(void* handle) const { ::dlclose(handle); }

SharedLibrary SharedLibrary::Open(const std::string& path) {
    SharedLibrary library;
    if (!path.empty()) library.handle_.reset(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
    return library;
}

SharedLibrary SharedLibrary::Open(const std::string& path, std::string_view what, std::string* reason) {
    const auto fail = [&](const std::string& why) {
        if (reason != nullptr) *reason = std::string(what) + " " + path + why;
        return SharedLibrary();
    };
    if (!FileExists(path)) return fail(" is missing.");
    SharedLibrary library = Open(path);
    if (!library) {
        const char* error = ::dlerror();
        return fail(std::string(" cannot be loaded: ") + (error != nullptr ? error : "") + ".");
    }
    return library;
}

void* SharedLibrary::Symbol(const char* name) const {
    return handle_ ? ::dlsym(handle_.get(), name) : nullptr;
}

}  // namespace quorvex
