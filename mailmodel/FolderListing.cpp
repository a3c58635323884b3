// Folder listing with the directory handle owned for the whole scan.
#include "mailmodel/FolderListing.h"

#include <dirent.h>

#include <memory>

namespace quorvex {

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), &::closedir);
    if (!dir) return names;
    while (const dirent* item = ::readdir(dir.get())) {
        const std::string_view name = item->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    return names;
}

}  // namespace quorvex
