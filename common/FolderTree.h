// Folder helpers with POSIX modes in place of access lists: removing a
// whole tree without ever following a symbolic link out of it, and making
// folders and files that the web server's group may use as fully as the
// owner, but that are never writable by everybody.
#pragma once

#include <string>

namespace quorvex {

// Mode of folders shared with the web server's group.
inline constexpr unsigned kSharedFolderMode = 0770;
inline constexpr unsigned kSharedFileMode = 0660;

// Deletes every file and subfolder below `path`, then the folder itself.
// Symbolic links are removed as links, never followed; entries that
// cannot be deleted are skipped and the folder then stays. True when the
// folder itself was removed; false for a missing folder or a path that is
// itself a symbolic link.
bool DeleteFolderTree(const std::string& path);

// Makes the folder (its parent must exist) with kSharedFolderMode. True
// when the folder exists afterwards.
bool CreateFolderWithFullAccess(const std::string& path);

// Gives owner and group read and write access (and search, for a folder)
// to an existing file or folder and takes write access from everybody
// else. False for a missing path or a symbolic link.
bool GrantFileFullAccess(const std::string& path);

// Gives an existing file or folder (never a symbolic link) to the named
// group with the given mode (the bit that would make it world-writable is
// dropped). False, with nothing changed, when the group does not exist,
// the path is missing or a link, or the change is not allowed; then
// `reason`, when given, gets one sentence on why.
bool ShareWithGroup(const std::string& path, const std::string& group, unsigned mode, std::string* reason = nullptr);

}  // namespace quorvex
