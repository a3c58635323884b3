// Attachment checks and the clean-up after a send.
#include "webcom/smtp/ComposeFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include "common/Paths.h"

namespace quorvex::webcom::smtp {

std::vector<std::string_view> AttachmentEntries(std::string_view list) {
    std::vector<std::string_view> entries;
    while (!list.empty()) {
        const std::size_t semi = list.find(';');
        const std::string_view entry = list.substr(0, semi);
        if (!entry.empty()) entries.push_back(entry);
        if (semi == std::string_view::npos) break;
        list.remove_prefix(semi + 1);
    }
    return entries;
}

std::optional<std::vector<std::string>> ResolveAttachments(std::string_view list, const std::string& compose_folder,
                                                           const std::optional<std::string>& work_folder) {
    std::vector<std::string> files;
    for (const std::string_view entry : AttachmentEntries(list)) {
        std::optional<std::string> resolved = ResolvedPathInside(std::string(entry), compose_folder);
        if (!resolved && work_folder && IsPlainFileInside(entry, *work_folder)) resolved = std::string(entry);
        struct stat st {};
        if (!resolved || resolved->find(';') != std::string::npos || ::stat(resolved->c_str(), &st) != 0 ||
            !S_ISREG(st.st_mode))
            return std::nullopt;
        files.push_back(std::move(*resolved));
    }
    return files;
}

void RemoveFolderIfEmpty(const std::string& folder) { ::rmdir(folder.c_str()); }

void RemoveListedUploads(std::string_view list, const std::string& folder) {
    const auto real_folder = ResolvedPath(folder);
    if (!real_folder) return;
    for (const std::string_view entry : AttachmentEntries(list)) {
        const auto resolved = ResolvedPathInside(std::string(entry), *real_folder);
        struct stat st {};
        if (!resolved || ::lstat(resolved->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (::unlink(resolved->c_str()) != 0) continue;
        // The field's folder and the upload folder above it, once empty.
        for (std::string parent(DirName(*resolved)); parent.size() > real_folder->size();
             parent = std::string(DirName(parent))) {
            if (::rmdir(parent.c_str()) != 0) break;
        }
    }
}

}  // namespace quorvex::webcom::smtp
