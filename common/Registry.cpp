// Registry values on top of the profile layer. Values are written quoted
// when the profile layer would otherwise trim or unquote them on reading,
// so every value reads back exactly as written.
#include "common/Registry.h"

#include <cctype>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/SystemLocations.h"

namespace quorvex {

namespace {

bool NeedsQuotes(std::string_view text) {
    if (text.empty()) return false;
    auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    return blank(text.front()) || blank(text.back()) || text.front() == '"' || text.front() == '\'';
}

}  // namespace

std::string RegistryFilePath(RegistryRoot root) {
    const SystemLocations locations = CurrentSystemLocations();
    const std::string& folder =
        root == RegistryRoot::kLocalMachine ? locations.machine_registry_folder : locations.user_registry_folder;
    return folder.empty() ? std::string() : JoinPath(folder, kRegistryFileName);
}

int WriteRegistryString(RegistryRoot root, std::string_view subkey, std::string_view value_name,
                        const std::string* text) {
    const std::string path = RegistryFilePath(root);
    if (path.empty()) return 0;
    ProfileFile file(path);
    if (text == nullptr) {
        // Deleting a value that is not there fails, as it would in the
        // registry; the file is left alone.
        if (!file.Load()->Find(subkey, value_name)) return 0;
        return file.DeleteKey(subkey, value_name) ? 1 : 0;
    }
    if (!MakeFolders(std::string(DirName(path)))) return 0;
    const std::string stored = NeedsQuotes(*text) ? '"' + *text + '"' : *text;
    return file.WriteString(subkey, value_name, stored) ? 1 : 0;
}

int ReadRegistryString(RegistryRoot root, std::string_view subkey, std::string_view value_name, std::string& out) {
    out.clear();
    const std::string path = RegistryFilePath(root);
    if (path.empty()) return 0;
    const auto document = ProfileFile(path).Load();
    const auto value = document->Find(subkey, value_name);
    if (!value || value->size() >= kMaxRegistryValueLength) return 0;
    out.assign(*value);
    return 1;
}

}  // namespace quorvex
