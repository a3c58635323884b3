// Queue counters on disk and the address rules against settings of both
// domain modes.
#include "servers/address/AddressRules.h"

#include <arpa/inet.h>
#include <sys/stat.h>
#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <thread>

#include "common/AccountName.h"
#include "common/IniDocument.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "mailmodel/account/AccountList.h"
#include "servers/address/QueueCounters.h"
#include "tests/support/TempFolder.h"
#include "tests/support/ScopedProcessState.h"

namespace quorvex {
namespace {

std::uint32_t Ipv4(const char* dotted) {
    in_addr a{};
    ::inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

TEST(QueueCountersTest, EachKindCountsFromOneInItsOwnKey) {
    quorvex::testing::ScopedProcessState process_state;
    testing::TempFolder home;
    SetProgramFolder(home.path());
    ForgetQueueIdReservations();
    EXPECT_EQ(NextQueueId(QUEUE_COUNTER_TEMP_SMTP), 1);
    EXPECT_EQ(NextQueueId(QUEUE_COUNTER_TEMP_SMTP), 2);
    EXPECT_EQ(NextQueueId(QUEUE_COUNTER_INTERNET_SEND), 1);
    EXPECT_EQ(NextQueueId(QUEUE_COUNTER_TEMP_POP3), 1);
    // Each key holds the end of the block reserved for its kind.
    const std::string path = JoinPath(home.path(), "smtp", "index.ini");
    EXPECT_EQ(ReadProfileInt(path, "Max", "temp_smtp", 0), kQueueIdBlock);
    EXPECT_EQ(ReadProfileInt(path, "Max", "internet_send", 0), kQueueIdBlock);
    EXPECT_EQ(ReadProfileInt(path, "Max", "temp_pop3", 0), kQueueIdBlock);
    // A counter rewritten by someone else (an earlier run, the
    // administrator) is followed from where it stands.
    ASSERT_TRUE(ProfileFile(path).WriteString("Max", "internet_send", "41"));
    EXPECT_EQ(NextQueueId(QUEUE_COUNTER_INTERNET_SEND), 42);
    EXPECT_EQ(ReadProfileInt(path, "Max", "internet_send", 0), 41 + kQueueIdBlock);
    // Moved back, it never makes this run hand out a number twice.
    ASSERT_TRUE(ProfileFile(path).WriteString("Max", "temp_smtp", "0"));
    EXPECT_EQ(NextQueueId(QUEUE_COUNTER_TEMP_SMTP), 3);
}

// A block costs one write of the file; a restart (or a crash) goes on after
// the block on record, skipping its unused numbers but reusing none.
TEST(QueueCountersTest, BlocksAreWrittenBeforeUseAndNeverReused) {
    quorvex::testing::ScopedProcessState process_state;
    testing::TempFolder home;
    SetProgramFolder(home.path());
    ForgetQueueIdReservations();
    const std::string path = JoinPath(home.path(), "smtp", "index.ini");
    const auto inode = [&] {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    };
    ASSERT_EQ(NextQueueId(QUEUE_COUNTER_TEMP_SMTP), 1);
    const auto first_write = inode();
    ASSERT_NE(first_write, 0u);
    for (int n = 2; n <= kQueueIdBlock; ++n) ASSERT_EQ(NextQueueId(QUEUE_COUNTER_TEMP_SMTP), n);
    EXPECT_EQ(inode(), first_write);  // every number of the block came without a write
    EXPECT_EQ(NextQueueId(QUEUE_COUNTER_TEMP_SMTP), kQueueIdBlock + 1);
    EXPECT_NE(inode(), first_write);  // the next block was put on record first
    EXPECT_EQ(ReadProfileInt(path, "Max", "temp_smtp", 0), 2 * kQueueIdBlock);

    ForgetQueueIdReservations();
    EXPECT_EQ(NextQueueId(QUEUE_COUNTER_TEMP_SMTP), 2 * kQueueIdBlock + 1);
}

TEST(QueueCountersTest, ThreadsAtOnceGetDifferentNumbers) {
    quorvex::testing::ScopedProcessState process_state;
    testing::TempFolder home;
    SetProgramFolder(home.path());
    std::mutex mutex;
    std::set<int> numbers;
    std::vector<std::thread> threads;
    ForgetQueueIdReservations();
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                const int n = NextQueueId(QUEUE_COUNTER_TEMP_SMTP);
                std::lock_guard lock(mutex);
                numbers.insert(n);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(numbers.size(), 80u);
    EXPECT_EQ(*numbers.begin(), 1);
    EXPECT_EQ(*numbers.rbegin(), 80);
}

// Accounts "alice" (single-domain) and "bob@multi.org" (multi-domain).
AccountPresence FakeAccountExists(std::string_view name) {
    if (!name.empty() && name.front() == '_') return AccountPresence::kReserved;
    return SameName(name, "alice") || SameName(name, "bob@multi.org") ? AccountPresence::kListed
                                                                       : AccountPresence::kMissing;
}

TEST(AddressRulesTest, ClassifyInBothDomainModes) {
    CServerSettings single;
    single.DomainNameType = 0;
    single.Dominame = "example.com";
    CServerSettings multi;
    multi.DomainNameType = 1;
    multi.Domains.LoadFrom(IniDocument::Parse("[DomainName]\r\nCount=2\r\nDN1=multi.org\r\nDN2=other.org\r\n"),
                           DomainTable::kMultiDomain, multi);
    ASSERT_EQ(multi.Domains.GetCount(), 2);
    struct Case {
        const CServerSettings* settings;
        std::string address;
        int expected;
    };
    const Case cases[] = {
        {&single, "alice", ADDRESS_LOCAL_UNKNOWN},  // no "@"
        {&single, "alice@example.com", ADDRESS_LOCAL_ACCOUNT},
        {&single, "ALICE@EXAMPLE.COM", ADDRESS_LOCAL_ACCOUNT},  // the domain in other letter case
        {&single, "carol@example.com", ADDRESS_LOCAL_UNKNOWN},
        {&single, "alice@elsewhere.net", ADDRESS_REMOTE},
        {&single, "odd@name@example.com", ADDRESS_LOCAL_UNKNOWN},  // split at the last "@"
        {&single, "alice@[127.0.0.1]", ADDRESS_LOCAL_ACCOUNT},  // a host literal of this machine
        {&single, "alice@127.0.0.1", ADDRESS_LOCAL_ACCOUNT},
        {&single, "carol@[127.0.0.1]", ADDRESS_LOCAL_UNKNOWN},
        {&single, "alice@[192.0.2.1]", ADDRESS_REMOTE},  // not ours
        {&multi, "bob@multi.org", ADDRESS_LOCAL_ACCOUNT},
        {&multi, "BOB@Multi.Org", ADDRESS_LOCAL_ACCOUNT},
        {&multi, "bob@other.org", ADDRESS_LOCAL_UNKNOWN},
        {&multi, "bob@example.com", ADDRESS_REMOTE},
        {&multi, "bob@[127.0.0.1]", ADDRESS_LOCAL_UNKNOWN},  // host literals name nobody here
        {&multi, "bob", ADDRESS_LOCAL_UNKNOWN},
        {&single, "alice@example.com" + std::string(2000, 'x'), ADDRESS_REMOTE},  // cut to 1023 characters
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClassifyAddress(c.address, *c.settings, FakeAccountExists), c.expected) << c.address.substr(0, 40);
    }
}

TEST(AddressRulesTest, ClassifyWithTheAccountStore) {
    quorvex::testing::ScopedProcessState process_state;
    testing::TempFolder home;
    SetProgramFolder(home.path());
    const std::string folder = JoinPath(home.path(), "mail", "Alice");
    ASSERT_TRUE(MakeFolders(folder));
    ASSERT_TRUE(ProfileFile(JoinPath(folder, "maillist.ini")).WriteString("System", "Volume", "20"));
    auto settings = std::make_shared<CServerSettings>();
    settings->DomainNameType = 0;
    settings->Dominame = "example.com";
    PublishSettings(settings);
    ASSERT_TRUE(Accounts().Load());
    EXPECT_EQ(ClassifyAddress("alice@Example.com"), ADDRESS_LOCAL_ACCOUNT);
    EXPECT_EQ(ClassifyAddress("bob@example.com"), ADDRESS_LOCAL_UNKNOWN);
    EXPECT_EQ(ClassifyAddress("_alice@example.com"), ADDRESS_LOCAL_UNKNOWN);  // a reserved name
    EXPECT_EQ(ClassifyAddress("alice@example.net"), ADDRESS_REMOTE);
}

TEST(AddressRulesTest, LocalAddresses) {
    EXPECT_EQ(IsLocalAddress(Ipv4("127.0.0.1")), 1);
    EXPECT_EQ(IsLocalAddress(Ipv4("127.45.6.7")), 1);
    EXPECT_EQ(IsLocalAddress(0), 0);
    EXPECT_EQ(IsLocalAddress(Ipv4("192.0.2.55")), 0);  // a documentation address is nobody's
    EXPECT_TRUE(IsLocalAddress(*PeerAddress::FromNumeric("::1", 0)));
    EXPECT_TRUE(IsLocalAddress(*PeerAddress::FromNumeric("::ffff:127.0.0.1", 0)));
    EXPECT_FALSE(IsLocalAddress(*PeerAddress::FromNumeric("2001:db8::1", 0)));
}

TEST(AddressRulesTest, WebMailFrontEnds) {
    const std::pair<std::string, int> cases[] = {
        {"127.0.0.1", 1},
        {"10.0.0.5", 1},
        {"10.0.0.50", 0},
        {"10.0.0.6", 0},  // written with a leading blank: never matches
        {"", 0},
    };
    for (const auto& [address, expected] : cases) {
        EXPECT_EQ(IsWebMailAddress(address, "127.0.0.1;10.0.0.5; 10.0.0.6"), expected) << address;
    }
}

}  // namespace
}  // namespace quorvex
