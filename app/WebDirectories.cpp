// The installer's one export, unloaded when the object goes.
#include "app/WebDirectories.h"

#include "common/Paths.h"

namespace quorvex::app {

std::optional<WebDirectoryInstaller> WebDirectoryInstaller::Load(const std::string& program_folder) {
    const std::string path = JoinPath(program_folder, kWebDirectoryLibrary);
    if (!FileExists(path)) return std::nullopt;
    SharedLibrary library = SharedLibrary::Open(path);
    const auto function = library.Function<Function>("Vendrel");
    if (function == nullptr) return std::nullopt;
    return WebDirectoryInstaller(std::move(library), function);
}

bool WebDirectoryInstaller::Publish(const std::string& name, const std::string& folder, const std::string& document,
                                    bool script) {
    return function_(name.c_str(), folder.c_str(), document.c_str(), script ? 1 : 0) != 0;
}

bool WebDirectoryInstaller::Remove(const std::string& name) {
    return function_(name.c_str(), nullptr, nullptr, 0) != 0;
}

}  // namespace quorvex::app
