// ResolvedPathInside: a name from outside reaches only entries strictly
// below its root, whatever links or look-alike sibling folders it names.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/Paths.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

TEST(Paths, ResolvedPathInsideOnlyBelowTheRoot) {
    testing::TempFolder home;
    const std::string root = home.File("websmtp/alice");
    for (const char* folder : {"websmtp/alice/sub", "websmtp/alice2"})
        std::filesystem::create_directories(home.File(folder));
    for (const char* file : {"websmtp/alice/a.txt", "websmtp/alice/sub/b.txt", "websmtp/alice2/c.txt", "websmtp/d.txt"})
        std::ofstream(home.File(file)) << "x";
    ASSERT_EQ(::symlink(home.File("websmtp/alice2/c.txt").c_str(), home.File("websmtp/alice/out").c_str()), 0);
    ASSERT_EQ(::symlink(home.File("websmtp/alice/a.txt").c_str(), home.File("websmtp/in").c_str()), 0);
    struct Case {
        std::string path;
        std::string root;
        bool inside;
    };
    const Case cases[] = {
        {"websmtp/alice/a.txt", root, true},
        {"websmtp/alice/sub/b.txt", root, true},
        {"websmtp/alice/sub", root, true},
        {"websmtp/alice/sub/../a.txt", root, true},
        {"websmtp/in", root, true},  // a link from outside to a file inside
        {"websmtp/alice2/c.txt", root, false},
        {"websmtp/alice2", root, false},
        {"websmtp/alice/../alice2/c.txt", root, false},
        {"websmtp/alice/out", root, false},  // a link inside to a sibling's file
        {"websmtp/d.txt", root, false},
        {"websmtp/alice", root, false},  // the root itself
        {"websmtp/alice/missing.txt", root, false},
        {"websmtp/alice/a.txt", root + "/", true},
        {"websmtp/alice2/c.txt", root + "/", false},
        {"websmtp/alice/a.txt", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " in " + c.root);
        const auto resolved = ResolvedPathInside(home.File(c.path), c.root);
        EXPECT_EQ(resolved.has_value(), c.inside);
        if (resolved) {
            EXPECT_EQ(resolved, ResolvedPath(home.File(c.path)));
        }
    }
}

}  // namespace
}  // namespace quorvex
