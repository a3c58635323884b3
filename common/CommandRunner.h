// Running another program with an argument vector (never through a shell,
// so no argument is ever interpreted) and collecting its standard output.
// The system helpers reach systemctl through a CommandRunner so that tests
// can put a recorder in its place.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quorvex {

struct CommandResult {
    int exit_status = -1;  // -1 when the program could not be started or did not exit normally
    std::string output;    // standard output; standard error is left alone
};

// Runs argv[0] (looked up on PATH) with the given arguments, writes
// `input` to its standard input and waits for it to end. With
// `capture_errors` the program's standard error is collected into
// `output` too (for programs that report on standard error).
CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& input = "",
                         bool capture_errors = false);

// The file that running `name` would start: `name` itself when it holds a
// '/', else the first executable of that name in a folder of PATH. Empty
// when there is none.
std::string FindProgram(const std::string& name);

// What the system helpers call to run a command.
using CommandRunner = std::function<CommandResult(const std::vector<std::string>& argv)>;

// RunCommand without input.
CommandRunner DefaultCommandRunner();

}  // namespace quorvex
