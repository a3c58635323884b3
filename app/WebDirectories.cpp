// The installer's exports, unloaded when the object goes.
#include "app/WebDirectories.h"

#include "common/Paths.h"

namespace quorvex::app {

std::optional<WebDirectoryInstaller> WebDirectoryInstaller::Load(const std::string& program_folder,
                                                                 std::string* why) {
    const std::string path = JoinPath(program_folder, kWebDirectoryLibrary);
    const auto fail = [&](const std::string& text) -> std::optional<WebDirectoryInstaller> {
        if (why != nullptr) *why = "The web directory installer " + path + text;
        return std::nullopt;
    };
    if (!FileExists(path)) return fail(" is missing.");
    std::string error;
    SharedLibrary library = SharedLibrary::Open(path, &error);
    if (!library) return fail(" cannot be loaded: " + error + ".");
    const auto function = library.Function<Function>("Vendrel");
    if (function == nullptr) return fail(" has no export Vendrel.");
    const auto last_error = library.Function<ErrorFunction>("VendrelLastError");
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
