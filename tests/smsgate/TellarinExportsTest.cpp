// The shared library as C programs see it: a C caller built here with the
// system's C compiler loads it with dlopen and resolves every export by
// name, and the dynamic symbol table shows those exports and nothing else.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

namespace quorvex::testing {
namespace {

const std::string kLibraryPath = std::string(QUORVEX_BINARY_DIR) + "/smsgate/libTellarin.so";
const std::string kSourceDir = QUORVEX_SOURCE_DIR;
#ifdef __SANITIZE_ADDRESS__
// A sanitized library can only be loaded by a program that starts the
// sanitizer runtime itself.
const std::string kCFlags = "-std=c99 -Wall -Werror -fsanitize=address,undefined";
#else
const std::string kCFlags = "-std=c99 -Wall -Werror";
#endif

struct CommandResult {
    int exit_status = -1;
    std::set<std::string> lines;
};

// Runs a shell command and collects the lines it prints.
CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* output = ::popen(command.c_str(), "r");
    if (output == nullptr) return result;
    char line[512];
    while (std::fgets(line, sizeof line, output) != nullptr) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        result.lines.insert(text);
    }
    const int status = ::pclose(output);
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// The names the C caller resolved, or nothing when it could not be built or
// found something missing.
std::set<std::string> ExportsResolvedFromC() {
    const auto program = std::filesystem::temp_directory_path() / ("tellarin-dlopen-" + std::to_string(::getpid()));
    const CommandResult build = RunCommand("cc " + kCFlags + " -I'" + kSourceDir + "' '" + kSourceDir +
                                    "/tests/smsgate/dlopen_exports.c' -o '" + program.string() + "' -ldl 2>&1");
    EXPECT_EQ(build.exit_status, 0) << ::testing::PrintToString(build.lines);
    const CommandResult run = RunCommand("'" + program.string() + "' '" + kLibraryPath + "'");
    std::filesystem::remove(program);
    EXPECT_EQ(run.exit_status, 0);
    return run.lines;
}

TEST(TellarinExportsTest, CCallerResolvesExactlyTheVisibleExports) {
    const std::set<std::string> resolved = ExportsResolvedFromC();
    EXPECT_EQ(resolved.size(), 25u);

    std::set<std::string> visible;
    for (const std::string& line : RunCommand("nm -D --defined-only '" + kLibraryPath + "'").lines) {
        const auto name_at = line.rfind(' ');
        if (name_at != std::string::npos) visible.insert(line.substr(name_at + 1));
    }
    EXPECT_EQ(visible, resolved);
}

}  // namespace
}  // namespace quorvex::testing
