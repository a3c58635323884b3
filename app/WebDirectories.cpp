// The installer's exports, unloaded when the object goes.
#include "app/WebDirectories.h"

#include "common/Paths.h"

namespace quorvex::app {

std::optional<WebDirectoryInstaller> WebDirectoryInstaller::Load(const std::string& program_folder,
                                                                 std::string* why) {
    const std::string path = JoinPath(program_folder, kWebDirectoryLibrary);
    SharedLibrary library = SharedLibrary::Open(path, "The web directory installer", why);
    if (!library) return std::nullopt;
    const auto function = library.Function<Function>("Vendrel");
    if (function == nullptr) {
        if (why != nullptr) *why = "The web directory installer " + path + " has no export Vendrel.";
        return std::nullopt;
    }
    const auto last_error = library.Function<ErrorFunction>("VendrelLastError");
    const auto published = library.Function<QueryFunction>("VendrelPublished");
    return WebDirectoryInstaller(std::move(library), function, last_error, published);
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

bool WebDirectoryInstaller::Published(const std::string& name) const {
    return published_ != nullptr && published_(name.c_str()) != 0;
}

}  // namespace quorvex::app
