// Remote collection against an in-memory POP3 server: what is fetched,
// recorded, delivered and deleted, and what the log says.
#include <gtest/gtest.h>

#include <unistd.h>

#include <deque>
#include <map>
#include <utility>

#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "servers/remotepop3/RemoteCollector.h"
#include "servers/remotepop3/UidlRecordFile.h"
#include "tests/support/FileStepFaults.h"
#include "tests/support/TempFolder.h"

namespace quorvex::remotepop3 {
namespace {

struct RemoteMessage {
    std::string Uid;
    std::string Text;  // as sent after RETR, already stuffed, without the end line
    bool Deleted = false;
};

// A POP3 server with one mailbox, answering line by line.
struct FakeRemoteServer {
    std::string User = "joe", Password = "pw";
    std::vector<RemoteMessage> Messages;
    std::string StatReply;          // overrides the STAT reply when set
    int FailAfterLines = -1;        // the connection breaks after that many lines sent
    std::vector<std::string> Received;
    bool UidlRefused = false;
};

class FakeConnection : public RemoteConnection {
public:
    explicit FakeConnection(FakeRemoteServer& server) : server_(server) { Queue("+OK ready"); }

    bool ReadLine(std::string& line, bool& whole) override {
        if (pending_.empty()) return false;
        if (server_.FailAfterLines == 0) return false;
        if (server_.FailAfterLines > 0) --server_.FailAfterLines;
        line = pending_.front().first;
        whole = pending_.front().second;
        pending_.pop_front();
        return true;
    }
    bool SendLine(std::string_view text) override {
        server_.Received.emplace_back(text);
        const std::string t(text);
        int n = 0;
        if (t.rfind("USER ", 0) == 0) {
            Queue(t.substr(5) == server_.User ? "+OK" : "-ERR who");
        } else if (t.rfind("PASS ", 0) == 0) {
            Queue(t.substr(5) == server_.Password ? "+OK in" : "-ERR bad login " + t.substr(5));
        } else if (t == "STAT") {
            Queue(server_.StatReply.empty() ? "+OK " + std::to_string(server_.Messages.size()) + " 100"
                                            : server_.StatReply);
        } else if (std::sscanf(t.c_str(), "UIDL %d", &n) == 1) {
            if (server_.UidlRefused) Queue("-ERR no uidl");
            else if (Valid(n)) Queue("+OK " + std::to_string(n) + " " + server_.Messages[n - 1].Uid);
            else Queue("-ERR no such message");
        } else if (std::sscanf(t.c_str(), "RETR %d", &n) == 1) {
            if (!Valid(n)) {
                Queue("-ERR no such message");
            } else {
                Queue("+OK message follows");
                std::string text = server_.Messages[n - 1].Text;
                std::size_t at = 0;
                while (at < text.size()) {
                    std::size_t end = text.find("\r\n", at);
                    if (end == std::string::npos) end = text.size();
                    std::string line = text.substr(at, end - at);
                    // Lines longer than 10 bytes come in pieces, as a bounded reader gives them.
                    while (line.size() > 10) {
                        pending_.emplace_back(line.substr(0, 10), false);
                        line.erase(0, 10);
                    }
                    Queue(line);
                    at = end + 2;
                }
                Queue(".");
            }
        } else if (std::sscanf(t.c_str(), "DELE %d", &n) == 1) {
            if (Valid(n)) server_.Messages[n - 1].Deleted = true;
            Queue(Valid(n) ? "+OK deleted" : "-ERR no such message");
        } else if (t == "QUIT") {
            std::erase_if(server_.Messages, [](const RemoteMessage& m) { return m.Deleted; });
            Queue("+OK bye");
        } else {
            Queue("-ERR unknown");
        }
        return true;
    }

private:
    bool Valid(int n) const {
        return n >= 1 && n <= static_cast<int>(server_.Messages.size()) && !server_.Messages[n - 1].Deleted;
    }
    void Queue(std::string line) { pending_.emplace_back(std::move(line), true); }
    FakeRemoteServer& server_;
    std::deque<std::pair<std::string, bool>> pending_;
};

class FakeCollectionServices : public CollectionServices {
public:
    explicit FakeCollectionServices(const testing::TempFolder& folder) : folder_(folder) {
        MakeFolders(folder.File("smtp"));
        MakeFolders(folder.File("bob"));
    }
    std::vector<RemoteBox> LoadBoxes(std::string_view) override { return boxes; }
    std::optional<std::string> Resolve(std::string_view host) override {
        if (host == "localhost") return "127.0.0.1";
        if (host == "nowhere") return std::nullopt;
        return "192.0.2.10";
    }
    bool IsOwnAddress(std::string_view address) override { return address.rfind("127.", 0) == 0; }
    std::unique_ptr<RemoteConnection> Connect(const std::string& host, int) override {
        connects.push_back(host);
        auto it = servers.find(host);
        if (it == servers.end()) return nullptr;
        return std::make_unique<FakeConnection>(it->second);
    }
    std::string NewTemporaryFile() override {
        if (!next_temporary.empty()) return std::exchange(next_temporary, std::string());
        return JoinPath(folder_.File("smtp"), "temp_pop3_" + std::to_string(++temp_number) + ".dat");
    }
    void ScanForViruses(const std::string& path) override { scanned.push_back(path); }
    bool Deliver(std::string_view tag, const std::string& recipient, const std::string& sender,
                 const std::string& path, std::string* local_id) override {
        if (refuse_delivery) return false;
        std::string text;
        ReadWholeFile(path, text);
        deliveries.push_back({std::string(tag), recipient, sender, text});
        // The copy reaches the disk as a mailbox or queue copy would.
        if (!AtomicWriteFile(JoinPath(folder_.File("bob"), "copy" + std::to_string(deliveries.size())), text)) return false;
        if (local_id) *local_id = std::to_string(deliveries.size());
        return true;
    }
    std::optional<std::string> UidlFilePath(std::string_view) override {
        return JoinPath(folder_.File("bob"), std::string(kUidlFileName));
    }
    void Log(std::string_view text) override { log.emplace_back(text); }
    std::time_t Now() override { return 1700000000; }

    struct Delivery {
        std::string Tag, Recipient, Sender, Text;
    };
    std::vector<RemoteBox> boxes;
    std::map<std::string, FakeRemoteServer> servers;
    std::vector<std::string> connects, scanned, log;
    std::vector<Delivery> deliveries;
    bool refuse_delivery = false;
    int temp_number = 0;
    std::string next_temporary;  // the next temporary file's path, when set

private:
    const testing::TempFolder& folder_;
};

class RemoteCollectorTest : public ::testing::Test {
protected:
    RemoteCollectorTest() : services(folder) {
        settings.Domain = "example.com";
        RemoteBox box;
        box.Server = "pop.example.net";
        box.Account = "joe";
        box.Password = "pw";
        services.boxes.push_back(box);
        auto& server = services.servers["pop.example.net"];
        server.Messages = {{"u1", "Subject: a\r\n\r\none"}, {"u2", "Subject: b\r\n\r\n..dots\r\nline long enough to split"}};
    }
    void Run() { RemoteCollector(services, settings).CollectRemoteMail("bob"); }
    FakeRemoteServer& Server() { return services.servers["pop.example.net"]; }

    testing::TempFolder folder;
    FakeCollectionServices services;
    CollectionSettings settings;
};

TEST_F(RemoteCollectorTest, FetchesDeliversAndDeletes) {
    // A message is on disk before the record that keeps it from being fetched again.
    const testing::StepTrace steps = testing::TraceSteps([&] { Run(); });
    EXPECT_LT(testing::StepAt(steps, fs::Step::kSync, "copy1"), testing::StepAt(steps, fs::Step::kSync, "Pop3uidl"));
    ASSERT_EQ(services.deliveries.size(), 2u);
    EXPECT_EQ(services.deliveries[0].Tag, "POP3Remote");
    EXPECT_EQ(services.deliveries[0].Recipient, "bob@example.com");
    EXPECT_EQ(services.deliveries[0].Sender, "pop.example.net");
    EXPECT_EQ(services.deliveries[0].Text, "Subject: a\r\n\r\none\r\n");
    // Stored still stuffed, long lines unbroken.
    EXPECT_EQ(services.deliveries[1].Text, "Subject: b\r\n\r\n..dots\r\nline long enough to split\r\n");
    EXPECT_TRUE(Server().Messages.empty());
    EXPECT_EQ(services.log, (std::vector<std::string>{"bob REMOTE POP3 pop.example.net Start",
                                                      "bob REMOTE POP3 pop.example.net END"}));
    EXPECT_EQ(services.scanned.size(), 2u);
    // Temporary files are gone.
    for (const auto& path : services.scanned) EXPECT_FALSE(FileExists(path)) << path;
    // The password never reaches the log, whatever the server says.
    Server().Password = "other";
    Run();
    ASSERT_EQ(services.log.size(), 4u);
    EXPECT_EQ(services.log[3], "bob REMOTE POP3 pop.example.net Error -ERR bad login ****");
}

TEST_F(RemoteCollectorTest, IdsDifferingOnlyInCaseAreTwoMessages) {
    services.boxes[0].LeaveCopy = true;
    Server().Messages = {{"AbC", "x"}, {"abc", "y"}};
    Run();
    EXPECT_EQ(services.deliveries.size(), 2u);
}

TEST_F(RemoteCollectorTest, UndeliverableMessagesStayRemote) {
    services.refuse_delivery = true;
    Run();
    EXPECT_EQ(Server().Messages.size(), 2u);
    services.refuse_delivery = false;
    Run();
    EXPECT_EQ(services.deliveries.size(), 2u);
    EXPECT_TRUE(Server().Messages.empty());
}

TEST_F(RemoteCollectorTest, BrokenTransferKeepsWhatWasDelivered) {
    // Greeting, USER, PASS, STAT, UIDL 1, RETR 1 + 3 lines + ".", UIDL 2, RETR 2, then silence.
    Server().FailAfterLines = 13;
    Run();
    ASSERT_EQ(services.deliveries.size(), 1u);
    EXPECT_EQ(Server().Messages.size(), 2u);  // QUIT never came: nothing deleted remotely
    EXPECT_EQ(services.log.back().find("bob REMOTE POP3 pop.example.net Error"), 0u);
    Server().FailAfterLines = -1;
    Run();
    EXPECT_EQ(services.deliveries.size(), 2u);  // message 1 is not fetched again
    EXPECT_TRUE(Server().Messages.empty());
}

// The disk fills while a message larger than one write is coming in: the
// rest of it is still read to its end line, so the replies that follow
// stay paired with their commands. The message stays on the server; the
// next one is fetched whole and deleted.
TEST_F(RemoteCollectorTest, WriteFailureMidMessageKeepsTheDialogueInStep) {
    // Body lines that look like replies make any lost step visible.
    std::string big = "Subject: big\r\n";
    while (big.size() < 100 * 1024) big += "\r\n+OK 2 u2";
    Server().Messages = {{"u1", big}, {"u2", "Subject: b\r\n\r\nsmall"}};
    const std::string full = JoinPath(folder.File("smtp"), "disk_full.dat");
    ASSERT_EQ(::symlink("/dev/full", full.c_str()), 0);
    services.next_temporary = full;
    Run();
    ASSERT_EQ(services.deliveries.size(), 1u);
    EXPECT_EQ(services.deliveries[0].Text, "Subject: b\r\n\r\nsmall\r\n");
    ASSERT_EQ(Server().Messages.size(), 1u);
    EXPECT_EQ(Server().Messages[0].Uid, "u1");
    for (const auto& command : Server().Received) EXPECT_NE(command, "DELE 1");
    EXPECT_EQ(services.log.back(), "bob REMOTE POP3 pop.example.net END");
    EXPECT_EQ(::access("/dev/full", W_OK), 0);  // only the link went away
    EXPECT_NE(::access(full.c_str(), F_OK), 0);
    // With room again, the big message comes whole.
    Run();
    ASSERT_EQ(services.deliveries.size(), 2u);
    EXPECT_EQ(services.deliveries[1].Text, big + "\r\n");
    EXPECT_TRUE(Server().Messages.empty());
}

TEST_F(RemoteCollectorTest, BoxesInTurn) {
    RemoteBox disabled = services.boxes[0];
    disabled.Enable = false;
    disabled.Server = "off.example.net";
    RemoteBox unreachable = services.boxes[0];
    unreachable.Server = "down.example.net";
    RemoteBox local = services.boxes[0];
    local.Server = "localhost";
    RemoteBox after = services.boxes[0];
    after.Server = "late.example.net";
    services.servers["off.example.net"].Messages = {{"x", "x"}};
    services.servers["late.example.net"].Messages = {{"y", "y"}};
    services.boxes = {disabled, unreachable, services.boxes[0], local, after};
    Run();
    EXPECT_EQ(services.connects, (std::vector<std::string>{"down.example.net", "pop.example.net"}));
    EXPECT_EQ(services.deliveries.size(), 2u);
    EXPECT_EQ(services.servers["late.example.net"].Messages.size(), 1u);

    // An empty account name stops the run too.
    RemoteBox empty = after;
    empty.Account.clear();
    services.boxes = {empty, after};
    services.connects.clear();
    Run();
    EXPECT_TRUE(services.connects.empty());
}

TEST_F(RemoteCollectorTest, OddRepliesCountAsNothingToDo) {
    Server().StatReply = "+OK lots";
    Run();
    EXPECT_TRUE(services.deliveries.empty());
    EXPECT_EQ(services.log.back(), "bob REMOTE POP3 pop.example.net END");
    Server().StatReply.clear();
    Server().UidlRefused = true;
    Run();
    EXPECT_TRUE(services.deliveries.empty());
    EXPECT_EQ(Server().Messages.size(), 2u);
}

TEST_F(RemoteCollectorTest, CopiesGoToTheCopyAddresses) {
    settings.CopyTo = {"audit@example.com", "", "boss@example.org"};
    settings.ShowPOP3Remote = false;
    Server().Messages.resize(1);
    Run();
    ASSERT_EQ(services.deliveries.size(), 3u);
    EXPECT_EQ(services.deliveries[1].Tag, "MailCopy");
    EXPECT_EQ(services.deliveries[1].Recipient, "audit@example.com");
    EXPECT_EQ(services.deliveries[1].Sender, "bob@example.com");
    EXPECT_EQ(services.deliveries[2].Recipient, "boss@example.org");
    EXPECT_TRUE(services.log.empty());
}

TEST(UidlRecordFileTest, RecordLayoutAndRing) {
    testing::TempFolder folder;
    const std::string path = folder.File("Pop3uidl.ini");
    UidlRecordFile file(path);
    ASSERT_TRUE(file.Record("uid-1", "17", 1700000000));
    std::string bytes;
    ReadWholeFile(path, bytes);
    ASSERT_EQ(bytes.size(), 8u + 164u);
    EXPECT_EQ(bytes.substr(0, 8), "000001\r\n");
    const std::string record = bytes.substr(8);
    EXPECT_EQ(record[19], '\t');
    EXPECT_EQ(record.substr(20, 3), std::string("17\0", 3));
    EXPECT_EQ(record[90], '\t');
    EXPECT_EQ(record.substr(91, 6), std::string("uid-1\0", 6));
    EXPECT_EQ(record.substr(161), "\t\r\n");

    UidlRecordFile reread(path);
    reread.Load();
    EXPECT_TRUE(reread.Contains("uid-1"));
    EXPECT_FALSE(reread.Contains("UID-1"));

    // Jump to the end of the ring: the last slot, then slot 0 again.
    std::string full(8 + 164 * 10240, '\0');
    full.replace(0, 8, "010240\r\n");
    AtomicWriteFile(path, full);
    ASSERT_TRUE(file.Record("last", "1", 1700000000));
    ReadWholeFile(path, bytes);
    EXPECT_EQ(bytes.substr(0, 8), "000000\r\n");
    EXPECT_EQ(bytes.size(), 8u + 164u * 10241u);
    ASSERT_TRUE(file.Record("wrapped", "2", 1700000000));
    ReadWholeFile(path, bytes);
    EXPECT_EQ(bytes.substr(0, 8), "000001\r\n");
    EXPECT_EQ(bytes.substr(8 + 91, 7), "wrapped");
    EXPECT_EQ(bytes.size(), 8u + 164u * 10241u);

    // A damaged counter never writes outside the ring.
    bytes.replace(0, 8, "999999\r\n");
    AtomicWriteFile(path, bytes);
    ASSERT_TRUE(file.Record("again", "3", 1700000000));
    ReadWholeFile(path, bytes);
    EXPECT_EQ(bytes.size(), 8u + 164u * 10241u);
    EXPECT_EQ(bytes.substr(0, 8), "000001\r\n");
}

TEST(UidlRecordFileTest, LongIdsAreStillRecognised) {
    testing::TempFolder folder;
    const std::string path = folder.File("Pop3uidl.ini");
    const std::string long_a = std::string(80, 'a') + "1";
    const std::string long_b = std::string(80, 'a') + "2";
    UidlRecordFile file(path);
    ASSERT_TRUE(file.Record(long_a, "1", 1700000000));
    UidlRecordFile reread(path);
    reread.Load();
    EXPECT_TRUE(reread.Contains(long_a));
    EXPECT_FALSE(reread.Contains(long_b));
    EXPECT_EQ(StoredUidForm(long_a).size(), 70u);
}

TEST(RemoteRepliesTest, Parsing) {
    EXPECT_TRUE(IsPositive("+ok"));
    EXPECT_FALSE(IsPositive("+O"));
    EXPECT_FALSE(IsPositive("-ERR"));
    EXPECT_EQ(ParseStatCount("+OK 3 400"), 3);
    EXPECT_EQ(ParseStatCount("+ok 12"), 12);
    EXPECT_EQ(ParseStatCount("+OK x"), 0);
    EXPECT_EQ(ParseStatCount("+OK -4 0"), 0);
    EXPECT_EQ(ParseUidlReply("+OK 1 abc"), "abc");
    EXPECT_EQ(ParseUidlReply("+OK 1  abc extra"), "abc");
    EXPECT_EQ(ParseUidlReply("+OK abc"), "");
    EXPECT_EQ(ParseUidlReply("+OK 1"), "");
    EXPECT_EQ(ParseUidlReply("-ERR 1 abc"), "");
}

}  // namespace
}  // namespace quorvex::remotepop3
