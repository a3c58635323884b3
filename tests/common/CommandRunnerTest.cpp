// Running other programs: arguments reach them verbatim (no shell), input
// and output flow both ways without dead-locking, and the exit status tells
// a program that ran from one that could not be started or was killed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/CommandRunner.h"

namespace quorvex {
namespace {

TEST(CommandRunner, ArgumentsArriveVerbatim) {
    // Everything a shell would interpret stays one plain argument.
    const std::vector<std::string> argv = {"printf", "[%s]", "a b", "$HOME", ";true", "*", "'q'", "", "x\ty"};
    const CommandResult result = RunCommand(argv);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.output, "[a b][$HOME][;true][*]['q'][][x\ty]");
}

TEST(CommandRunner, ExitStatusAndFailuresToRun) {
    struct Case {
        std::vector<std::string> argv;
        int want;
    } cases[] = {
        {{"true"}, 0},
        {{"sh", "-c", "exit 3"}, 3},
        {{"sh", "-c", "exit 127"}, 127},                 // a program's own 127 is kept
        {{"sh", "-c", "kill -KILL $$"}, -1},             // killed, not exited
        {{"quorvex-no-such-program-here"}, -1},          // never started
        {{"/nonexistent/folder/program"}, -1},
        {{}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argv.empty() ? std::string("(empty)") : c.argv.back());
        EXPECT_EQ(RunCommand(c.argv).exit_status, c.want);
    }
}

TEST(CommandRunner, LargeInputAndOutputFlowTogether) {
    // cat echoes as it reads: with pipes of 64 KiB, a runner that wrote all
    // input before reading any output would hang here.
    std::string input;
    for (int i = 0; input.size() < 4u << 20; ++i) input += "line " + std::to_string(i) + "\n";
    const CommandResult result = RunCommand({"cat"}, input);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.output.size(), input.size());
    EXPECT_TRUE(result.output == input);
}

TEST(CommandRunner, AChildThatIgnoresItsInputDoesNotHurtTheCaller) {
    // The child exits without reading: writing the rest must neither block
    // nor kill the caller with SIGPIPE.
    const std::string input(8u << 20, 'x');
    const CommandResult result = RunCommand({"sh", "-c", "echo done"}, input);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.output, "done\n");
    // Still alive and able to run the next command.
    EXPECT_EQ(RunCommand({"true"}).exit_status, 0);
}

TEST(CommandRunner, DefaultRunnerRunsWithoutInput) {
    const CommandRunner runner = DefaultCommandRunner();
    // stdin is closed at once, so cat ends instead of waiting for input.
    const CommandResult result = runner({"cat"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(runner({"echo", "hello"}).output, "hello\n");
}

TEST(CommandRunner, StandardErrorIsCollectedOnlyWhenAsked) {
    const std::vector<std::string> both = {"sh", "-c", "echo out; echo err >&2; exit 3"};
    EXPECT_EQ(RunCommand(both, "", true).output, "out\nerr\n");
    EXPECT_EQ(RunCommand(both, "", true).exit_status, 3);
    EXPECT_EQ(RunCommand(both).output, "out\n");
}

TEST(CommandRunner, ProgramsAreFoundAsExecWouldFindThem) {
    const std::string sh = FindProgram("sh");
    ASSERT_FALSE(sh.empty());
    EXPECT_EQ(sh.front(), '/');
    EXPECT_EQ(FindProgram(sh), sh);
    for (const char* missing : {"", "no-such-program-here", "/nonexistent/apachectl", "/etc/passwd"})
        EXPECT_EQ(FindProgram(missing), "") << missing;
}

}  // namespace
}  // namespace quorvex
