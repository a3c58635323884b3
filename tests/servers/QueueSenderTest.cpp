// The outgoing queue with its sender threads against a real receiving
// server (aiosmtpd as relay on loopback): retries after the interval,
// non-delivery reports into a local mailbox, the undelivered folder, the
// delivery log and damaged records. (A delivery run killed half-way is
// tested end to end against the program itself.)
#include <gtest/gtest.h>

#include <fstream>
#include <vector>
#include <map>
#include <mutex>

#include "app/ServerSmtpServices.h"
#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "common/PasswordDigest.h"
#include "common/ProfileFile.h"
#include "common/RunFlag.h"
#include "common/ServerSettings.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/store/MailStore.h"
#include "servers/outgoing/DomainDelivery.h"
#include "servers/queue/DeliveryLog.h"
#include "servers/queue/OutgoingQueue.h"
#include "servers/queue/QueueRecord.h"
#include "servers/queue/UndeliveredFolder.h"
#include "tests/servers/support/SmtpPeer.h"
#include "tests/support/TempFolder.h"
#include "tests/support/ScopedProcessState.h"

namespace quorvex {
namespace {

using namespace std::chrono_literals;
using testing::ReadFileBytes;
using testing::SmtpPeer;
using testing::WaitUntil;


// Settings of a program folder whose outgoing mail all goes to a relay on
// loopback at `relay_port`.
void UseFolderWithRelay(const std::string& folder, int relay_port, int max_tries) {
    SetProgramFolder(folder);
    ProfileFile::ClearCache();
    UpdateSettings([&](CServerSettings& s) {
        s = CServerSettings{};
        s.SetProgramFolder(folder);
        s.LogFilePath = JoinPath(folder, "log");
        s.Dominame = "quorvex.test";
        s.DNS = "127.0.0.1";
        s.DNSSecondary = "127.0.0.1";
        s.MailRelayTo = 1;
        s.RelayServer = "127.0.0.1";
        s.RelayPort = relay_port;
        s.MaxTries = max_tries;
    });
}

outgoing::DomainDeliveryOptions LoopbackOptions() {
    auto options = outgoing::DeliveryOptionsFromSettings(Settings());
    options.fallback_dns_servers.clear();
    options.client.timeouts = {100, 100};
    return options;
}

std::string PythonEmailSummary(const std::string& path) {
    const std::string command =
        "/usr/bin/python3 -c \"import email,sys; from email import policy; "
        "m=email.message_from_binary_file(open(sys.argv[1],'rb'),policy=policy.default); "
        "print(m['From']); print(m['To']); print(m['Subject']); "
        "print([p.get_filename() for p in m.iter_attachments()]); "
        "print(m.get_body(('plain',)).get_content().replace(chr(13),'').replace(chr(10),' '))\" " +
        path;
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
        ::pclose(pipe);
    }
    return output;
}

// Each test runs a queue of its own folder.
class QueueSenderTest : public ::testing::Test {
protected:
    quorvex::testing::ScopedProcessState process_state_;  // restored last
    void SetUp() override { ServerRunFlag = 1; }
    void TearDown() override {
        EXPECT_TRUE(queue.StopSenders(10s));
        ServerRunFlag = 0;
    }
    void AddAccount(const std::string& name) {
        const std::string dir = JoinPath(folder.path(), "mail", name);
        MakeFolders(dir);
        ProfileFile(JoinPath(dir, "maillist.ini")).Edit([&](IniDocument& doc) {
            return doc.Set("System", "Password", HashAccountPassword("pw")) && doc.Set("System", "Max", "1");
        });
    }
    std::string Message(const std::string& name, const std::string& subject) {
        const std::string path = folder.File(name);
        std::ofstream(path, std::ios::binary) << "From: a@quorvex.test\r\nSubject: " << subject << "\r\n\r\nbody\r\n";
        return path;
    }
    std::vector<std::string> Inbox(const std::string& account) {
        MailboxSnapshot snapshot;
        std::vector<std::string> files;
        if (!LoadMailboxIndexLocked(account, snapshot)) return files;
        const auto key = MailStoreKey(account);
        for (int i = 0; i < snapshot.Counts[0]; ++i) {
            std::string bytes = ReadFileBytes(*GetMailFilePath(account, snapshot.Records[i].FileNumber));
            for (char& c : bytes) c = static_cast<char>(c ^ key);
            const std::string plain = folder.File("inbox" + std::to_string(i) + ".eml");
            AtomicWriteFile(plain, bytes);
            files.push_back(plain);
        }
        return files;
    }

    testing::TempFolder folder;
    NullNoticeSink notices;  // outlives the sender threads, stopped in TearDown
    OutgoingQueue queue{folder.path()};
};

TEST_F(QueueSenderTest, RetriesReportsAndParks) {
    SmtpPeer peer("127.0.0.1", 0, folder.File("peer"),
                  {"--reply", "later@remote.test=450", "--reply", "never@remote.test=550", "--reply",
                   "never2@remote.test=550"});
    ASSERT_TRUE(peer.started());
    UseFolderWithRelay(folder.path(), peer.port(), 3);
    MakeFolders(JoinPath(folder.path(), "mail"));
    AddAccount("alice");
    Accounts().Load();

    std::mutex mutex;
    std::map<std::string, std::vector<std::chrono::steady_clock::time_point>> attempts;
    SenderOptions options;
    options.thread_count = 4;
    options.retry_interval_ms = 300;
    options.deliver = [&](std::string_view recipient, std::string_view sender, const std::string& file,
                          std::string& outcome) {
        {
            std::lock_guard guard(mutex);
            attempts[std::string(recipient)].push_back(std::chrono::steady_clock::now());
        }
        return outgoing::DeliverToDomain(recipient, sender, file, outcome, LoopbackOptions());
    };
    options.notices = &notices;
    options.deliver_locally = [&](std::string_view recipient, const std::string& report) {
        return smtp::DeliverReportLocally(notices, queue, recipient, report);
    };

    // A temporary refusal (450) is tried "MaxTries" (3) times in all, then
    // reported to the local sender; a permanent one (550) once. A report
    // for an unknown local sender and mail without a sender are parked.
    ASSERT_GT(queue.Enqueue(Message("a", "later"), "later@remote.test", "alice@quorvex.test"), 0);
    ASSERT_GT(queue.Enqueue(Message("b", "never"), "never@remote.test", "ghost@quorvex.test"), 0);
    ASSERT_GT(queue.Enqueue(Message("c", "never2"), "never2@remote.test", ""), 0);
    ASSERT_GT(queue.Enqueue(Message("d", "ok"), "ok@remote.test", "alice@quorvex.test"), 0);
    queue.StartSenders(options);

    ASSERT_TRUE(WaitUntil([&] { return !queue.HasQueuedMail() && queue.ActiveDeliveries() == 0; }, 30s));
    ASSERT_TRUE(queue.StopSenders(10s));

    std::lock_guard guard(mutex);
    ASSERT_EQ(attempts["later@remote.test"].size(), 3u);
    const auto& later = attempts["later@remote.test"];
    for (std::size_t i = 1; i < later.size(); ++i) EXPECT_GE(later[i] - later[i - 1], 300ms) << i;
    EXPECT_EQ(attempts["never@remote.test"].size(), 1u);
    EXPECT_EQ(attempts["never2@remote.test"].size(), 1u);
    EXPECT_EQ(attempts["ok@remote.test"].size(), 1u);
    ASSERT_EQ(peer.Messages().size(), 1u);
    EXPECT_NE(ReadFileBytes(peer.Messages()[0]).find("Subject: ok"), std::string::npos);

    // The report in alice's mailbox, as Python's email package reads it.
    const auto inbox = Inbox("alice");
    ASSERT_EQ(inbox.size(), 1u);
    const std::string summary = PythonEmailSummary(inbox[0]);
    EXPECT_NE(summary.find("MAILER-DAEMON@quorvex.test\nalice@quorvex.test\nUndelivered mail\n['original_email.eml']"),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find("When you sent mail to  later@remote.test, the server said:  450 refused"),
              std::string::npos)
        << summary;

    // Two parked items: the report for the unknown sender, and the
    // sender-less message itself (no report for it).
    std::map<std::string, std::string> parked;  // recipient -> parked message
    UndeliveredFolder& undelivered = queue.undelivered();
    for (int n : {100, 101}) {
        const auto record = ReadQueueRecord(undelivered.RecordPath(n));
        ASSERT_TRUE(record) << n;
        parked[RecordValue(*record, "DestAddr")] =
            ReadFileBytes(JoinPath(undelivered.folder(), RecordValue(*record, "MailFile")));
        EXPECT_EQ(RecordValue(*record, "Times"), "1");
        EXPECT_EQ(RecordValue(*record, "LastResponse").rfind("550 refused", 0), 0u);
    }
    EXPECT_NE(parked["never@remote.test"].find("Undelivered mail"), std::string::npos);
    EXPECT_NE(parked["never2@remote.test"].find("Subject: never2"), std::string::npos);
    EXPECT_FALSE(FileExists(undelivered.RecordPath(102)));

    // The delivery log: one success, three failures, nothing for retries.
    const std::string log = ReadFileBytes(DeliveryLogPath(JoinPath(folder.path(), "log"), std::time(nullptr)));
    EXPECT_EQ(ReadProfileInt(DeliveryLogPath(JoinPath(folder.path(), "log"), std::time(nullptr)), "System", "MsgCount", 0), 4);
    EXPECT_NE(log.find("LastResponse=SUCCESS"), std::string::npos);

    // A parked message sent again is a new item with its tries at zero.
    ASSERT_TRUE(queue.ResendUndelivered(101));
    EXPECT_FALSE(FileExists(undelivered.RecordPath(101)));
    EXPECT_TRUE(queue.HasQueuedMail());
    ASSERT_TRUE(undelivered.DeleteUndelivered(100));
    EXPECT_FALSE(FileExists(undelivered.RecordPath(100)));
}

TEST_F(QueueSenderTest, DamagedRecordIsMovedAsideAndSendingGoesOn) {
    SmtpPeer peer("127.0.0.1", 0, folder.File("peer"));
    ASSERT_TRUE(peer.started());
    UseFolderWithRelay(folder.path(), peer.port(), 2);
    MakeFolders(queue.folder());
    // Record 1 names a message file that is not there; record 2 has no
    // recipient; record 3 is cancelled (no MailFile) and stays untouched;
    // record 5 names a file with a NUL in its name, which would reach
    // another file.
    ASSERT_TRUE(AtomicWriteFile(queue.RecordPath(1), "[Info]\r\nDestAddr=x@remote.test\r\nMailFile=mail1.dat\r\nTimes=0\r\n"));
    ASSERT_TRUE(AtomicWriteFile(queue.RecordPath(2), "[Info]\r\nMailFile=mail2.dat\r\nTimes=0\r\n"));
    ASSERT_TRUE(AtomicWriteFile(queue.MessagePath(2), "x"));
    ASSERT_TRUE(AtomicWriteFile(queue.RecordPath(3), "[Info]\r\nDestAddr=y@remote.test\r\nTimes=0\r\n"));
    ASSERT_TRUE(AtomicWriteFile(queue.RecordPath(5), "[Info]\r\nDestAddr=v@remote.test\r\nMailFile=stray.dat" + std::string(1, '\0') + "x\r\n"));
    ASSERT_TRUE(AtomicWriteFile(JoinPath(queue.folder(), "stray.dat"), "Subject: stray\r\n\r\nx\r\n"));
    ProfileFile(JoinPath(queue.folder(), "index.ini")).WriteString("Max", "internet_send", "3");
    ASSERT_EQ(queue.Enqueue(Message("m", "fine"), "fine@remote.test", "a@quorvex.test"), 4);

    SenderOptions options;
    options.thread_count = 2;
    options.deliver = [](std::string_view r, std::string_view s, const std::string& f, std::string& o) {
        return outgoing::DeliverToDomain(r, s, f, o, LoopbackOptions());
    };
    options.notices = &notices;
    queue.StartSenders(options);
    ASSERT_TRUE(WaitUntil([&] { return peer.Messages().size() == 1 && !queue.HasQueuedMail(); }, 20s));
    EXPECT_TRUE(FileExists(JoinPath(queue.folder(), "damaged", "1.ini")));
    EXPECT_TRUE(FileExists(JoinPath(queue.folder(), "damaged", "2.ini")));
    EXPECT_TRUE(FileExists(JoinPath(queue.folder(), "damaged", "mail2.dat")));
    EXPECT_TRUE(FileExists(queue.RecordPath(3)));
    EXPECT_FALSE(FileExists(queue.RecordPath(4)));
    EXPECT_TRUE(FileExists(JoinPath(queue.folder(), "damaged", "5.ini")));
    EXPECT_TRUE(FileExists(JoinPath(queue.folder(), "stray.dat")));
}

TEST(QueueRecords, RetryRecordReplacesItsOriginalAtStartUp) {
    testing::TempFolder folder;
    OutgoingQueue queue(folder.path());
    const std::string message = folder.File("m");
    std::ofstream(message, std::ios::binary) << "Subject: x\r\n\r\nx\r\n";
    ASSERT_EQ(queue.Enqueue(message, "a@remote.test", "s@quorvex.test"), 1);
    const std::string first = queue.RecordPath(1);
    // A crash after the retry record was written, before the old one went.
    ASSERT_EQ(queue.Enqueue(queue.MessagePath(1), "", "", &first, 1), 2);
    ASSERT_EQ(queue.Enqueue(message, "b@remote.test", "s@quorvex.test"), 3);
    OutgoingQueue restarted(folder.path());
    restarted.RebuildScanRange();
    EXPECT_FALSE(FileExists(first));
    EXPECT_FALSE(FileExists(queue.MessagePath(1)));
    const auto retry = ReadQueueRecord(queue.RecordPath(2));
    ASSERT_TRUE(retry);
    EXPECT_EQ(RecordValue(*retry, "DestAddr"), "a@remote.test");
    EXPECT_EQ(RecordValue(*retry, "MailFile"), "mail2.dat");
    EXPECT_EQ(restarted.PendingRange().low, 2);
    EXPECT_EQ(restarted.PendingRange().high, 3);
}

// The senders of a queue serve that queue alone: a retry is a new item of
// the same queue.
TEST(OutgoingQueueObject, SendersOfAQueueOfItsOwn) {
    testing::ScopedProcessState process_state;
    testing::TempFolder folder;
    UseFolderWithRelay(folder.path(), 1, 20);
    ServerRunFlag = 1;
    OutgoingQueue queue(folder.path());
    const std::string message = folder.File("m");
    std::ofstream(message, std::ios::binary) << "Subject: x\r\n\r\nx\r\n";
    ASSERT_EQ(queue.Enqueue(message, "a@remote.test", "s@quorvex.test"), 1);

    std::mutex mutex;
    std::vector<std::string> attempts;  // the message file of each attempt
    NullNoticeSink notices;
    SenderOptions options;
    options.thread_count = 2;
    options.retry_interval_ms = 0;
    options.notices = &notices;
    options.deliver = [&](std::string_view, std::string_view, const std::string& file, std::string& outcome) {
        std::lock_guard guard(mutex);
        attempts.push_back(std::string(BaseName(file)));
        if (attempts.size() == 1) {
            outcome = "451 later";
            return outgoing::kFailedTemporary;
        }
        return outgoing::kDelivered;
    };
    queue.StartSenders(options);
    EXPECT_TRUE(WaitUntil([&] { return !queue.HasQueuedMail() && queue.ActiveDeliveries() == 0; }, 10s));
    EXPECT_TRUE(queue.StopSenders(10s));
    ServerRunFlag = 0;
    std::lock_guard guard(mutex);
    EXPECT_EQ(attempts, (std::vector<std::string>{"mail1.dat", "mail2.dat"}));  // the retry is item 2
}

TEST(DeliveryLogFile, AppendsCountsAndWrapsAtTheBound) {
    testing::TempFolder folder;
    const std::time_t now = std::time(nullptr);
    const std::string path = DeliveryLogPath(folder.path(), now);
    DeliveryLogRecord record{"2026/01/01 00:00:00", "d@remote.test", "r@quorvex.test", "/q/mail1.dat", 1, "x"};
    bool written = false;
    for (int i = 1; i <= 3; ++i) {
        record.last_response = "line " + std::to_string(i) + "\r\nsecond";
        EXPECT_FALSE(WriteDeliveryLog(folder.path(), 3, record, now, now, &written));
        EXPECT_TRUE(written);
    }
    EXPECT_EQ(ReadProfileInt(path, "System", "MsgCount", 0), 3);
    EXPECT_EQ(ReadProfileString(path, "2", "LastResponse"), "line 2\\r\\nsecond");
    // The bound reached: numbering starts again and overwrites section 1.
    record.last_response = "SUCCESS";
    EXPECT_TRUE(WriteDeliveryLog(folder.path(), 3, record, now, now, &written));
    ProfileFile::ClearCache();
    EXPECT_EQ(ReadProfileInt(path, "System", "MsgCount", 0), 1);
    EXPECT_EQ(ReadProfileString(path, "1", "LastResponse"), "SUCCESS");
    EXPECT_EQ(ReadProfileString(path, "3", "LastResponse"), "line 3\\r\\nsecond");
    const auto doc = ReadQueueRecord(path);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->SectionNames().size(), 4u);
    EXPECT_EQ(doc->KeyNames("1"),
              (std::vector<std::string>{"BeginTime", "DestAddr", "ReplyAddr", "MailFile", "EndTime", "Times", "LastResponse"}));
}

}  // namespace
}  // namespace quorvex
