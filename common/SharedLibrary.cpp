// dlopen, dlsym and dlclose behind the owner's lifetime.
#include "common/SharedLibrary.h"

#include <dlfcn.h>

namespace quorvex {

void SharedLibrary::Closer::operator()(void* handle) const { ::dlclose(handle); }

SharedLibrary SharedLibrary::Open(const std::string& path, std::string* error) {
    SharedLibrary library;
    if (!path.empty()) library.handle_.reset(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!library.handle_ && error != nullptr) {
        const char* reason = path.empty() ? nullptr : ::dlerror();
        *error = reason != nullptr ? reason : "no path given";
    }
    return library;
}

void* SharedLibrary::Symbol(const char* name) const {
    return handle_ ? ::dlsym(handle_.get(), name) : nullptr;
}

}  // namespace quorvex
