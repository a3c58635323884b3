// The profile layer: Windows profile semantics, atomic rewrites, the cache.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/AtomicFile.h"
#include "common/ConfigWriter.h"
#include "common/ProfileFile.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

using testing::TempFolder;

std::string slurp(const std::string& path) {
    std::string text;
    ReadWholeFile(path, text);
    return text;
}

void spit(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(IniDocument, ReadsLikeTheProfileFunctions) {
    const auto doc = IniDocument::Parse(
        "; comment line\r\n"
        "loose=before any section\r\n"
        "[System]\r\n"
        "  Dominame =  example.test  \r\n"
        "Port=25\r\n"
        "port=99\r\n"
        "Quoted=\"  padded  \"\r\n"
        "Single='x'\r\n"
        "Half=\"open\r\n"
        "not a key line\r\n"
        "Empty=\r\n"
        "[system]\r\n"
        "Later=ignored because the first section wins\r\n"
        "[ Spaced ]\r\n"
        "k=v\r\n");
    struct Case {
        const char* section;
        const char* key;
        std::optional<std::string> want;
    } cases[] = {
        {"SYSTEM", "dominame", "example.test"},
        {"System", "Port", "25"},              // first key wins over "port=99"
        {"System", "Quoted", "  padded  "},    // quotes stripped, inside kept
        {"System", "Single", "x"},
        {"System", "Half", "\"open"},          // unmatched quote kept
        {"System", "Empty", ""},
        {"System", "not a key line", std::nullopt},
        {"System", "Later", std::nullopt},     // second [system] is never read
        {"Spaced", "k", "v"},
        {"", "loose", std::nullopt},
        {"Missing", "k", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto got = doc.Find(c.section, c.key);
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        ASSERT_EQ(got.has_value(), c.want.has_value());
        if (got) {
            EXPECT_EQ(*got, *c.want);
        }
    }
    EXPECT_EQ(doc.KeyNames("system"), (std::vector<std::string>{"Dominame", "Port", "port", "Quoted", "Single", "Half", "Empty"}));
}

TEST(IniDocument, ParsesNumbersLikeGetPrivateProfileInt) {
    struct Case {
        const char* text;
        int want;
    } cases[] = {
        {"42", 42},       {"  42", 42},     {"-7", -7},        {"+8", 8},          {"12abc", 12},
        {"abc", 0},       {"", 99},         {"0x10", 0},       {"99999999999", INT_MAX},
        {"-99999999999", INT_MIN},          {"-", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseProfileInt(c.text, 99), c.want) << c.text;
}

// The one ini integer reader of every settings file: the default for a
// missing key or an empty value, the number rules above otherwise.
TEST(IniDocument, ReadConfigIntDefaultsForAMissingKey) {
    const IniDocument doc = IniDocument::Parse("[System]\r\nPort=110\r\nEmpty=\r\nWord=abc\r\n");
    EXPECT_EQ(ReadConfigInt(doc, "System", "Port", 7), 110);
    EXPECT_EQ(ReadConfigInt(doc, "system", "port", 7), 110);
    EXPECT_EQ(ReadConfigInt(doc, "System", "Missing", 7), 7);
    EXPECT_EQ(ReadConfigInt(doc, "Other", "Port", 7), 7);
    EXPECT_EQ(ReadConfigInt(doc, "System", "Empty", 7), 7);
    EXPECT_EQ(ReadConfigInt(doc, "System", "Word", 7), 0);
}

TEST(IniDocument, WritesKeepEverythingElse) {
    auto doc = IniDocument::Parse("; keep me\n[A]\nx=1\n\nlog text without equals\n[B]\ny=2\n");
    ASSERT_TRUE(doc.Set("a", "X", "10"));      // replaced in place, spelling kept
    ASSERT_TRUE(doc.Set("A", "z", "3"));       // added after the last key of [A]
    ASSERT_TRUE(doc.Set("C", "w", "4"));       // new section at the end
    ASSERT_TRUE(doc.RemoveKey("B", "y"));
    EXPECT_EQ(doc.Format(), "; keep me\n[A]\nx=10\nz=3\n\nlog text without equals\n[B]\n\n[C]\nw=4\n");
    ASSERT_TRUE(doc.RemoveSection("a"));
    EXPECT_EQ(doc.Format(), "; keep me\n[B]\n\n[C]\nw=4\n");
}

TEST(IniDocument, RefusesLineBreaksAndBadNames) {
    auto doc = IniDocument::Parse("[A]\r\nx=1\r\n");
    const std::string before = doc.Format();
    EXPECT_FALSE(doc.Set("A", "x", "evil\r\n[Admin]\r\nPassword=1"));
    EXPECT_FALSE(doc.Set("A", "x", "a\nb"));
    EXPECT_FALSE(doc.Set("A", "x\n", "v"));
    EXPECT_FALSE(doc.Set("A\r", "x", "v"));
    EXPECT_FALSE(doc.Set("A]", "x", "v"));
    EXPECT_FALSE(doc.Set("A", "k=v", "v"));
    EXPECT_FALSE(doc.Set("A", "", "v"));
    EXPECT_FALSE(doc.Set("", "x", "v"));
    EXPECT_EQ(doc.Format(), before);
}

TEST(ProfileFile, MissingFileGivesDefaultsAndWritesCreateIt) {
    TempFolder dir;
    ProfileFile file(dir.File("config.ini"));
    EXPECT_EQ(file.GetString("System", "Dominame", "def"), "def");
    EXPECT_EQ(file.GetInt("Port", "SMTP", 25), 25);
    ASSERT_TRUE(file.WriteString("System", "Dominame", "example.test"));
    ASSERT_TRUE(file.WriteInt("Port", "SMTP", 2525));
    EXPECT_EQ(slurp(file.path()), "[System]\r\nDominame=example.test\r\n\r\n[Port]\r\nSMTP=2525\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(file.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(file.DeleteKey("Port", "Nothing"));
    EXPECT_FALSE(file.WriteString("System", "Dominame", "x\r\ny"));
    EXPECT_EQ(file.GetString("system", "dominame"), "example.test");
    EXPECT_EQ(file.ReadFailure(), std::nullopt);
    // There but unreadable (a pipe, a folder): never rewritten.
    for (const char* name : {"pipe.ini", "folder.ini"}) {
        ProfileFile unreadable(dir.File(name));
        if (name[0] == 'p') ASSERT_EQ(::mkfifo(unreadable.path().c_str(), 0600), 0);
        else std::filesystem::create_directory(unreadable.path());
        EXPECT_TRUE(unreadable.ReadFailure()) << name;
        EXPECT_FALSE(unreadable.WriteString("System", "Password", "x")) << name;
        EXPECT_FALSE(std::filesystem::is_regular_file(std::filesystem::symlink_status(unreadable.path()))) << name;
    }
}

TEST(ProfileFile, SeesChangesMadeBehindItsBack) {
    TempFolder dir;
    const std::string path = dir.File("a.ini");
    ProfileFile file(path);
    spit(path, "[S]\nk=1\n");
    EXPECT_EQ(file.GetInt("S", "k", 0), 1);
    // Same size, rewritten in place: the inode stays, mtime or size tells.
    spit(path, "[S]\nk=2\n");
    ProfileFile::ClearCache();
    EXPECT_EQ(file.GetInt("S", "k", 0), 2);
    const std::string other = dir.File("b.ini");
    spit(other, "[S]\nk=3\n");
    std::filesystem::rename(other, path);
    EXPECT_EQ(file.GetInt("S", "k", 0), 3);
    std::filesystem::remove(path);
    EXPECT_EQ(file.GetInt("S", "k", 0), 0);
}

TEST(ProfileFile, ConcurrentWritersLoseNoKey) {
    TempFolder dir;
    const std::string path = dir.File("c.ini");
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            ProfileFile file(path);
            for (int i = 0; i < 20; ++i) file.WriteInt("T" + std::to_string(t), "k" + std::to_string(i), i);
        });
    for (auto& th : threads) th.join();
    const auto doc = ProfileFile(path).Load();
    for (int t = 0; t < 8; ++t)
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(doc->Find("T" + std::to_string(t), "k" + std::to_string(i)), std::to_string(i));
}

// A writer killed at any moment leaves the old or the new file, whole.
TEST(ProfileFile, KilledWriterNeverLeavesATruncatedFile) {
    TempFolder dir;
    const std::string path = dir.File("big.ini");
    std::string old_text = "[S]\r\n";
    for (int i = 0; i < 20000; ++i) old_text += "key" + std::to_string(i) + "=old\r\n";
    ASSERT_TRUE(AtomicWriteFile(path, old_text));
    std::string new_text = old_text;
    for (std::size_t p; (p = new_text.find("=old")) != std::string::npos;) new_text.replace(p, 4, "=new");

    for (int round = 0; round < 20; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                AtomicWriteFile(path, new_text);
                AtomicWriteFile(path, old_text);
            }
        }
        // Let the writer get going: wait until it has replaced the file once.
        struct stat first {};
        ::stat(path.c_str(), &first);
        for (int spin = 0; spin < 100000; ++spin) {
            struct stat now {};
            if (::stat(path.c_str(), &now) == 0 && now.st_ino != first.st_ino) break;
        }
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const std::string text = slurp(path);
        EXPECT_TRUE(text == old_text || text == new_text) << "round " << round << " size " << text.size();
        ProfileFile file(path);
        const std::string v = file.GetString("S", "key19999");
        EXPECT_TRUE(v == "old" || v == "new");
    }
    // Leftover temporary files never shadow the real one.
    EXPECT_EQ(ProfileFile(path).GetString("S", "key0").size(), 3u);
}

// A crash between writing the temporary file and renaming it leaves that
// file behind, possibly cut short: readers never see it, and the next
// write replaces the real file whole.
TEST(ProfileFile, LeftoverTemporaryFilesAreIgnored) {
    TempFolder dir;
    const std::string path = dir.File("config.ini");
    ASSERT_TRUE(AtomicWriteFile(path, "[System]\r\nMaxRcpts=20\r\n"));
    const std::string leftover = path + std::string(kAtomicTempInfix) + "AbC123";
    spit(leftover, "[System]\r\nMaxRcp");
    ProfileFile file(path);
    EXPECT_EQ(file.GetInt("System", "MaxRcpts", 0), 20);
    ASSERT_TRUE(file.WriteInt("System", "MaxRcpts", 30));
    EXPECT_EQ(slurp(path), "[System]\r\nMaxRcpts=30\r\n");
    ProfileFile::ClearCache();
    EXPECT_EQ(ProfileFile(path).GetInt("System", "MaxRcpts", 0), 30);
    // The leftover is neither read nor reused as the next temporary file.
    EXPECT_EQ(slurp(leftover), "[System]\r\nMaxRcp");
    std::size_t temporaries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        if (entry.path().filename().string().find(kAtomicTempInfix) != std::string::npos) ++temporaries;
    }
    EXPECT_EQ(temporaries, 1u);
}

}  // namespace
}  // namespace quorvex
