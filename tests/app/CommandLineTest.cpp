#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace quorvex::app {
namespace {

TEST(CommandLineTest, TheWholeTextMustBeOneSwitch) {
    const struct {
        std::vector<std::string> arguments;
        ProgramSwitch expected;
    } cases[] = {
        {{}, ProgramSwitch::kNone},
        {{"-install"}, ProgramSwitch::kInstall},
        {{"-INSTALL"}, ProgramSwitch::kInstall},
        {{"-Uninstall"}, ProgramSwitch::kUninstall},
        {{"-uninstsvr"}, ProgramSwitch::kUninstSvr},
        {{"-update"}, ProgramSwitch::kUpdate},
        {{"-service"}, ProgramSwitch::kService},
        {{"-install", "now"}, ProgramSwitch::kNone},
        {{"-install "}, ProgramSwitch::kNone},
        {{"install"}, ProgramSwitch::kNone},
        {{"-servic"}, ProgramSwitch::kNone},
        {{"-service", ""}, ProgramSwitch::kNone},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseCommandLine(CommandLineText(c.arguments)), c.expected) << CommandLineText(c.arguments);
    }
}

TEST(CommandLineTest, LongCommandLinesAreCutBeforeTheyAreCompared) {
    const std::string text = CommandLineText({std::string(5000, 'x')});
    EXPECT_EQ(text.size(), kMaxCommandLineLength);
    EXPECT_EQ(CommandLineText({"a", "b c"}), "a b c");
}

}  // namespace
}  // namespace quorvex::app
