// Atomic whole-file replacement: the new text is flushed before it takes
// the file's name, and whichever step fails, the old file stays as it was
// with no temporary file beside it.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/AtomicFile.h"
#include "support/FileStepFaults.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

using testing::StepAt;

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    return names;
}

TEST(AtomicFile, FlushesBeforeRenamingAndLeavesNothingWhenAStepFails) {
    testing::TempFolder folder;
    const std::string path = folder.File("settings.ini");
    ASSERT_TRUE(AtomicWriteFile(path, "old"));
    const testing::StepTrace steps = testing::TraceSteps([&] { ASSERT_TRUE(AtomicWriteFile(path, "new")); });
    EXPECT_LT(StepAt(steps, fs::Step::kSync, "settings.ini.tmp-"), StepAt(steps, fs::Step::kRename, "settings.ini"));

    // Every step up to the rename, failed in turn (a failed flush of the
    // folder afterwards does not undo a replacement that took place).
    for (std::size_t n = 0; n < steps.size() && steps[n].first != fs::Step::kSyncFolder; ++n) {
        SCOPED_TRACE(fs::StepName(steps[n].first));
        EXPECT_FALSE(testing::WithStepFailing(n, [&] { return AtomicWriteFile(path, "newer"); }));
        std::string text;
        ASSERT_TRUE(ReadWholeFile(path, text));
        EXPECT_EQ(text, "new");
        EXPECT_EQ(Names(folder.path()), std::vector<std::string>{"settings.ini"});
    }
}

}  // namespace
}  // namespace quorvex
