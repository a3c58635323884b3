// dlopen of the installer, one dlsym, dlclose when the object goes.
#include "app/WebDirectories.h"

#include <dlfcn.h>

#include "common/Paths.h"

namespace quorvex::app {

void WebDirectoryInstaller::Closer::operator()(void* handle) const { ::dlclose(handle); }

std::optional<WebDirectoryInstaller> WebDirectoryInstaller::Load(const std::string& program_folder) {
    const std::string path = JoinPath(program_folder, kWebDirectoryLibrary);
    if (!FileExists(path)) return std::nullopt;
    std::unique_ptr<void, Closer> library(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!library) return std::nullopt;
    const auto function = reinterpret_cast<Function>(::dlsym(library.get(), "Vendrel"));
    if (function == nullptr) return std::nullopt;
    const auto last_error = reinterpret_cast<ErrorFunction>(::dlsym(library.get(), "VendrelLastError"));
    return WebDirectoryInstaller(std::move(library), function, last_error);
}

std::string WebDirectoryInstaller::LastError() const {
    const char* text = last_error_ != nullptr ? last_error_() : nullptr;
    return text != nullptr ? std::string(text) : std::string();
}

bool WebDirectoryInstaller::Publish(const std::string& name, const std::string& folder, const std::string& document,
                                    bool script) {
    return function_(name.c_str(), folder.c_str(), document.c_str(), script ? 1 : 0) != 0;
}

bool WebDirectoryInstaller::Remove(const std::string& name) {
    return function_(name.c_str(), nullptr, nullptr, 0) != 0;
}

}  // namespace quorvex::app
