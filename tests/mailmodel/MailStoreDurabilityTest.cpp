// The mailbox store under load: thousands of messages survive a reopen, a
// writer killed mid-store leaves every committed message readable, and
// many threads storing, listing and deleting keep the index consistent.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "MailDataFixture.h"
#include "common/FileSteps.h"
#include "common/Notices.h"
#include "common/UniqueFd.h"
#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/FolderListing.h"
#include "mailmodel/provision/AccountProvision.h"
#include "mailmodel/store/MailStore.h"

namespace quorvex {
namespace {

using testing::MailDataTest;

std::string BodyFor(int i) {
    std::string body = "Subject: message " + std::to_string(i) + "\r\n\r\n";
    body.append(static_cast<std::size_t>(i % 97) * 13, static_cast<char>('a' + i % 26));
    body.append("\r\n");
    return body;
}

std::string Unscramble(std::string bytes, std::uint8_t key) {
    for (char& c : bytes) c = static_cast<char>(c ^ key);
    return bytes;
}

// Every message the index lists has its body, byte for byte.
void ExpectBodies(const std::string& account, const std::string& folder, const MailboxSnapshot& s) {
    std::int64_t total = 0;
    for (const MailboxRecord& r : s.Records) {
        std::string stored;
        ASSERT_TRUE(ReadWholeFile(JoinPath(folder, std::to_string(r.FileNumber) + ".eml"), stored)) << r.FileNumber;
        const int i = static_cast<int>(r.Uid);
        const std::string expected = BodyFor(i);
        EXPECT_EQ(i % 2 ? Unscramble(stored, MailStoreKey(account)) : stored, expected) << i;
        EXPECT_EQ(r.Size, static_cast<std::int32_t>(expected.size()));
        total += r.Size;
    }
    EXPECT_EQ(total, static_cast<std::int64_t>(s.Totals[0]) + s.Totals[1]);
}

TEST_F(MailDataTest, ThousandsOfMessagesSurviveAReopen) {
    const std::string folder = MakeAccount("bulk");
    constexpr int kMessages = 2000;
    for (int i = 1; i <= kMessages; ++i) {
        const std::string source = WriteMessage("in.eml", BodyFor(i));
        ASSERT_TRUE(AddMessageToMailbox("bulk", source, nullptr, 0, i % 2 == 1, false)) << i;
    }
    Accounts().Load();
    MailboxSnapshot s;
    ASSERT_TRUE(LoadMailboxIndexLocked("bulk", s));
    ASSERT_EQ(s.Counts[0], kMessages);
    ASSERT_EQ(s.Records.size(), static_cast<std::size_t>(kMessages));
    for (int i = 0; i < kMessages; ++i) {
        EXPECT_EQ(s.Records[static_cast<std::size_t>(i)].Uid, static_cast<std::uint32_t>(i + 1));
        EXPECT_EQ(s.Records[static_cast<std::size_t>(i)].Position, i);
    }
    ExpectBodies("bulk", folder, s);
    EXPECT_EQ(GetMailboxMessageCount("bulk"), kMessages);
}

TEST_F(MailDataTest, WriterKilledMidStoreLeavesEveryCommittedMessage) {
    const std::string folder = MakeAccount("crash");
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    UniqueFd read_end(fds[0]), write_end(fds[1]);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        read_end.reset();
        for (int i = 1;; ++i) {
            const std::string source = home_.File("in" + std::to_string(i % 2) + ".eml");
            WriteFile(source, BodyFor(i));
            if (!AddMessageToMailbox("crash", source, nullptr, 0, i % 2 == 1, false)) ::_exit(3);
            const std::int32_t uid = i;
            if (::write(write_end.get(), &uid, sizeof uid) != sizeof uid) ::_exit(4);
        }
    }
    write_end.reset();
    std::int32_t committed = 0;
    while (committed < 40) ASSERT_EQ(::read(read_end.get(), &committed, sizeof committed), 4);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    // The child may have committed a few more stores before the signal.
    while (::read(read_end.get(), &committed, sizeof committed) == 4) {
    }

    MailboxSnapshot s;
    ASSERT_TRUE(LoadMailboxIndexLocked("crash", s));
    ASSERT_GE(s.Counts[0], committed);
    ASSERT_LE(s.Counts[0], committed + 1);
    // A store killed after its body took its number and before its index
    // was written is listed now, under a new UID: the message after the
    // last one acknowledged (a duplicate for its sender, never a loss).
    MailboxSnapshot by_message = s;
    for (MailboxRecord& r : by_message.Records)
        if (r.Uid > static_cast<std::uint32_t>(committed) + 1) r.Uid = static_cast<std::uint32_t>(committed) + 1;
    ExpectBodies("crash", folder, by_message);
    // A body the killed writer had not yet committed went when this
    // process opened the mailbox, or is listed.
    int bodies = 0;
    for (const std::string& name : ListFolder(folder)) bodies += name.ends_with(".eml");
    EXPECT_EQ(bodies, s.Counts[0]);
    const std::string source = WriteMessage("after.eml", BodyFor(s.Counts[0] + 1));
    EXPECT_TRUE(AddMessageToMailbox("crash", source, nullptr, 0, (s.Counts[0] + 1) % 2 == 1, false));
}

// A process killed during a deletion's commit: after its index is in place
// and before its message files are gone, the next open removes them and
// the deleted mail does not come back; before its index is in place, the
// deletion did not happen and every message stays.
TEST_F(MailDataTest, DeletionKilledDuringItsCommitIsWholeOrNotAtAll) {
    const struct {
        const char* account;
        fs::Step step;  // the process dies at the first one on a file ending so
        const char* ending;
        std::vector<std::int32_t> listed;
    } cases[] = {
        {"after", fs::Step::kUnlink, ".eml", {2, 4, 6, 8, 10}},
        {"before", fs::Step::kRename, "mailinfo.dat", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.account);
        const std::string folder = MakeAccount(c.account);
        for (int i = 1; i <= 10; ++i)
            ASSERT_TRUE(AddMessageTextToMailbox(c.account, BodyFor(2 * i), nullptr, 0, false, false));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            fs::ScopedStepWatcher die([&](fs::Step step, std::string_view path) {
                if (step == c.step && path.ends_with(c.ending)) ::_exit(0);
                return 0;
            });
            MailboxSnapshot s;
            if (!LoadMailboxIndexLocked(c.account, s)) ::_exit(3);
            for (std::size_t i = 0; i < s.Records.size(); i += 2) s.Records[i].Changes = kChangeDelete;
            ApplyMailboxChanges(c.account, s);
            ::_exit(4);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        // Opened as by the next process: an index this one did not write.
        std::string index;
        ASSERT_TRUE(ReadWholeFile(JoinPath(folder, "mailinfo.dat"), index));
        ASSERT_TRUE(AtomicWriteFile(JoinPath(folder, "mailinfo.dat"), index));
        MailboxSnapshot s;
        ASSERT_TRUE(LoadMailboxIndexLocked(c.account, s));
        std::vector<std::int32_t> numbers;
        for (const MailboxRecord& r : s.Records) {
            numbers.push_back(r.FileNumber);
            EXPECT_EQ(r.Uid, static_cast<std::uint32_t>(r.FileNumber)) << "listed again under a new UID";
        }
        EXPECT_EQ(numbers, c.listed);
        int bodies = 0;
        for (const std::string& name : ListFolder(folder)) bodies += name.ends_with(".eml");
        EXPECT_EQ(bodies, static_cast<int>(c.listed.size()));
        EXPECT_FALSE(FileExists(JoinPath(folder, "mailinfo.del")));
    }
}

TEST_F(MailDataTest, ConcurrentStoresListsAndDeletesKeepTheIndexWhole) {
    const std::string folders[2] = {MakeAccount("one"), MakeAccount("two")};
    const char* accounts[2] = {"one", "two"};
    constexpr int kStoresPerThread = 40;
    std::atomic<int> deleted[2] = {0, 0};
    std::atomic<bool> storing{true};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const std::string source = home_.File("src" + std::to_string(t));
            WriteFile(source, "Subject: t\r\n\r\nbody " + std::to_string(t) + "\r\n");
            for (int i = 0; i < kStoresPerThread; ++i)
                EXPECT_TRUE(AddMessageToMailbox(accounts[t % 2], source, nullptr, 0, true, false));
        });
    }
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            while (storing) {
                MailboxSnapshot s;
                ASSERT_TRUE(LoadMailboxIndexLocked(accounts[t], s));
                if (s.Records.empty()) continue;
                s.Records.front().Changes = kChangeDelete;
                if (s.Records.size() > 1) {
                    s.Records.back().Changes = kChangeMove;
                    s.Records.back().MoveTarget = 1;
                }
                ASSERT_TRUE(ApplyMailboxChanges(accounts[t], s));
                ++deleted[t];
            }
        });
    }
    threads.emplace_back([&] {
        while (storing) {
            EXPECT_GE(GetMailboxTotalSize("one"), 0);
            EXPECT_GE(GetMailboxMessageCount("two"), 0);
        }
    });
    // Account changes at the same time: the account-file lock, then the
    // list lock, while stores map names through the list.
    threads.emplace_back([&] {
        NullNoticeSink quiet;
        for (int i = 0; storing; ++i) {
            AccountRecord record;
            ASSERT_TRUE(LoadAccount("one", record));
            record.Comment = "change " + std::to_string(i);
            ASSERT_TRUE(SaveAccount("one", record, &quiet));
            EXPECT_EQ(AccountExists("TWO"), AccountPresence::kListed);
        }
    });
    for (int t = 0; t < 4; ++t) threads[static_cast<std::size_t>(t)].join();
    storing = false;
    for (std::size_t t = 4; t < threads.size(); ++t) threads[t].join();

    for (int a = 0; a < 2; ++a) {
        MailboxSnapshot s;
        ASSERT_TRUE(LoadMailboxIndexLocked(accounts[a], s));
        // One deleter per account: each of its commits removed one message.
        EXPECT_EQ(s.Counts[0] + s.Counts[1], 2 * kStoresPerThread - deleted[a]);
        int bodies = 0;
        for (const std::string& name : ListFolder(folders[a]))
            bodies += name.size() > 4 && name.compare(name.size() - 4, 4, ".eml") == 0;
        EXPECT_EQ(bodies, s.Counts[0] + s.Counts[1]);
        EXPECT_LE(s.Records.size(), static_cast<std::size_t>(2 * kStoresPerThread));
    }
}

}  // namespace
}  // namespace quorvex
