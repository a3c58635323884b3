#include "app/WindowedProgram.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/HostInfo.h"
#include "common/Paths.h"

namespace quorvex::app {

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// A socket, as any other entry.
bool PathExists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

bool Executable(const std::string& path) { return !path.empty() && ::access(path.c_str(), X_OK) == 0; }

}  // namespace

bool DisplayAvailable() {
    if (!Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) return false;
    if (Set("QT_QPA_PLATFORM")) return true;
    if (Set("WAYLAND_DISPLAY")) {
        const std::string name = std::getenv("WAYLAND_DISPLAY");
        if (!name.empty() && name.front() == '/') {
            if (PathExists(name)) return true;
        } else if (Set("XDG_RUNTIME_DIR") && PathExists(JoinPath(std::getenv("XDG_RUNTIME_DIR"), name))) {
            return true;
        }
    }
    if (!Set("DISPLAY")) return false;
    const std::string display = std::getenv("DISPLAY");
    const auto colon = display.rfind(':');
    if (colon == std::string::npos) return false;
    // "host:N" is reached over the network: trust it.
    if (colon != 0 && display.substr(0, colon) != "unix") return true;
    const std::string number = display.substr(colon + 1, display.find('.', colon) - colon - 1);
    return !number.empty() && PathExists("/tmp/.X11-unix/X" + number);
}

std::string WindowedProgramPath() {
    const std::string self = ExecutablePath();
    if (!self.empty()) {
        const std::string beside = JoinPath(DirName(self), kWindowedProgramName);
        if (Executable(beside)) return beside;
        // Installed: <prefix>/bin/QuorvexServer and <prefix>/libexec/quorvex/.
        const std::string installed = JoinPath(DirName(self), "../libexec/quorvex", kWindowedProgramName);
        if (Executable(installed)) return installed;
    }
    return {};
}

void ExecWindowedProgram(const std::vector<std::string>& arguments) {
    const std::string program = WindowedProgramPath();
    if (program.empty()) {
        std::fprintf(stderr, "QuorvexServer: %s is not installed; running without a window.\n",
                     std::string(kWindowedProgramName).c_str());
        return;
    }
    // The windowed program would otherwise take its own folder for the
    // program folder.
    if (!Set("QUORVEX_HOME")) ::setenv("QUORVEX_HOME", ProgramFolder().c_str(), 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    std::fprintf(stderr, "QuorvexServer: cannot start %s (%s); running without a window.\n", program.c_str(),
                 std::strerror(errno));
}

}  // namespace quorvex::app
