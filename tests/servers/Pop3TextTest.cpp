// Pure pieces of the POP3 command line and of stored-message reading.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <filesystem>

#include "common/AtomicFile.h"
#include "servers/pop3/Pop3Text.h"
#include "servers/pop3/StoredMessage.h"
#include "tests/servers/support/Pop3FakeServices.h"
#include "tests/support/TempFolder.h"

namespace quorvex::pop3 {
namespace {

TEST(Pop3TextTest, UidNumbers) {
    EXPECT_EQ(UidNumberOf("a.b.quorvexserver.17"), 17u);
    EXPECT_EQ(UidNumberOf("17"), 0u);
    EXPECT_EQ(UidNumberOf("a."), 0u);
    EXPECT_EQ(UidNumberOf("a.99999999999"), 0u);
}

// Writes `bytes` scrambled with `key` and reads them back line by line,
// with a small line limit so that long lines come in pieces.
std::vector<std::string> ReadLines(const std::string& path, std::string bytes, std::uint8_t key,
                                   std::size_t max_line = 1 << 20) {
    for (char& c : bytes) c = static_cast<char>(c ^ static_cast<char>(key));
    AtomicWriteFile(path, bytes);
    UniqueFd fd = OpenMessageFile(path);
    StoredLineReader reader(fd.get(), key, max_line);
    std::vector<std::string> lines;
    std::string line;
    while (reader.Next(line)) lines.push_back(line);
    return lines;
}

TEST(StoredMessageTest, LineReaderSplitsAtCrLfOnly) {
    testing::TempFolder folder;
    const std::string path = folder.File("m.eml");
    using Lines = std::vector<std::string>;
    EXPECT_EQ(ReadLines(path, "", 7), Lines{});
    EXPECT_EQ(ReadLines(path, "a\r\nb\r\n", 7), (Lines{"a", "b"}));
    EXPECT_EQ(ReadLines(path, "a\r\n\r\nlast", 0), (Lines{"a", "", "last"}));
    EXPECT_EQ(ReadLines(path, "bare\nlf\r\n", 9), (Lines{"bare\nlf"}));
    EXPECT_EQ(ReadLines(path, "abcdefgh\r\n", 0, 3), (Lines{"abc", "def", "gh"}));
    // A line longer than the read block, and a CR LF split across blocks.
    const std::string big(64 * 1024 - 1, 'x');
    EXPECT_EQ(ReadLines(path, big + "\r\nnext\r\n", 0x41), (Lines{big, "next"}));
    const std::string huge(200 * 1000, 'y');
    EXPECT_EQ(ReadLines(path, huge + "\r\n", 1), (Lines{huge}));
}

// Files of one folder come through its handle; another folder, or a folder
// made anew under the same path, is found again.
TEST(StoredMessageTest, MessageFolderOpensByPathWhateverTheFolder) {
    testing::TempFolder folder;
    const auto file = [&](const std::string& name, const std::string& text) {
        std::filesystem::create_directories(folder.File(name.substr(0, name.find('/'))));
        AtomicWriteFile(folder.File(name), text);
        return folder.File(name);
    };
    const auto read = [](const UniqueFd& fd) {
        char text[16] = {};
        return fd ? std::string(text, static_cast<std::size_t>(std::max<ssize_t>(0, ::read(fd.get(), text, sizeof text))))
                  : std::string("(none)");
    };
    MessageFolder messages;
    EXPECT_EQ(read(messages.Open(file("a/1.eml", "a1"))), "a1");
    EXPECT_EQ(read(messages.Open(file("a/2.eml", "a2"))), "a2");
    EXPECT_EQ(read(messages.Open(file("b/1.eml", "b1"))), "b1");
    EXPECT_EQ(read(messages.Open(folder.File("b/9.eml"))), "(none)");
    std::filesystem::rename(folder.File("b"), folder.File("old-b"));
    EXPECT_EQ(read(messages.Open(file("b/3.eml", "new b3"))), "new b3");
}

TEST(StoredMessageTest, SendMessageFileEndsWithCrLf) {
    testing::TempFolder folder;
    const std::string path = folder.File("m.eml");
    struct Case {
        std::string stored;
        std::string sent;
    };
    const std::string block(64 * 1024, 'z');
    const Case cases[] = {
        {"", ""},
        {"x", "x\r\n"},
        {"\r", "\r\r\n"},
        {"a\r\n", "a\r\n"},
        {"a\n", "a\n\r\n"},
        {"..dot\r\n.\r\n", "..dot\r\n.\r\n"},
        {block, block + "\r\n"},
        {block + "\r\n", block + "\r\n"},
        // The CR LF at the end split between two reads.
        {std::string(kMessageReadBound - 1, 'w') + "\r\n", std::string(kMessageReadBound - 1, 'w') + "\r\n"},
        {std::string("nul\0byte\r\n", 10), std::string("nul\0byte\r\n", 10)},
    };
    for (const std::uint8_t key : {std::uint8_t{0}, std::uint8_t{0xA5}}) {
        for (const Case& c : cases) {
            std::string stored = c.stored;
            for (char& ch : stored) ch = static_cast<char>(ch ^ static_cast<char>(key));
            AtomicWriteFile(path, stored);
            UniqueFd fd = OpenMessageFile(path);
            testing::StringOutput out;
            ASSERT_TRUE(SendMessageFile(fd.get(), key, out));
            EXPECT_EQ(out.text, c.sent) << "key " << int(key) << " size " << c.stored.size();
        }
    }
}

}  // namespace
}  // namespace quorvex::pop3
