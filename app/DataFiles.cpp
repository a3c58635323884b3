#include "app/DataFiles.h"

#include "common/Paths.h"

namespace quorvex::app {

std::vector<std::string> DataFolders() {
    std::vector<std::string> folders{ProgramFolder()};
#ifdef QUORVEX_INSTALLED_DATA_DIR
    folders.emplace_back(QUORVEX_INSTALLED_DATA_DIR);
#endif
#ifdef QUORVEX_SOURCE_DATA_DIR
    folders.emplace_back(QUORVEX_SOURCE_DATA_DIR);
#endif
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
