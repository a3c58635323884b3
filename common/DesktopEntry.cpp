// Writing desktop entries with the quoting rules of the freedesktop.org
// desktop entry format: string values escape backslashes and control characters,
// and Exec arguments with reserved characters are double-quoted.
#include "common/DesktopEntry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "common/SystemLocations.h"

namespace quorvex {

namespace {

constexpr int kFailed = -1;

// A string value: backslash, tab and CR become escapes.
std::string EscapeValue(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out;
}

// One Exec argument: quoted when it holds a reserved character, with '"',
// '`', '$' and '\' escaped inside the quotes; '%' is always doubled.
std::string QuoteExecArgument(std::string_view argument) {
    constexpr std::string_view kReserved = " \t\"'\\><~|&;$*?#()`";
    std::string out;
    const bool quote = argument.empty() || argument.find_first_of(kReserved) != std::string_view::npos;
    if (quote) out += '"';
    for (const char c : argument) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
        if (c == '%') out += '%';
        out += c;
    }
    if (quote) out += '"';
    return out;
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

int CreateShortcutIn(const std::string& folder, const std::string& program) {
    const std::string path = DesktopEntryPath(folder);
    if (path.empty() || program.empty()) return kFailed;
    return CreateShellLink(program, path, ProgramFolder());
}

}  // namespace

std::string DesktopEntryPath(const std::string& folder) {
    return folder.empty() ? std::string() : JoinPath(folder, kDesktopEntryName);
}

bool DesktopEntryStartsFolder(const std::string& path, std::string_view folder) {
    std::string text;
    if (!ReadWholeFile(path, text)) return false;
    const std::string line = "Path=" + EscapeValue(folder);
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        if (std::string_view(text).substr(at, end - at) == line) return true;
        at = end + 1;
    }
    return false;
}

std::string FormatDesktopEntry(std::string_view name, std::string_view target, std::string_view folder) {
    std::string text = "[Desktop Entry]\n";
    text += "Type=Application\n";
    text += "Version=1.0\n";
    text += "Name=" + EscapeValue(name) + "\n";
    text += "Comment=" + EscapeValue(folder) + "\n";
    text += "Exec=env " + EscapeValue(QuoteExecArgument("QUORVEX_HOME=" + std::string(folder)) + " " +
                                      QuoteExecArgument(target)) + "\n";
    text += "Path=" + EscapeValue(folder) + "\n";
    text += "Terminal=false\n";
    return text;
}

int CreateShellLink(std::string_view target, const std::string& link_path, std::string_view folder) {
    if (HasLineBreak(target) || HasLineBreak(folder) || link_path.empty()) return kFailed;
    std::string_view name = BaseName(link_path);
    if (name.ends_with(kDesktopEntrySuffix)) name.remove_suffix(kDesktopEntrySuffix.size());
    const std::string parent(DirName(link_path));
    if (!parent.empty() && !MakeFolders(parent)) return kFailed;
    // An existing file keeps its mode; make sure a launcher is executable.
    if (!AtomicWriteFile(link_path, FormatDesktopEntry(name, target, folder), 0700)) return kFailed;
    return ::chmod(link_path.c_str(), 0700) == 0 ? 0 : kFailed;
}

int CreateDesktopShortcut(const std::string& program) {
    return CreateShortcutIn(CurrentSystemLocations().desktop_folder, program);
}

int CreateStartupShortcut(const std::string& program) {
    return CreateShortcutIn(CurrentSystemLocations().autostart_folder, program);
}

bool WriteAutostartEntry(const std::string* program) {
    const std::string path = DesktopEntryPath(CurrentSystemLocations().autostart_folder);
    if (path.empty()) return false;
    if (program == nullptr) return ::unlink(path.c_str()) == 0;
    return CreateShellLink(*program, path, ProgramFolder()) == 0;
}

}  // namespace quorvex
