// Shortcuts as freedesktop.org desktop entries: a ".desktop" file that
// starts a program on a program folder (QUORVEX_HOME set to it, and as its
// working folder). Used for the desktop shortcut, the start-up shortcut and
// the autostart entry, which on this platform are all files of this one
// kind. Each starts the program on the folder of the running program, so
// an installed program (whose own folder is no program folder) comes back
// on the folder it runs on.
#pragma once

#include <string>
#include <string_view>

namespace quorvex {

inline constexpr std::string_view kDesktopEntrySuffix = ".desktop";
// The file name of the program's desktop, start-up and autostart entries.
inline constexpr std::string_view kDesktopEntryName = "QuorvexServer.desktop";

// The program's entry in `folder` (the desktop or the autostart folder);
// empty when the folder is not known.
std::string DesktopEntryPath(const std::string& folder);

// Whether the entry at `path` starts the program on `folder` (its Path
// line names it, as FormatDesktopEntry writes it). False for an entry of
// another program folder, or one that cannot be read.
bool DesktopEntryStartsFolder(const std::string& path, std::string_view folder);

// The file text: Name from the link file's name, Comment and Path from
// `folder`, Exec running `target` with QUORVEX_HOME set to `folder`.
std::string FormatDesktopEntry(std::string_view name, std::string_view target, std::string_view folder);

// Writes the link file (atomically, owner-writable and executable, as
// desktops require of launchers). 0 on success, negative on failure: a
// target or folder holding a line break, a folder that cannot be made, or
// a failed write.
int CreateShellLink(std::string_view target, const std::string& link_path, std::string_view folder);

// The program's entry in the desktop folder,
// starting `program` on the program folder. 0 on success, as
// CreateShellLink.
int CreateDesktopShortcut(const std::string& program);
// The same in the autostart folder: the program starts with the session.
int CreateStartupShortcut(const std::string& program);

// The autostart entry for `program` on the program folder, or, with a null
// program, its removal. True on success; removing an entry that does not
// exist is a failure.
bool WriteAutostartEntry(const std::string* program);

}  // namespace quorvex
