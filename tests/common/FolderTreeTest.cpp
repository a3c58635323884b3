// Folder helpers: removing a tree never follows a symbolic link out of it,
// and folders and files given "full access" are shared with the group but
// never writable by everybody, whatever the umask.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/FolderTree.h"
#include "common/Paths.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

void Touch(const std::string& path) { std::ofstream(path) << "data"; }

unsigned ModeOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return 0xFFFFu;
    return st.st_mode & 07777;
}

// Sets the umask for the life of the object.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(old_); }

private:
    mode_t old_;
};

TEST(FolderTree, DeletesANestedTree) {
    TempFolder temp;
    const std::string root = temp.File("account");
    fs::create_directories(root + "/back/deeper/deepest");
    fs::create_directories(root + "/empty");
    Touch(root + "/mailinfo.dat");
    Touch(root + "/.hidden");
    Touch(root + "/back/1.eml");
    Touch(root + "/back/deeper/deepest/x");
    ::mkfifo((root + "/fifo").c_str(), 0600);
    // Read-only files and folders go too (only the parent's mode counts).
    ::chmod((root + "/mailinfo.dat").c_str(), 0400);
    EXPECT_TRUE(DeleteFolderTree(root));
    EXPECT_FALSE(fs::exists(root));
    EXPECT_TRUE(fs::exists(temp.path()));
}

TEST(FolderTree, NeverFollowsALinkOutOfTheTree) {
    TempFolder temp;
    const std::string outside = temp.File("outside");
    fs::create_directories(outside + "/sub");
    Touch(outside + "/precious.txt");
    Touch(outside + "/sub/also-precious.txt");

    const std::string root = temp.File("tree");
    fs::create_directories(root + "/inner");
    fs::create_directory_symlink(outside, root + "/link-to-folder");
    fs::create_directory_symlink(outside, root + "/inner/nested-link");
    fs::create_symlink(outside + "/precious.txt", root + "/link-to-file");
    fs::create_symlink(temp.File("nowhere"), root + "/dangling");

    EXPECT_TRUE(DeleteFolderTree(root));
    EXPECT_FALSE(fs::exists(fs::symlink_status(root)));
    // The links went, what they pointed at stayed.
    EXPECT_TRUE(fs::exists(outside + "/precious.txt"));
    EXPECT_TRUE(fs::exists(outside + "/sub/also-precious.txt"));
}

TEST(FolderTree, AFolderThatIsItselfALinkIsLeftAlone) {
    TempFolder temp;
    const std::string real = temp.File("real");
    fs::create_directories(real);
    Touch(real + "/file");
    const std::string link = temp.File("link");
    fs::create_directory_symlink(real, link);
    EXPECT_FALSE(DeleteFolderTree(link));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::exists(real + "/file"));
}

TEST(FolderTree, MissingFolderOrAFileGivesFalse) {
    TempFolder temp;
    EXPECT_FALSE(DeleteFolderTree(temp.File("missing")));
    EXPECT_FALSE(DeleteFolderTree(""));
    Touch(temp.File("plain"));
    EXPECT_FALSE(DeleteFolderTree(temp.File("plain")));
    EXPECT_TRUE(fs::exists(temp.File("plain")));
}

TEST(FolderTree, CreatedFoldersAreSharedWithTheGroupButNeverWithEverybody) {
    TempFolder temp;
    // A strict umask would take the group's bits, an open one would let
    // everybody write: neither changes the mode given.
    for (const mode_t mask : {mode_t{0077}, mode_t{0}, mode_t{0022}}) {
        SCOPED_TRACE(mask);
        ScopedUmask umask_for_test(mask);
        const std::string folder = temp.File("maildata-" + std::to_string(mask));
        EXPECT_TRUE(CreateFolderWithFullAccess(folder));
        EXPECT_EQ(ModeOf(folder), kSharedFolderMode);
        EXPECT_EQ(ModeOf(folder) & 0007u, 0u);
    }
    // An existing folder counts as made; a file or a missing parent does not.
    EXPECT_TRUE(CreateFolderWithFullAccess(temp.File("maildata-0")));
    Touch(temp.File("file"));
    EXPECT_FALSE(CreateFolderWithFullAccess(temp.File("file")));
    EXPECT_FALSE(CreateFolderWithFullAccess(temp.File("no/parent")));
    EXPECT_FALSE(fs::exists(temp.File("no")));
}

TEST(FolderTree, MadeFoldersAreNeverWorldWritable) {
    TempFolder temp;
    ScopedUmask open_umask(0);
    struct Case {
        const char* path;
        unsigned asked;
        unsigned want;
    } cases[] = {
        {"a/b/c", 0700, 0700},
        {"shared/web", 0750, 0750},
        {"open/wide", 0777, 0775},
        {"other/writable", 0703, 0701},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string path = temp.File(c.path);
        ASSERT_TRUE(MakeFolders(path, c.asked));
        EXPECT_EQ(ModeOf(path), c.want);
        EXPECT_EQ(ModeOf(std::string(DirName(path))), c.want);  // missing parents too
    }
}

TEST(FolderTree, GrantingFullAccessTakesWritingFromEverybodyElse) {
    TempFolder temp;
    struct Case {
        const char* name;
        bool folder;
        unsigned before;
        unsigned after;
    } cases[] = {
        {"private-file", false, 0600, 0660},
        {"world-writable-file", false, 0666, 0664},
        {"read-only-file", false, 0444, 0664},
        {"executable-file", false, 0755, 0775},
        {"private-folder", true, 0700, 0770},
        {"open-folder", true, 0777, 0775},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = temp.File(c.name);
        if (c.folder) {
            fs::create_directory(path);
        } else {
            Touch(path);
        }
        ASSERT_EQ(::chmod(path.c_str(), c.before), 0);
        EXPECT_TRUE(GrantFileFullAccess(path));
        EXPECT_EQ(ModeOf(path), c.after);
    }
    // A link is refused, and its target keeps its mode.
    const std::string target = temp.File("target");
    Touch(target);
    ::chmod(target.c_str(), 0600);
    fs::create_symlink(target, temp.File("link"));
    EXPECT_FALSE(GrantFileFullAccess(temp.File("link")));
    EXPECT_EQ(ModeOf(target), 0600u);
    EXPECT_FALSE(GrantFileFullAccess(temp.File("missing")));
}

}  // namespace
}  // namespace quorvex
