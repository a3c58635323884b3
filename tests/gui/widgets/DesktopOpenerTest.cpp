// The program's opener run on a stand-in for xdg-open: the call returns at
// once, and the verdict comes from the opener's exit status when it ends,
// with its own reason (its last error line, else what its status means).
#include <sys/stat.h>

#include "GuiTestSupport.h"
#include "gui/support/DesktopOpener.h"

namespace quorvex::gui::testing {
namespace {

TEST(DesktopOpenerTest, VerdictComesFromTheOpenersExitStatus) {
    quorvex::testing::TempFolder folder;
    const struct {
        const char* script;  // the stand-in's shell commands; null: no such program
        std::optional<QString> failure;
    } cases[] = {
        {"exit 0", std::nullopt},
        {"echo \"xdg-open: no method available for opening '$1'\" >&2\nexit 3",
         QStringLiteral("xdg-open: no method available for opening '/srv/a b.txt'")},
        {"exit 4", QStringLiteral("%1 ended with exit status 4: the program that opens it failed.")},
        {"exit 9", QStringLiteral("%1 ended with exit status 9.")},
        {"kill -KILL $$", QStringLiteral("%1 stopped before it could open it.")},
        {nullptr, QStringLiteral("%1 could not be started: ")},
    };
    int number = 0;
    for (const auto& c : cases) {
        const std::string program = folder.File("opener" + std::to_string(++number));
        SCOPED_TRACE(c.script ? c.script : "missing");
        if (c.script) {
            WriteFile(program, std::string("#!/bin/sh\n") + c.script + "\n");
            ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
        }
        QtDesktopOpener opener(QString::fromStdString(program));
        std::optional<std::optional<QString>> verdict;
        opener.OpenPath(QStringLiteral("/srv/a b.txt"), [&](const std::optional<QString>& failure) { verdict = failure; });
        EXPECT_FALSE(verdict) << "the call does not wait for the opener";
        ASSERT_TRUE(WaitFor([&] { return verdict.has_value(); }));
        if (!c.failure) {
            EXPECT_EQ(*verdict, std::nullopt);
        } else if (c.script) {
            EXPECT_EQ(*verdict, c.failure->arg(QString::fromStdString(program)));
        } else {
            ASSERT_TRUE(verdict->has_value());
            EXPECT_TRUE((*verdict)->startsWith(c.failure->arg(QString::fromStdString(program)))) << (*verdict)->toStdString();
        }
    }
}

}  // namespace
}  // namespace quorvex::gui::testing
