// Files that go away with their owner unless moved or released.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "common/TemporaryFile.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

TEST(TemporaryFileTest, RemovedUnlessMovedOrReleased) {
    testing::TempFolder folder;
    std::string kept, moved_from, released, replaced;
    {
        TemporaryFile made = TemporaryFile::Create(folder.File("made-XXXXXX"));
        ASSERT_TRUE(made.holds_file());
        ASSERT_TRUE(made.fd().valid());
        kept = made.path();
        EXPECT_TRUE(Exists(kept));

        TemporaryFile moving = TemporaryFile::Create(folder.File("move-XXXXXX"));
        moved_from = moving.path();
        ASSERT_TRUE(moving.MoveTo(folder.File("final")));
        EXPECT_FALSE(moving.MoveTo(folder.File("again")));  // no longer held

        TemporaryFile keep = TemporaryFile::Create(folder.File("keep-XXXXXX"));
        released = keep.path();
        keep.Release();

        TemporaryFile first = TemporaryFile::Create(folder.File("first-XXXXXX"));
        replaced = first.path();
        first = TemporaryFile::Create(folder.File("second-XXXXXX"));  // the first goes at once
        EXPECT_FALSE(Exists(replaced));
        TemporaryFile taken(std::move(first));
        EXPECT_FALSE(first.holds_file());
        EXPECT_TRUE(Exists(taken.path()));
    }
    EXPECT_FALSE(Exists(kept));
    EXPECT_FALSE(Exists(moved_from));
    EXPECT_TRUE(Exists(folder.File("final")));
    EXPECT_TRUE(Exists(released));
    EXPECT_FALSE(TemporaryFile::Create(folder.File("missing/x-XXXXXX")).holds_file());
}

}  // namespace
}  // namespace quorvex
