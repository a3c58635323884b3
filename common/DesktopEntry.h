// Shortcuts as freedesktop.org desktop entries: a ".desktop" file that
// starts a program in a working folder. Used for the desktop shortcut, the
// start-up shortcut and the autostart entry, which on this platform are
// all files of this one kind.
#pragma once

#include <string>
#include <string_view>

namespace quorvex {

inline constexpr std::string_view kDesktopEntrySuffix = ".desktop";
// The autostart entry's file name in the autostart folder.
inline constexpr std::string_view kAutostartEntryName = "QuorvexServer.desktop";

// The file text: Name from the link file's name, Comment and Path from
// `folder`, Exec running `target`.
std::string FormatDesktopEntry(std::string_view name, std::string_view target, std::string_view folder);

// Writes the link file (atomically, owner-writable and executable, as
// desktops require of launchers). 0 on success, negative on failure: a
// target or folder holding a line break, a folder that cannot be made, or
// a failed write.
int CreateShellLink(std::string_view target, const std::string& link_path, std::string_view folder);

// A shortcut to the program named after its file, in the desktop folder,
// with the program folder as working folder and description.
int CreateDesktopShortcut();
// The same in the autostart folder: the program starts with the session.
int CreateStartupShortcut();

// The autostart entry for `program` (its folder as working folder), or,
// with a null program, its removal. True on success; removing an entry
// that does not exist is a failure.
bool WriteAutostartEntry(const std::string* program);

}  // namespace quorvex
