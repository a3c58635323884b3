// Mailbox index format and store operations: golden bytes, numbering,
// commits against stale copies, damaged indexes, limits, crash safety.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "MailDataFixture.h"
#include "support/ErrorLogCapture.h"
#include "support/FileStepFaults.h"
#include "tests/support/NetTestSupport.h"
#include "mailmodel/store/MailStore.h"
#include "mailmodel/store/MailboxCache.h"
#include "mailmodel/store/StagedBody.h"

namespace quorvex {
namespace {

using testing::MailDataTest;

std::int32_t Int32At(const std::string& bytes, std::size_t offset) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[offset + static_cast<std::size_t>(i)]);
    return static_cast<std::int32_t>(v);
}
std::uint16_t Int16At(const std::string& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[offset]) |
                                      static_cast<unsigned char>(bytes[offset + 1]) << 8);
}

std::string Xor(std::string bytes, std::uint8_t key) {
    for (char& c : bytes) c = static_cast<char>(c ^ key);
    return bytes;
}

class MailStoreTest : public MailDataTest {
protected:
    void SetUp() override {
        MailDataTest::SetUp();
        folder_ = MakeAccount("alice");
    }
    std::string Index() const { return ReadFile(JoinPath(folder_, "mailinfo.dat")); }
    bool Store(const std::string& body, int folder = 0, bool scramble = false, std::string* uid = nullptr) {
        return AddMessageToMailbox("alice", WriteMessage("in.eml", body), uid, folder, scramble, false);
    }
    MailboxSnapshot Load(const char* account = "alice") {
        MailboxSnapshot s;
        EXPECT_TRUE(LoadMailboxIndexLocked(account, s));
        return s;
    }
    std::vector<std::int32_t> FileNumbers(const MailboxSnapshot& s) {
        std::vector<std::int32_t> out;
        for (const auto& r : s.Records) out.push_back(r.FileNumber);
        return out;
    }
    std::string folder_;
};

TEST_F(MailStoreTest, NewIndexHasTheFixedHeaderAndNoRecords) {
    EXPECT_EQ(GetMailboxMessageCount("alice"), 0);
    const std::string bytes = Index();
    ASSERT_EQ(bytes.size(), 21520u);
    EXPECT_EQ(Int32At(bytes, 0), 1);
    for (std::size_t offset : {4u, 8u, 12u}) EXPECT_EQ(Int32At(bytes, offset), 0);
    for (int k = 0; k < 2; ++k) {
        const std::size_t slot = 16 + 84 * static_cast<std::size_t>(k);
        EXPECT_EQ(Int16At(bytes, slot + 74), k);
        EXPECT_EQ(Int16At(bytes, slot + 76), 1);
        EXPECT_EQ(Int16At(bytes, slot + 78), 0xFFFF);
    }
    std::string stamped = bytes;
    for (int k = 0; k < 2; ++k) std::memset(stamped.data() + 16 + 84 * k + 74, 0, 6);
    std::memset(stamped.data(), 0, 4);
    EXPECT_EQ(stamped, std::string(21520, '\0'));
}

TEST_F(MailStoreTest, FirstMessageGetsNumberOneAndScrambledBody) {
    const std::string body = "Subject: hi\r\n\r\nHello\r\n";
    std::string uid;
    ASSERT_TRUE(Store(body, 0, true, &uid));
    EXPECT_EQ(uid, "1");
    const std::string bytes = Index();
    ASSERT_EQ(bytes.size(), 21520u + 36u);
    EXPECT_EQ(Int32At(bytes, 4), 1);   // RecordCount
    EXPECT_EQ(Int32At(bytes, 8), 1);   // LastUid
    EXPECT_EQ(Int32At(bytes, 12), 1);  // LastFileNumber
    EXPECT_EQ(Int32At(bytes, 16), 1);  // folder 0 count
    EXPECT_EQ(Int32At(bytes, 20), static_cast<std::int32_t>(body.size()));
    EXPECT_EQ(Int32At(bytes, 21520), 0);      // Slot
    EXPECT_EQ(Int32At(bytes, 21520 + 4), 0);  // Position
    EXPECT_EQ(Int32At(bytes, 21520 + 8), 1);  // FileNumber
    EXPECT_EQ(Int32At(bytes, 21520 + 12), 1); // Uid
    EXPECT_EQ(ReadFile(JoinPath(folder_, "1.eml")), Xor(body, MailStoreKey("alice")));
    EXPECT_EQ(GetMailboxTotalSize("alice"), static_cast<std::int64_t>(body.size()));

    std::string kept = "already";
    ASSERT_TRUE(Store("x", 1, false, &kept));
    EXPECT_EQ(kept, "already");
    const MailboxSnapshot s = Load();
    EXPECT_EQ(s.Counts[0], 1);
    EXPECT_EQ(s.Counts[1], 1);
    EXPECT_EQ(s.Records[1].Folder, 1);
    EXPECT_EQ(ReadFile(JoinPath(folder_, "2.eml")), "x");
}

TEST_F(MailStoreTest, DeletedSlotIsReusedButNumbersNeverAre) {
    for (const char* body : {"one", "two", "three"}) ASSERT_TRUE(Store(body));
    MailboxSnapshot s = Load();
    s.Records[2].Changes = kChangeDelete;
    ASSERT_TRUE(ApplyMailboxChanges("alice", s));
    EXPECT_FALSE(FileExists(JoinPath(folder_, "3.eml")));
    const std::string freed = Index();
    EXPECT_EQ(Int32At(freed, 21520 + 72 + 4), -1);      // Position
    EXPECT_EQ(Int32At(freed, 21520 + 72 + 8), 3);       // FileNumber kept
    EXPECT_EQ(Int16At(freed, 21520 + 72 + 24), 2);      // Changes kept on disk
    ASSERT_TRUE(Store("four"));
    const std::string bytes = Index();
    EXPECT_EQ(Int32At(bytes, 4), 3);  // no growth: the free slot was reused
    EXPECT_EQ(Int32At(bytes, 21520 + 72 + 8), 4);
    EXPECT_EQ(Int32At(bytes, 21520 + 72 + 12), 4);
    EXPECT_EQ(ReadFile(JoinPath(folder_, "4.eml")), "four");
}

TEST_F(MailStoreTest, StaleCommitKeepsMessagesStoredAfterTheLoad) {
    for (const char* body : {"first", "second", "third"}) ASSERT_TRUE(Store(body));
    MailboxSnapshot pop = Load();
    pop.Records[1].Changes = kChangeDelete;
    ASSERT_TRUE(Store("fourth"));
    ASSERT_TRUE(ApplyMailboxChanges("alice", pop));
    MailboxSnapshot after = Load();
    EXPECT_EQ(after.Counts[0], 3);
    EXPECT_EQ(FileNumbers(after), (std::vector<std::int32_t>{1, 3, 4}));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(after.Records[static_cast<std::size_t>(i)].Position, i);
    EXPECT_FALSE(FileExists(JoinPath(folder_, "2.eml")));
    EXPECT_EQ(GetMailboxTotalSize("alice"), 5 + 5 + 6);

    // The same stale copy again: the deleted message is passed over.
    ASSERT_TRUE(ApplyMailboxChanges("alice", pop));
    EXPECT_EQ(FileNumbers(Load()), (std::vector<std::int32_t>{1, 3, 4}));
}

TEST_F(MailStoreTest, MovesGoToTheEndOfTheTargetFolderWithTheirBytes) {
    ASSERT_TRUE(Store("aaaa"));
    ASSERT_TRUE(Store("bb"));
    ASSERT_TRUE(Store("in-folder-one", 1));
    MailboxSnapshot s = Load();
    s.Records[0].Changes = kChangeMove | kChangeDelete;  // 6 is a move, not a delete
    s.Records[0].MoveTarget = 1;
    s.Records[0].Marks = 7;
    s.Records[1].Changes = kChangeMove;
    s.Records[1].MoveTarget = 9;  // no such folder: ignored
    ASSERT_TRUE(ApplyMailboxChanges("alice", s));
    const MailboxSnapshot after = Load();
    EXPECT_EQ(after.Counts[0], 1);
    EXPECT_EQ(after.Counts[1], 2);
    EXPECT_EQ(after.Totals[0], 2);
    EXPECT_EQ(after.Totals[1], 13 + 4);
    EXPECT_EQ(FileNumbers(after), (std::vector<std::int32_t>{2, 3, 1}));
    EXPECT_EQ(after.Records[2].Marks, 7);
    EXPECT_EQ(after.Records[2].Position, 1);
    EXPECT_TRUE(FileExists(JoinPath(folder_, "1.eml")));
}

// Writes an index with `used` messages in folder 0 whose records are valid,
// and a (sparse) body of the recorded size for each one that has none.
void WriteCraftedIndex(const std::string& folder, int used, std::int32_t size_each,
                       const std::function<void(MailboxRecord&)>& change = nullptr) {
    for (int i = 1; i <= used; ++i) {
        const std::string body = JoinPath(folder, std::to_string(i) + ".eml");
        const int fd = ::open(body.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) continue;
        EXPECT_EQ(::ftruncate(fd, size_each), 0);
        ::close(fd);
    }
    MailboxIndexFile index;
    for (int i = 0; i < used; ++i) {
        MailboxRecord r;
        r.Slot = i;
        r.Position = i;
        r.FileNumber = i + 1;
        r.Uid = static_cast<std::uint32_t>(i + 1);
        r.Size = size_each;
        if (change) change(r);
        index.slots.push_back(r);
    }
    index.header.SetRecordCount(used);
    index.header.SetLastUid(used);
    index.header.SetLastFileNumber(used);
    index.header.SetMessageCount(0, used);
    index.header.SetTotalBytes(0, used * size_each);
    ASSERT_TRUE(AtomicWriteFile(JoinPath(folder, "mailinfo.dat"), index.Encode()));
}

TEST_F(MailStoreTest, FullMailboxRefusesUntilASlotIsFreed) {
    WriteCraftedIndex(folder_, kMaxMailboxRecords, 1);
    EXPECT_FALSE(Store("no room"));
    MailboxSnapshot s = Load();
    ASSERT_EQ(s.Counts[0], kMaxMailboxRecords);
    s.Records[5].Changes = kChangeDelete;
    ASSERT_TRUE(ApplyMailboxChanges("alice", s));
    ASSERT_TRUE(Store("room"));
    const std::string bytes = Index();
    EXPECT_EQ(Int32At(bytes, 4), kMaxMailboxRecords);
    EXPECT_EQ(Int32At(bytes, 21520 + 36 * 5 + 8), kMaxMailboxRecords + 1);
}

TEST_F(MailStoreTest, TotalsThatWouldPassThirtyTwoBitsAreAFullMailbox) {
    WriteCraftedIndex(folder_, 2, INT32_MAX / 2 - 1);
    EXPECT_FALSE(Store(std::string(10, 'x')));
    EXPECT_TRUE(Store(std::string(10, 'x'), 1));  // the other folder still has room
    EXPECT_EQ(GetMailboxTotalSize("alice"), 2 * static_cast<std::int64_t>(INT32_MAX / 2 - 1) + 10);
}

// Stores arriving at once share index rewrites; each still gets its own
// numbers, its own body and its own place in the folder.
TEST_F(MailStoreTest, StoresAtOnceKeepEveryBodyWithItsRecord) {
    constexpr int kThreads = 12;
    constexpr int kEach = 15;
    std::mutex mutex;
    std::map<std::uint32_t, std::string> by_uid;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const std::string body = "thread " + std::to_string(t) + " message " + std::to_string(i) + "\r\n";
                const std::string source = WriteMessage("src" + std::to_string(t), body);
                std::string uid;
                EXPECT_TRUE(AddMessageToMailbox("alice", source, &uid, 0, t % 2 == 0, false));
                std::lock_guard lock(mutex);
                EXPECT_TRUE(by_uid.emplace(static_cast<std::uint32_t>(std::stoul(uid)), body).second) << uid;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    ASSERT_EQ(by_uid.size(), static_cast<std::size_t>(kThreads * kEach));
    const MailboxSnapshot s = Load();
    ASSERT_EQ(s.Counts[0], kThreads * kEach);
    std::int64_t total = 0;
    for (std::size_t i = 0; i < s.Records.size(); ++i) {
        const MailboxRecord& r = s.Records[i];
        EXPECT_EQ(r.Position, static_cast<std::int32_t>(i));
        const std::string stored = ReadFile(JoinPath(folder_, std::to_string(r.FileNumber) + ".eml"));
        const std::string& sent = by_uid[r.Uid];
        EXPECT_TRUE(stored == sent || Xor(stored, MailStoreKey("alice")) == sent) << r.Uid;
        EXPECT_EQ(r.Size, static_cast<std::int32_t>(sent.size()));
        total += r.Size;
    }
    EXPECT_EQ(GetMailboxTotalSize("alice"), total);
}

// The store keeps the index it last read or wrote; one replaced by another
// writer (another process) is read again, never overwritten from memory.
TEST_F(MailStoreTest, AnIndexReplacedByAnotherWriterIsReadAgain) {
    ASSERT_TRUE(Store("one"));
    ASSERT_TRUE(Store("two"));
    WriteCraftedIndex(folder_, 3, 10);  // bodies 1 and 2 are 3 bytes: their sizes come from the files
    EXPECT_EQ(Load().Counts[0], 3);
    EXPECT_EQ(GetMailboxTotalSize("alice"), 16);
    ASSERT_TRUE(Store("four"));
    const MailboxSnapshot s = Load();
    ASSERT_EQ(s.Counts[0], 4);
    EXPECT_EQ(s.Records[3].FileNumber, 4);
    EXPECT_EQ(s.Records[3].Uid, 1026u);  // after the UIDs kept ahead beside the index, never one given before
    EXPECT_EQ(GetMailboxTotalSize("alice"), 20);
}

TEST_F(MailStoreTest, DamagedIndexesAreRefusedAndLeftAlone) {
    ASSERT_TRUE(Store("one"));
    ASSERT_TRUE(Store("two"));
    const std::string good = Index();
    const auto with_int = [&](std::size_t offset, std::int32_t v) {
        std::string bytes = good;
        for (int i = 0; i < 4; ++i) bytes[offset + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
        return bytes;
    };
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"short header", good.substr(0, 100)},
        {"cut record", good.substr(0, good.size() - 10)},
        {"record count over the file", with_int(4, 3)},
        {"record count over the limit", with_int(4, 20000)},
        {"negative record count", with_int(4, -1)},
        {"position out of range", with_int(21520 + 36 + 4, 5)},
        {"position repeated", with_int(21520 + 36 + 4, 0)},
        {"folder count too high", with_int(16, 3)},
        {"byte total wrong", with_int(20, 999)},
        {"folder out of range", with_int(21520 + 20, 0x00050000)},
    };
    testing::ErrorLogCapture log(home_.path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(JoinPath(folder_, "mailinfo.dat"), c.bytes);
        log.Clear();
        MailboxSnapshot s;
        EXPECT_FALSE(LoadMailboxIndexLocked("alice", s));
        ASSERT_FALSE(log.Texts().empty());
        EXPECT_NE(log.Texts().front().find("damaged mailbox index"), std::string::npos) << log.Texts().front();
        EXPECT_FALSE(Store("three"));
        EXPECT_EQ(GetMailboxMessageCount("alice"), 0);
        EXPECT_EQ(Index(), c.bytes);
    }
}

TEST_F(MailStoreTest, NamesThatCouldLeaveTheMailFolderAreRefused) {
    const std::string message = WriteMessage("m.eml", "x");
    MakeFolders(home_.File("x"));
    for (const std::string& name : std::vector<std::string>{"../x", "a/b", "", "..", std::string(77, 'n'), "a\nb"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(AddMessageToMailbox(name, message, nullptr, 0, false, false));
        MailboxSnapshot s;
        EXPECT_FALSE(LoadMailboxIndexLocked(name, s));
        EXPECT_FALSE(GetMailFilePath(name, 1));
    }
    EXPECT_FALSE(FileExists(home_.File("x/mailinfo.dat")));
    EXPECT_FALSE(AddMessageToMailbox("alice", message, nullptr, 2, false, false));
    EXPECT_FALSE(AddMessageToMailbox("alice", home_.File("missing.eml"), nullptr, 0, false, false));
}

TEST_F(MailStoreTest, AnySpellingOfANameReachesTheStoredFolder) {
    const std::string mixed = MakeAccount("Bob.Smith");
    ASSERT_TRUE(AddMessageToMailbox("BOB.SMITH", WriteMessage("m.eml", "hi"), nullptr, 0, true, false));
    EXPECT_EQ(ReadFile(JoinPath(mixed, "1.eml")), Xor("hi", MailStoreKey("bob.smith")));
    EXPECT_EQ(GetMailboxMessageCount("bob.smith"), 1);
    EXPECT_EQ(MailStoreKey("BOB.SMITH"), MailStoreKey("Bob.Smith"));
    EXPECT_EQ(*GetMailFilePath("bob.SMITH", 12), JoinPath(mixed, "12.eml"));
}

TEST_F(MailStoreTest, UidTextsAndScrambledCopies) {
    EXPECT_EQ(FormatMailUid("alice", 17), "alice.example.test.quorvexserver.17");
    EXPECT_EQ(ParseUidNumber(FormatMailUid("alice", 17)), 17u);
    EXPECT_EQ(ParseUidNumber("no-dot"), 0u);
    EXPECT_EQ(ParseUidNumber("a. 42x"), 42u);
    EXPECT_EQ(MailStoreKey("ab"), static_cast<std::uint8_t>(('a' + 'b') % 256));

    std::string source(10000, '\0');
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<char>(i * 7);
    const std::string in = WriteMessage("src.bin", source);
    ASSERT_TRUE(ScrambleCopyFile(in, home_.File("once"), 0x5a));
    EXPECT_EQ(ReadFile(home_.File("once")), Xor(source, 0x5a));
    ASSERT_TRUE(ScrambleCopyFile(home_.File("once"), home_.File("twice"), 0x5a));
    EXPECT_EQ(ReadFile(home_.File("twice")), source);
    EXPECT_FALSE(ScrambleCopyFile(home_.File("absent"), home_.File("x"), 1));
    EXPECT_FALSE(ScrambleCopyFile(in, home_.File("no/such/folder"), 1));
}

TEST_F(MailStoreTest, RebuildStoresTheBackFolderOldestFirst) {
    const std::string back = JoinPath(folder_, "back");
    MakeFolders(back);
    const struct {
        const char* name;
        const char* body;
        long age;
    } files[] = {{"b.eml", "middle", 200}, {"a.eml", "newest", 100}, {"c.eml", "oldest", 300}, {"d.txt", "skip", 400}};
    for (const auto& f : files) {
        const std::string path = JoinPath(back, f.name);
        WriteFile(path, f.body);
        const timespec times[2] = {{time(nullptr) - f.age, 0}, {time(nullptr) - f.age, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    ASSERT_TRUE(Store("already"));
    ASSERT_TRUE(RestoreBackupMails("alice"));
    const MailboxSnapshot s = Load();
    ASSERT_EQ(s.Counts[0], 4);
    EXPECT_EQ(ReadFile(JoinPath(folder_, "2.eml")), "oldest");
    EXPECT_EQ(ReadFile(JoinPath(folder_, "3.eml")), "middle");
    EXPECT_EQ(ReadFile(JoinPath(folder_, "4.eml")), "newest");
    EXPECT_EQ(s.Records[1].Marks, 1);  // stored as read
    EXPECT_TRUE(FileExists(JoinPath(back, "a.eml")));
}

// A damaged index refuses every store, so the rebuild is the way back:
// it sets the damaged file aside, starts an index that lists the bodies
// already there, and stores the back folder.
TEST_F(MailStoreTest, RebuildRecoversADamagedIndex) {
    ASSERT_TRUE(Store("one"));
    ASSERT_TRUE(Store("two"));
    const std::string damaged = Index().substr(0, 100);
    WriteFile(JoinPath(folder_, "mailinfo.dat"), damaged);
    testing::ErrorLogCapture log(home_.path());
    ASSERT_FALSE(Store("refused"));
    const std::string back = JoinPath(folder_, "back");
    MakeFolders(back);
    WriteFile(JoinPath(back, "saved.eml"), "saved");
    ASSERT_TRUE(RestoreBackupMails("alice"));
    const MailboxSnapshot s = Load();
    EXPECT_EQ(FileNumbers(s), (std::vector<std::int32_t>{1, 2, 3}));
    EXPECT_EQ(s.Records[2].Uid, 1028u);  // the bodies listed anew took 1026 and 1027
    EXPECT_EQ(ReadFile(JoinPath(folder_, "3.eml")), "saved");
    EXPECT_EQ(ReadFile(JoinPath(folder_, "1.eml")), "one");  // nothing overwritten
    EXPECT_EQ(ReadFile(JoinPath(folder_, "2.eml")), "two");
    EXPECT_EQ(ReadFile(JoinPath(folder_, "mailinfo.dat.damaged")), damaged);
    ASSERT_TRUE(Store("after"));
    EXPECT_EQ(GetMailboxMessageCount("alice"), 4);
    // A sound index is left as it is: the rebuild only adds.
    ASSERT_TRUE(RestoreBackupMails("alice"));
    EXPECT_EQ(GetMailboxMessageCount("alice"), 5);
    EXPECT_EQ(ReadFile(JoinPath(folder_, "mailinfo.dat.damaged")), damaged);
    WriteFile(JoinPath(folder_, "mailinfo.dat"), "second damage");
    ASSERT_TRUE(RestoreBackupMails("alice"));
    EXPECT_EQ(ReadFile(JoinPath(folder_, "mailinfo.dat.damaged")), damaged);
    EXPECT_EQ(ReadFile(JoinPath(folder_, "mailinfo.dat.damaged.2")), "second damage");
}

// Bodies staged by a writer that was killed are removed when the mailbox
// is next stored into; a young one, or one whose writer still holds its
// lock, stays.
TEST_F(MailStoreTest, StoreRemovesStagedBodiesOfKilledWriters) {
    const auto staged = [&](const char* name, long age) {
        const std::string path = JoinPath(folder_, name);
        WriteFile(path, "partial");
        const timespec times[2] = {{time(nullptr) - age, 0}, {time(nullptr) - age, 0}};
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        return path;
    };
    const std::string dead = staged(".incoming-dead01", 3600);
    const std::string young = staged(".incoming-young1", 0);
    const std::string held = staged(".incoming-held01", 3600);
    const int fd = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    testing::ErrorLogCapture log(home_.path());
    ASSERT_TRUE(Store("new"));
    ::close(fd);
    EXPECT_FALSE(FileExists(dead));
    EXPECT_TRUE(FileExists(young));
    EXPECT_TRUE(FileExists(held));
    EXPECT_EQ(ReadFile(JoinPath(folder_, "1.eml")), "new");
    // The store's own staged body is gone too.
    int left = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder_))
        if (entry.path().filename().string().rfind(".incoming-", 0) == 0) ++left;
    EXPECT_EQ(left, 2);
}

std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename());
    return names;
}

// A body is written and flushed under a staging name and renamed to its
// number; the index that lists it is flushed before it takes its place, and
// one flush of the folder after it makes both names durable. Whichever step
// of a store fails, the store says so, the mailbox lists what it listed
// and no file is left behind.
TEST_F(MailStoreTest, BodyIsFlushedBeforeTheIndexAndFailedStepsLeaveNothing) {
    ASSERT_TRUE(Store("first"));
    const testing::StepTrace steps = testing::TraceSteps([&] { ASSERT_TRUE(Store("second")); });
    const std::size_t body_named = testing::StepAt(steps, fs::Step::kRename, "2.eml");
    const std::size_t index_named = testing::StepAt(steps, fs::Step::kRename, "mailinfo.dat");
    EXPECT_LT(testing::StepAt(steps, fs::Step::kSync, ".incoming-"), body_named);
    EXPECT_LT(body_named, testing::StepAt(steps, fs::Step::kSync, "mailinfo.dat.tmp-"));
    EXPECT_LT(testing::StepAt(steps, fs::Step::kSync, "mailinfo.dat.tmp-"), index_named);
    EXPECT_EQ(testing::StepAt(steps, fs::Step::kSyncFolder, "alice"), index_named + 1);
    EXPECT_EQ(index_named + 2, steps.size());
    const std::string index = Index();
    const std::set<std::string> names = Names(folder_);
    for (std::size_t n = 0; n < steps.size(); ++n) {
        SCOPED_TRACE(std::string(fs::StepName(steps[n].first)) + " " + steps[n].second);
        EXPECT_FALSE(testing::WithStepFailing(n, [&] { return Store("third"); }));
        // A failed flush of the folder takes the listed message back out.
        if (n <= index_named) {
            EXPECT_EQ(Index(), index);
        }
        EXPECT_EQ(FileNumbers(Load()), (std::vector<std::int32_t>{1, 2}));
        EXPECT_EQ(Names(folder_), names);
    }
    std::string uid;
    ASSERT_TRUE(Store("third", 0, false, &uid));
    const MailboxSnapshot s = Load();
    ASSERT_EQ(s.Records.size(), 3u);
    EXPECT_EQ(std::to_string(s.Records[2].Uid), uid);
    EXPECT_EQ(ReadFile(JoinPath(folder_, std::to_string(s.Records[2].FileNumber) + ".eml")), "third");

    // The folder flush fails and so does the index that would take the
    // message back out: it stays listed with its body, and the store fails.
    bool flush_failed = false;
    {
        fs::ScopedStepWatcher watch([&](fs::Step step, std::string_view path) {
            if (step == fs::Step::kSyncFolder) flush_failed = true;
            return flush_failed && (step == fs::Step::kSyncFolder || BaseName(path).starts_with("mailinfo.dat.tmp-")) ? EIO : 0;
        });
        EXPECT_FALSE(Store("fourth"));
    }
    const MailboxSnapshot kept = Load();
    ASSERT_EQ(kept.Records.size(), 4u);
    EXPECT_EQ(ReadFile(JoinPath(folder_, std::to_string(kept.Records[3].FileNumber) + ".eml")), "fourth");
}

// The copies of one message for several mailboxes: every new index is
// written and flushed before the first is renamed into place. Whichever
// step fails, the commit says so and no mailbox lists the message; up to
// the first rename no index has changed.
TEST_F(MailStoreTest, CopiesForSeveralMailboxesAreListedTogetherOrNotAtAll) {
    const std::string bob = JoinPath(MakeAccount("bob"), "mailinfo.dat");
    ASSERT_TRUE(Store("first"));
    ASSERT_TRUE(AddMessageTextToMailbox("bob", "first", nullptr, 0, false, false));
    const auto commit = [] {
        MailboxCopies copies;
        return copies.StageText("alice", "copy", 0, false, false) && copies.StageText("bob", "copy", 0, false, false) &&
               copies.StageText("alice", "sent", 1, false, true) && copies.Commit();
    };
    const testing::StepTrace steps = testing::TraceSteps([&] { ASSERT_TRUE(commit()); });
    std::size_t last_flush = 0;
    std::vector<std::size_t> renames;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (steps[i].first == fs::Step::kSync && steps[i].second.starts_with("mailinfo.dat.tmp-")) last_flush = i;
        if (steps[i].first == fs::Step::kRename && steps[i].second == "mailinfo.dat") renames.push_back(i);
    }
    ASSERT_EQ(renames.size(), 2u);
    EXPECT_LT(last_flush, renames.front());
    // Then each folder is flushed.
    EXPECT_EQ(std::count_if(steps.begin() + static_cast<std::ptrdiff_t>(renames.back()), steps.end(),
                            [](const auto& step) { return step.first == fs::Step::kSyncFolder; }),
              2);
    const std::string alice_index = Index();
    const std::string bob_index = ReadFile(bob);
    const std::set<std::string> names = Names(folder_);
    for (std::size_t n = 0; n < steps.size(); ++n) {
        SCOPED_TRACE(std::string(fs::StepName(steps[n].first)) + " " + steps[n].second);
        EXPECT_FALSE(testing::WithStepFailing(n, commit));
        if (n < renames.front()) {
            EXPECT_EQ(Index(), alice_index);
            EXPECT_EQ(ReadFile(bob), bob_index);
        }
        EXPECT_EQ(GetMailboxMessageCount("alice"), 3);
        EXPECT_EQ(GetMailboxMessageCount("bob"), 2);
        EXPECT_EQ(Names(folder_), names);
    }
}

// Stores queued at once share one index rewrite, each whole or not at all:
// a delivery whose second copy does not fit leaves nothing in the index
// for the delivery after it in the same commit.
TEST_F(MailStoreTest, ADeliveryThatDoesNotFitLeavesTheRestOfItsBatch) {
    WriteCraftedIndex(folder_, kMaxMailboxRecords - 1, 1);
    store::Mailbox& box = store::MailboxOf("alice");
    const auto queued = [&](std::size_t n) {
        return testing::WaitUntil([&] {
            std::lock_guard queue(box.queue_lock);
            return box.pending.size() == n;
        }, std::chrono::seconds(10));
    };
    std::future<bool> both, one;
    {
        std::lock_guard busy(MailStoreLock("alice"));
        both = std::async(std::launch::async, [] {
            MailboxCopies copies;
            return copies.StageText("alice", "a", 0, false, false) && copies.StageText("alice", "b", 1, false, false) &&
                   copies.Commit();
        });
        ASSERT_TRUE(queued(1));
        one = std::async(std::launch::async, [] { return AddMessageTextToMailbox("alice", "c", nullptr, 0, false, false); });
        ASSERT_TRUE(queued(2));
    }
    EXPECT_FALSE(both.get());
    EXPECT_TRUE(one.get());
    const MailboxSnapshot s = Load();
    ASSERT_EQ(s.Records.size(), static_cast<std::size_t>(kMaxMailboxRecords));
    const auto newest = std::max_element(s.Records.begin(), s.Records.end(),
                                         [](const auto& a, const auto& b) { return a.FileNumber < b.FileNumber; });
    EXPECT_EQ(ReadFile(JoinPath(folder_, std::to_string(newest->FileNumber) + ".eml")), "c");
}

// A body is staged as a file without a name; where the file system has
// none, under a staging name instead (any other failure to make the file
// is a row of the failed-steps table above).
TEST_F(MailStoreTest, BodiesAreStagedUnderANameWhereUnnamedFilesAreMissing) {
    for (const int error : {EOPNOTSUPP, EISDIR}) {
        SCOPED_TRACE(error);
        const int before = GetMailboxMessageCount("alice");
        int creates = 0;
        {
            fs::ScopedStepWatcher watch([&](fs::Step step, std::string_view path) {
                if (step != fs::Step::kCreate || !BaseName(path).starts_with(".incoming-")) return 0;
                return creates++ == 0 ? error : 0;
            });
            EXPECT_TRUE(Store("named"));
        }
        EXPECT_EQ(creates, 2);
        const MailboxSnapshot s = Load();
        ASSERT_EQ(s.Records.size(), static_cast<std::size_t>(before + 1));
        EXPECT_EQ(ReadFile(JoinPath(folder_, std::to_string(s.Records.back().FileNumber) + ".eml")), "named");
        for (const std::string& name : Names(folder_)) EXPECT_FALSE(name.starts_with(".incoming-")) << name;
    }
}

// The totals a quota check reads are the last committed ones: a commit in
// flight (here the mailbox's lock, held) is not waited for.
TEST_F(MailStoreTest, TotalsDoNotWaitForACommitInFlight) {
    ASSERT_TRUE(Store("12345"));
    std::future<std::optional<MailboxTotals>> totals;
    bool answered = false;
    {
        std::lock_guard busy(MailStoreLock("alice"));
        totals = std::async(std::launch::async, [] { return ReadMailboxTotals("alice"); });
        answered = totals.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    }
    ASSERT_TRUE(answered);
    EXPECT_EQ(totals.get()->bytes, 5);
}

// Bytes held for a delivery under way count against the quota until its
// copies are committed or given up. Room that only another delivery's
// holds take is refused for now (it may come free), room that the
// committed bytes and the delivery's own holds take for good.
TEST_F(MailStoreTest, DeliveriesAtOnceNeverPassTheQuotaTogether) {
    ASSERT_TRUE(Store("12345"));
    MailboxCopies first;
    ASSERT_EQ(first.Reserve("alice", 50, 100), MailboxHold::kHeld);
    {
        MailboxCopies second;
        EXPECT_EQ(second.Reserve("alice", 50, 100), MailboxHold::kBusy);
        EXPECT_EQ(second.Reserve("alice", 96, 100), MailboxHold::kNoRoom);
        EXPECT_EQ(second.Reserve("alice", 45, 100), MailboxHold::kHeld);
    }
    ASSERT_TRUE(first.StageText("alice", std::string(50, 'x'), 0, false, false));
    ASSERT_TRUE(first.Commit());
    MailboxCopies third;
    EXPECT_EQ(third.Reserve("alice", 45, 100), MailboxHold::kHeld);
    EXPECT_EQ(third.Reserve("alice", 1, 100), MailboxHold::kNoRoom);
}

// When this process first opens a mailbox, index copies interrupted
// writers left are removed and never a numbered body: every body the index
// does not list (a store whose index was lost, an older index put back) is
// listed, with a new UID. A folder with messages of the old list format
// waiting to be moved in lists none of them.
TEST_F(MailStoreTest, FirstOpenRemovesWhatInterruptedWritersLeft) {
    const struct {
        const char* account;
        const char* extra;
        std::vector<std::int32_t> listed;
        std::vector<std::uint32_t> uids;
    } cases[] = {
        {"plain", "", {1, 3, 2, 4, 6}, {1, 3, 6, 7, 8}},
        {"damaged", "mailinfo.dat.damaged", {1, 3, 2, 4, 6}, {1, 3, 6, 7, 8}},
        {"upgrading", "maillist.ini", {1, 3}, {1, 3}},
    };
    testing::ErrorLogCapture log(home_.path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.account);
        const std::string folder = MakeAccount(c.account);
        MailboxIndexFile index;
        for (const std::int32_t number : {1, 2, 3}) {
            MailboxRecord r;
            r.Slot = static_cast<std::int32_t>(index.slots.size());
            r.Position = number == 2 ? -1 : number / 2;
            r.FileNumber = number;
            r.Uid = static_cast<std::uint32_t>(number);
            index.slots.push_back(r);
        }
        index.header.SetRecordCount(3);
        index.header.SetMessageCount(0, 2);
        index.header.SetLastUid(5);
        index.header.SetLastFileNumber(5);
        std::set<std::string> left{"mailinfo.dat", "mailinfo.uid", "mailinfo.spare"};
        for (const char* name : {"1.eml", "2.eml", "3.eml", "4.eml", "6.eml", "007.eml"}) {
            WriteFile(JoinPath(folder, name), "");
            left.insert(name);
        }
        WriteFile(JoinPath(folder, "mailinfo.dat.tmp-Ab12Cd"), "");
        if (std::string(c.extra) == "maillist.ini") {
            WriteFile(JoinPath(folder, c.extra), "[List]\r\nMailCount=1\r\nmail1=2\r\n");
        } else if (*c.extra != '\0') {
            WriteFile(JoinPath(folder, c.extra), "x");
        }
        if (*c.extra != '\0') left.insert(c.extra);
        ASSERT_TRUE(AtomicWriteFile(JoinPath(folder, "mailinfo.dat"), index.Encode()));
        MailboxSnapshot s;
        ASSERT_TRUE(LoadMailboxIndexLocked(c.account, s));
        EXPECT_EQ(Names(folder), left);
        EXPECT_EQ(FileNumbers(s), c.listed);
        std::vector<std::uint32_t> uids;
        for (const auto& r : s.Records) uids.push_back(r.Uid);
        EXPECT_EQ(uids, c.uids);
    }
    const auto texts = log.Texts();
    ASSERT_EQ(texts.size(), 5u);
    EXPECT_NE(texts[0].find("leftover files of interrupted stores and commits removed from "), std::string::npos);
    EXPECT_EQ(texts[0].substr(texts[0].size() - 3), ": 1");
    EXPECT_NE(texts[1].find("message files the index did not list listed in "), std::string::npos);
    EXPECT_EQ(texts[1].substr(texts[1].size() - 3), ": 3");
}

// A mailbox whose index is gone keeps its mail: a new index lists the bodies
// found (not those of the old list format, which wait for the upgrade, nor
// one still being stored), and a new body takes a number no file has.
TEST_F(MailStoreTest, FirstOpenWithoutAnIndexListsTheBodiesFound) {
    const struct {
        const char* account;
        const char* settings;
        std::vector<std::int32_t> listed;
        std::vector<std::uint32_t> uids;
    } cases[] = {{"restored", "", {1, 2, 5, 8}, {1, 2, 3, 4}}, {"upgrading", "[List]\r\nMailCount=1\r\n", {8}, {1}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.account);
        const std::string folder = MakeAccount(c.account);
        WriteFile(JoinPath(folder, "maillist.ini"), c.settings);
        for (const char* name : {"1.eml", "2.eml", "5.eml"}) WriteFile(JoinPath(folder, name), "old");
        MakeFolders(JoinPath(folder, "7.eml"));
        ASSERT_TRUE(AddMessageTextToMailbox(c.account, "new", nullptr, 0, false, false));
        MailboxSnapshot s;
        ASSERT_TRUE(LoadMailboxIndexLocked(c.account, s));
        EXPECT_EQ(FileNumbers(s), c.listed);
        std::vector<std::uint32_t> uids;
        for (const auto& r : s.Records) {
            uids.push_back(r.Uid);
            EXPECT_TRUE(FileExists(JoinPath(folder, std::to_string(r.FileNumber) + ".eml"))) << r.FileNumber;
        }
        EXPECT_EQ(uids, c.uids);
        EXPECT_EQ(s.Totals[0], 3 * static_cast<std::int32_t>(c.listed.size()));
    }
    ASSERT_TRUE(Store("one"));
    store::StagedBody coming;  // staged, not committed: never listed
    ASSERT_TRUE(coming.Write(folder_, {"coming", nullptr}, 0));
    ASSERT_EQ(::unlink(JoinPath(folder_, "mailinfo.dat").c_str()), 0);
    EXPECT_EQ(FileNumbers(Load()), (std::vector<std::int32_t>{1}));
    // A body another writer put under the next number is never overwritten.
    WriteFile(JoinPath(folder_, "2.eml"), "other writer");
    ASSERT_TRUE(Store("two"));
    EXPECT_EQ(ReadFile(JoinPath(folder_, "2.eml")), "other writer");
    EXPECT_EQ(ReadFile(JoinPath(folder_, "3.eml")), "two");
}

// Changes (40 deletions, a move, a mark; one message left alone) reach their messages by body number and
// UID wherever an index rewritten under the session put them; none do when it lists the bodies under new
// UIDs, and nothing is committed. A rebuild from the bodies does one or the other, never part.
TEST_F(MailStoreTest, ChangesReachTheirMessagesWhereverTheIndexPutsThem) {
    const struct {
        const char* account;
        std::function<void(MailboxRecord&)> rewrite;  // none: the index is removed and rebuilt
        std::optional<bool> committed;               // none: either
    } cases[] = {
        {"reordered", [](MailboxRecord& r) { r.Position = 42 - r.Position; }, true},
        {"new-uids", [](MailboxRecord& r) { r.Uid += 100; }, false},
        {"rebuilt", nullptr, std::nullopt},
    };
    testing::ErrorLogCapture log(home_.path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.account);
        const std::string folder = MakeAccount(c.account);
        for (int i = 0; i < 43; ++i) ASSERT_TRUE(AddMessageTextToMailbox(c.account, "m", nullptr, 0, false, false));
        MailboxSnapshot s = Load(c.account);
        for (int i = 0; i < 40; ++i) s.Records[static_cast<std::size_t>(i)].Changes = kChangeDelete;
        s.Records[40] = {40, 40, 41, 41, 1, 0, 0, kChangeMove, 1};
        s.Records[41] = {41, 41, 42, 42, 1, 5, 0, kChangeMarks};
        c.rewrite ? WriteCraftedIndex(folder, 43, 1, c.rewrite) : void(::unlink(JoinPath(folder, "mailinfo.dat").c_str()));
        const bool committed = ApplyMailboxChanges(c.account, s);
        EXPECT_EQ(committed, c.committed.value_or(committed));
        const MailboxSnapshot after = Load(c.account);
        ASSERT_EQ(after.Records.size(), committed ? 3u : 43u);
        const auto texts = log.Texts();
        EXPECT_TRUE(committed ? after.Counts[1] + after.Records[0].Marks + after.Records[1].Marks == 6
                              : !texts.empty() && texts.back().find(": 42 of 42 changed") != std::string::npos);
    }
}

TEST(MailboxRecordOrder, FolderThenPositionWithBlankAndFreeLast) {
    MailboxRecord free_one;
    free_one.Position = -1;
    MailboxRecord blank;  // position 0, uid 0
    MailboxRecord f0p1;
    f0p1.Position = 1;
    f0p1.Uid = 5;
    MailboxRecord f1p0;
    f1p0.Folder = 1;
    f1p0.Uid = 2;
    MailboxRecord f0p0;
    f0p0.Uid = 9;
    std::vector<MailboxRecord> records{free_one, blank, f1p0, f0p1, f0p0};
    std::sort(records.begin(), records.end(),
              [](const auto& a, const auto& b) { return CompareMailboxRecords(a, b) < 0; });
    EXPECT_EQ(records, (std::vector<MailboxRecord>{f0p0, f0p1, f1p0, blank, free_one}));
    EXPECT_EQ(CompareMailboxRecords(free_one, free_one), 0);
}

bool Logged(testing::ErrorLogCapture& log, const std::string& text) {
    for (const std::string& line : log.Texts())
        if (line.find(text) != std::string::npos) return true;
    return false;
}

// An index this process did not write (put back, copied in, damaged by
// hand) is reconciled with the folder before it is believed: bodies it
// does not list are listed, records whose body is gone dropped (logged with
// their count), sizes taken from the files, a last UID or body number at
// the end of the range does not stop the mailbox, and a store meeting
// taken numbers moves past them.
TEST_F(MailStoreTest, AnIndexNotWrittenHereIsBelievedOnlyAsFarAsTheFolderShows) {
    const auto index_of = [](const std::string& folder) { return JoinPath(folder, "mailinfo.dat"); };
    // Each change comes after 6 stores (`older`: the index after 3) and the deletion of the 4th.
    const struct {
        const char* account;
        std::function<void(const std::string& folder, const std::string& older)> change;
        std::vector<std::int32_t> listed;  // after one more store
        std::uint32_t new_uid;
        const char* logged;
    } cases[] = {
        {"putback", [&](const std::string& f, const std::string& older) { WriteFile(index_of(f), older); },
         {1, 2, 3, 5, 6, 7}, 1028, "message files the index did not list listed in "},
        {"gone", [&](const std::string& f, const std::string&) {
             for (const char* name : {"2.eml", "3.eml"}) ::unlink(JoinPath(f, name).c_str());
             WriteFile(index_of(f), ReadFile(index_of(f)));
         }, {1, 5, 6, 7}, 1026, "records whose message file is gone dropped from the index of "},
        {"sizes", [&](const std::string& f, const std::string&) { WriteCraftedIndex(f, 2, 288); },
         {1, 2, 3, 5, 6, 7}, 1029, "record sizes corrected to their message files in "},
        {"endnumber", [&](const std::string& f, const std::string&) {
             WriteFile(JoinPath(f, "2147483647.eml"), "end");
             WriteFile(index_of(f), ReadFile(index_of(f)));
         }, {1, 2, 3, 5, 6, 2147483647, 4}, 1027, "message files the index did not list listed in "},
        {"enduid", [&](const std::string& f, const std::string&) {
             WriteFile(JoinPath(f, "mailinfo.uid"), "2147483600\n");
             std::string bytes = ReadFile(index_of(f));
             for (int i = 0; i < 4; ++i) bytes[8 + static_cast<std::size_t>(i)] = static_cast<char>(i == 3 ? 0x7f : 0xff);
             WriteFile(index_of(f), bytes);
         }, {1, 2, 3, 5, 6, 7}, 7, "damaged last UID"},
        {"taken", [&](const std::string& f, const std::string&) {
             for (int n = 7; n < 200; ++n) WriteFile(JoinPath(f, std::to_string(n) + ".eml"), "other");
         }, {1, 2, 3, 5, 6, 200}, 7, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.account);
        const std::string folder = MakeAccount(c.account);
        std::string older;
        for (const char* body : {"one", "two", "three", "four", "five", "six"}) {
            ASSERT_TRUE(AddMessageTextToMailbox(c.account, body, nullptr, 0, false, false));
            if (std::string(body) == "three") older = ReadFile(index_of(folder));
        }
        MailboxSnapshot s = Load(c.account);
        s.Records[3].Changes = kChangeDelete;
        ASSERT_TRUE(ApplyMailboxChanges(c.account, s));
        testing::ErrorLogCapture log(home_.path());
        c.change(folder, older);
        std::string uid;
        ASSERT_TRUE(AddMessageTextToMailbox(c.account, "seven", &uid, 0, false, false));
        const MailboxSnapshot after = Load(c.account);
        EXPECT_EQ(FileNumbers(after), c.listed);
        EXPECT_EQ(uid, std::to_string(c.new_uid));
        for (const MailboxRecord& r : after.Records) {
            struct stat st {};
            ASSERT_EQ(::stat(JoinPath(folder, std::to_string(r.FileNumber) + ".eml").c_str(), &st), 0);
            EXPECT_EQ(r.Size, st.st_size) << r.FileNumber;
        }
        EXPECT_TRUE(!c.logged || Logged(log, c.logged)) << c.logged;
    }
}

// A deletion records the bodies it removes before the index that drops
// them is put in place, and removes them only after it. A body that cannot
// be removed is logged and stays recorded, so that the next reconcile
// removes it instead of listing it as new mail; on a full file system the
// spare beside the index is let go so that the deletion commits.
TEST_F(MailStoreTest, DeletionsRecordWhatTheyRemoveAndCommitOnAFullDisk) {
    const struct {
        const char* account;
        int fail;                  // errno for the failing steps
        fs::Step step;             // which ones
        const char* name;          // on files starting so
        bool left;                 // the body stays until the next reconcile
        const char* logged;
    } cases[] = {
        {"plain", 0, fs::Step::kUnlink, "", false, nullptr},
        {"stuck", EIO, fs::Step::kUnlink, "2.eml", true, "cannot remove the message file "},
        {"full", ENOSPC, fs::Step::kCreate, "mailinfo.", false, "file system full: the space held beside the index in "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.account);
        const std::string folder = MakeAccount(c.account);
        for (const char* body : {"one", "two", "three"}) ASSERT_TRUE(AddMessageTextToMailbox(c.account, body, nullptr, 0, false, false));
        ASSERT_TRUE(FileExists(JoinPath(folder, "mailinfo.spare")));
        MailboxSnapshot s = Load(c.account);
        s.Records[1].Changes = kChangeDelete;
        testing::ErrorLogCapture log(home_.path());
        bool spare_gone = false;
        testing::StepTrace steps;
        {
            fs::ScopedStepWatcher watch([&](fs::Step step, std::string_view path) {
                const std::string name(BaseName(path));
                steps.emplace_back(step, name);
                spare_gone = spare_gone || (step == fs::Step::kUnlink && name == "mailinfo.spare");
                return step == c.step && name.starts_with(c.name) && !spare_gone ? c.fail : 0;
            });
            ASSERT_TRUE(ApplyMailboxChanges(c.account, s));
        }
        // The record goes in place before the index, the body after it.
        const std::size_t recorded = testing::StepAt(steps, fs::Step::kRename, "mailinfo.del");
        const std::size_t indexed = testing::StepAt(steps, fs::Step::kRename, "mailinfo.dat");
        EXPECT_LT(recorded, indexed);
        EXPECT_LT(indexed, testing::StepAt(steps, fs::Step::kUnlink, "2.eml"));
        EXPECT_EQ(FileExists(JoinPath(folder, "2.eml")), c.left);
        EXPECT_EQ(FileExists(JoinPath(folder, "mailinfo.del")), c.left);
        EXPECT_TRUE(FileExists(JoinPath(folder, "mailinfo.spare")));
        EXPECT_TRUE(!c.logged || Logged(log, c.logged)) << c.logged;
        // Another writer's index: reconciled, the body left is removed, never listed.
        WriteFile(JoinPath(folder, "mailinfo.dat"), ReadFile(JoinPath(folder, "mailinfo.dat")));
        EXPECT_EQ(FileNumbers(Load(c.account)), (std::vector<std::int32_t>{1, 3}));
        EXPECT_FALSE(FileExists(JoinPath(folder, "2.eml")));
        EXPECT_FALSE(FileExists(JoinPath(folder, "mailinfo.del")));
    }
}

// A copy taken back after a session deleted it (no record has it, its
// body is gone) counts as taken back; one whose body is still there but
// no record names it does not.
TEST_F(MailStoreTest, TakeBackOfACopyDeletedMeanwhile) {
    MailboxCopies copies;
    ASSERT_TRUE(copies.StageText("alice", "copy", 0, false, false));
    ASSERT_TRUE(copies.Commit());
    const StoredMessage stored = *copies.Stored(0);
    MailboxSnapshot s = Load();
    s.Records.back().Changes = kChangeDelete;
    ASSERT_TRUE(ApplyMailboxChanges("alice", s));
    testing::ErrorLogCapture log(home_.path());
    EXPECT_TRUE(TakeBackMessages("alice", {stored}));
    WriteFile(JoinPath(folder_, std::to_string(stored.file_number) + ".eml"), "copy");
    EXPECT_FALSE(TakeBackMessages("alice", {stored}));
}

}  // namespace
}  // namespace quorvex
