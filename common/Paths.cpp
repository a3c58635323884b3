// The program folder and path joining.
#include "common/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "common/HostInfo.h"

namespace quorvex {

namespace {

std::mutex g_folder_mutex;
std::string* g_folder = nullptr;  // set once, replaced only by tests
// Folders replaced by SetProgramFolder stay alive (callers may still hold
// a reference) and reachable, so leak checkers do not report them.
std::vector<std::string*>* g_replaced_folders = nullptr;

std::string discover_program_folder() {
    if (const char* home = std::getenv("QUORVEX_HOME"); home && *home) {
        std::string folder(home);
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        return folder;
    }
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string exe(buf, static_cast<std::size_t>(n));
    const std::string_view dir = DirName(exe);
    return dir.empty() ? std::string("/") : std::string(dir);
}

}  // namespace

std::string JoinPath(std::string_view folder, std::string_view name) {
    if (folder.empty()) return std::string(name);
    while (!name.empty() && name.front() == '/') name.remove_prefix(1);
    std::string out(folder);
    if (out.back() != '/') out.push_back('/');
    out.append(name);
    return out;
}

const std::string& ProgramFolder() {
    std::lock_guard lock(g_folder_mutex);
    if (!g_folder) g_folder = new std::string(discover_program_folder());
    return *g_folder;
}

void SetProgramFolder(std::string folder) {
    std::lock_guard lock(g_folder_mutex);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (g_folder != nullptr) {
        if (g_replaced_folders == nullptr) g_replaced_folders = new std::vector<std::string*>;
        g_replaced_folders->push_back(g_folder);
    }
    g_folder = new std::string(std::move(folder));
}

const std::string& SharedDataFolder() {
    // The executable does not move while it runs: looked for once.
    static const std::string folder = [] {
        const std::string program = ExecutablePath();
        if (program.empty()) return std::string();
        const std::string bin(DirName(program));
        for (const char* up : {"..", "../.."}) {
            const auto found = ResolvedPath(JoinPath(bin, up, "share/quorvex"));
            if (found && FolderExists(*found)) return *found;
        }
        return std::string();
    }();
    return folder;
}

std::string_view BaseName(std::string_view path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view DirName(std::string_view path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string_view::npos) return {};
    if (slash == 0) return path.substr(0, 1);
    return path.substr(0, slash);
}

bool MakeFolders(const std::string& path, unsigned mode) {
    mode &= ~0002u;  // never world-writable
    if (path.empty()) return false;
    if (FolderExists(path)) return true;
    const std::string_view parent = DirName(path);
    if (!parent.empty() && parent != path && !MakeFolders(std::string(parent), mode)) return false;
    if (::mkdir(path.c_str(), mode) == 0) return true;
    return errno == EEXIST && FolderExists(path);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FolderExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::string> ResolvedPath(const std::string& path) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return std::nullopt;
    return std::string(resolved.get());
}

bool IsPlainFileInside(std::string_view path, std::string_view root) {
    if (root.empty() || !path.starts_with(root) || path.size() <= root.size() + 1 || path[root.size()] != '/')
        return false;
    std::string walked(root);
    std::string_view rest = path.substr(root.size() + 1);
    for (;;) {
        const std::size_t slash = rest.find('/');
        const std::string_view name = rest.substr(0, slash);
        if (name.empty() || name == "." || name == "..") return false;
        walked += '/';
        walked += name;
        struct stat st {};
        if (::lstat(walked.c_str(), &st) != 0) return false;
        if (slash == std::string_view::npos) return S_ISREG(st.st_mode);
        if (!S_ISDIR(st.st_mode)) return false;  // a link to a folder too
        rest.remove_prefix(slash + 1);
    }
}

std::optional<std::string> ResolvedPathInside(const std::string& path, const std::string& root) {
    if (root.empty()) return std::nullopt;
    const auto real_root = ResolvedPath(root);
    const auto real_path = ResolvedPath(path);
    if (!real_root || !real_path) return std::nullopt;
    const std::string inside = *real_root == "/" ? "/" : *real_root + "/";
    if (!real_path->starts_with(inside) || real_path->size() == inside.size()) return std::nullopt;
    return real_path;
}

}  // namespace quorvex
