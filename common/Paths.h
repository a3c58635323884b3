// The program folder and the one way paths are joined. Every file the
// system touches is found from the program folder: the folder of the
// executable, or QUORVEX_HOME when it is set (tests, packaging, the demo).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvex {

// Joins a folder and a name with exactly one '/' between them. An empty
// folder gives the name unchanged.
std::string JoinPath(std::string_view folder, std::string_view name);

template <typename... Rest>
std::string JoinPath(std::string_view folder, std::string_view name, Rest&&... rest) {
    return JoinPath(JoinPath(folder, name), std::forward<Rest>(rest)...);
}

// The program folder, without a trailing '/'. Read once: QUORVEX_HOME when
// set and not empty, else the folder of /proc/self/exe.
const std::string& ProgramFolder();

// Replaces the program folder for the rest of the process (tests).
void SetProgramFolder(std::string folder);

// The folder of the files installed with the program (schema, language
// files, the demo folder), found from the executable itself, never from a
// path compiled in: "share/quorvex" beside the executable's folder
// ("<prefix>/bin/../share/quorvex", also in a build tree), or one level
// higher for a program installed in "<prefix>/libexec/quorvex". Empty when
// neither exists.
const std::string& SharedDataFolder();

// The last component of a path ("a/b/c.cpp" -> "c.cpp").
std::string_view BaseName(std::string_view path);

// The folder part of a path ("a/b/c" -> "a/b", "c" -> "").
std::string_view DirName(std::string_view path);

// Creates a folder and its missing parents with the given mode (owner-only
// by default, never world-writable). True when the folder exists afterwards.
bool MakeFolders(const std::string& path, unsigned mode = 0700);

bool FileExists(const std::string& path);

// The path with every link resolved (realpath); nothing when it does not
// name an existing entry.
std::optional<std::string> ResolvedPath(const std::string& path);
// The same, when it names an existing entry strictly inside `root`, itself resolved; nothing otherwise. Used
// where a name from outside may only reach files below one folder.
std::optional<std::string> ResolvedPathInside(const std::string& path, const std::string& root);
bool FolderExists(const std::string& path);
// Whether `path`, as it stands, names a regular file strictly below `root`:
// it begins with `root` and "/", no name after that is empty, "." or "..",
// and none of them is a link (nothing is resolved). For names from outside
// that may reach the files below one folder only, whatever links or ".."
// someone has put in their way.
bool IsPlainFileInside(std::string_view path, std::string_view root);

}  // namespace quorvex
