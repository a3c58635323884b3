#include "app/DataFiles.h"

#include "common/Paths.h"

namespace quorvex::app {

std::vector<std::string> DataFolders() {
    std::vector<std::string> folders{ProgramFolder()};
    if (!SharedDataFolder().empty()) folders.push_back(SharedDataFolder());
    return folders;
}

std::vector<std::string> SearchedDataFolders() {
    if (!SharedDataFolder().empty()) return DataFolders();
    std::vector<std::string> folders{ProgramFolder()};
    for (std::string& candidate : SharedDataFolderCandidates()) folders.push_back(std::move(candidate));
    return folders;
}

std::string FindDataFile(std::string_view name) {
    for (const std::string& folder : DataFolders()) {
        std::string path = JoinPath(folder, name);
        if (FileExists(path)) return path;
    }
    return {};
}

}  // namespace quorvex::app
