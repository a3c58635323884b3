// Local delivery: queueing, refusals, forwarding, groups, filters and the
// mailbox, against an in-memory directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "servers/delivery/LocalDelivery.h"
#include "servers/smtp/SmtpCommand.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

using testing::TempFolder;

struct Account {
    bool disabled = false;
    bool group = false;
    int messages = 0;
    std::int64_t bytes = 0;
    std::int64_t quota = -1;
    std::optional<ForwardingList> forwarding;
    std::vector<std::string> members;
    bool filters = false;       // filters look at its mail, none takes it
    bool filter_takes = false;  // a filter drops it
    bool filter_files = false;  // a filter files it in folder 4
    bool filter_store_fails = false;  // ... and that copy cannot be written
    bool filter_cannot_read = false;  // the message cannot be given to its filters
    bool store_fails = false;
    bool commit_fails = false;  // a copy of it is staged but its commit fails
    bool unreadable = false;    // its index cannot be read now
};

Account Limits(bool disabled, int messages, std::int64_t bytes, std::int64_t quota) {
    Account a;
    a.disabled = disabled;
    a.messages = messages;
    a.bytes = bytes;
    a.quota = quota;
    return a;
}

Account Group(std::vector<std::string> members) {
    Account a;
    a.group = true;
    a.members = std::move(members);
    return a;
}

class FakeDirectory : public DeliveryDirectory {
public:
    CServerSettings settings;
    std::map<std::string, Account> accounts;  // by account name (local part)
    std::vector<std::string> stored, queued, log, changed, completed;
    std::map<std::string, std::int64_t> held;  // bytes reserved by deliveries under way
    bool queue_fails = false;
    bool publish_fails = false;  // a staged queue copy cannot be handed over

    FakeDirectory() { settings.Dominame = "example.test"; }

    std::shared_ptr<const CServerSettings> Settings() override {
        return std::make_shared<const CServerSettings>(settings);
    }
    int ClassifyAddress(std::string_view address) override {
        const auto at = address.rfind('@');
        if (at == std::string_view::npos) return -1;
        if (AsciiLowerCase(address.substr(at + 1)) != "example.test") return 0;
        return accounts.count(AsciiLowerCase(address.substr(0, at))) ? 1 : -1;
    }
    bool IsDisabled(std::string_view a) override { return accounts[std::string(a)].disabled; }
    bool IsGroup(std::string_view a) override { return accounts[std::string(a)].group; }
    MailboxUsage Usage(std::string_view a) override {
        return {accounts[std::string(a)].messages, accounts[std::string(a)].bytes};
    }
    std::int64_t QuotaBytes(std::string_view a) override { return accounts[std::string(a)].quota; }
    std::optional<ForwardingList> Forwarding(std::string_view a) override { return accounts[std::string(a)].forwarding; }
    std::vector<std::string> GroupMembers(std::string_view g) override { return accounts[std::string(g)].members; }
    bool HasFilters(std::string_view a) override {
        const Account& c = accounts[std::string(a)];
        return c.filters || c.filter_takes || c.filter_files || c.filter_store_fails || c.filter_cannot_read;
    }
    FilterDecision DecideFilters(std::string_view a, DeliveryMessage&) override {
        const Account& account = accounts[std::string(a)];
        if (account.filter_cannot_read) return {FilterOutcome::kStoreFailed, std::nullopt, {}, std::nullopt};
        if (account.filter_files || account.filter_store_fails) return {FilterOutcome::kTaken, 4, {}, std::nullopt};
        if (account.filter_takes) return {FilterOutcome::kTaken, std::nullopt, {}, std::nullopt};
        return {FilterOutcome::kInbox, std::nullopt, {}, std::string("notice")};
    }
    // Each record or notice after the commit, as "account uid".
    void CompleteFilters(std::string_view a, const FilterDecision&, std::string_view uid) override {
        completed.push_back(std::string(a) + " " + std::string(uid));
    }
    // Copies appear in `stored` when committed and leave it when taken back.
    class Copies : public MailboxCopySet {
    public:
        explicit Copies(FakeDirectory& d) : d_(d) {}
        ~Copies() override {
            for (const auto& [a, size] : held_) d_.held[a] -= size;
        }
        MailboxHold Reserve(std::string_view a, std::int64_t size, std::int64_t quota) override {
            if (d_.accounts[std::string(a)].unreadable) return MailboxHold::kUnreadable;
            std::int64_t own = 0;
            for (const auto& [account, bytes] : held_)
                if (account == a) own += bytes;
            std::int64_t& held = d_.held[std::string(a)];
            const std::int64_t committed = d_.accounts[std::string(a)].bytes;
            if (quota != -1 && committed + own + size > quota) return MailboxHold::kNoRoom;
            if (quota != -1 && committed + held + size > quota) return MailboxHold::kBusy;
            held += size;
            held_.emplace_back(a, size);
            return MailboxHold::kHeld;
        }
        // A copy for folder 1 shows as "account:1".
        bool Stage(std::string_view a, DeliveryMessage&, int folder, bool read) override {
            const Account& account = d_.accounts[std::string(a)];
            if (account.store_fails || (folder == 1 && !read && account.filter_store_fails)) return false;
            staged_.push_back(std::string(a) + (folder == 1 ? ":1" : ""));
            return true;
        }
        bool Commit() override {
            for (const auto& a : staged_)
                if (d_.accounts[a.substr(0, a.find(':'))].commit_fails) return false;
            d_.stored.insert(d_.stored.end(), staged_.begin(), staged_.end());
            return true;
        }
        void TakeBack() override {
            for (const auto& a : staged_) d_.stored.erase(std::find(d_.stored.begin(), d_.stored.end(), a));
        }
        std::string Uid(std::size_t) override { return "42"; }

    private:
        FakeDirectory& d_;
        std::vector<std::string> staged_;
        std::vector<std::pair<std::string, std::int64_t>> held_;
    };
    std::unique_ptr<MailboxCopySet> NewCopies() override { return std::make_unique<Copies>(*this); }
    // Queue copies appear in `queued` when handed over.
    struct Queued : QueuedCopy {
        Queued(FakeDirectory& d, std::string text) : d(d), text(std::move(text)) {}
        bool Publish() override { return !d.publish_fails && (d.queued.push_back(text), true); }
        FakeDirectory& d;
        std::string text;
    };
    std::unique_ptr<QueuedCopy> StageQueued(std::string_view recipient, std::string_view sender,
                                            DeliveryMessage&) override {
        if (queue_fails) return nullptr;
        return std::make_unique<Queued>(*this, std::string(recipient) + " from " + std::string(sender));
    }
    void Log(std::string_view tag, std::string_view text) override {
        log.push_back(std::string(tag) + ": " + std::string(text));
    }
    void AccountChanged(std::string_view a) override { changed.emplace_back(a); }
};

class LocalDeliveryTest : public ::testing::Test {
protected:
    void SetUp() override { std::ofstream(file) << std::string(100, 'm'); }
    bool Deliver(std::string_view recipient, std::string* reply = nullptr) {
        return DeliverToRecipient(directory, reply, "10.0.0.1", recipient, "x@remote.org", file, nullptr);
    }
    TempFolder folder;
    std::string file = folder.File("message.dat");
    FakeDirectory directory;
};

TEST_F(LocalDeliveryTest, OutsideAddressesGoToTheQueue) {
    EXPECT_TRUE(Deliver("y@elsewhere.org"));
    EXPECT_TRUE(Deliver("ghost@example.test"));  // accepted under SendOutIfAbsent
    EXPECT_EQ(directory.queued, (std::vector<std::string>{"y@elsewhere.org from x@remote.org",
                                                           "ghost@example.test from x@remote.org"}));
    EXPECT_EQ(directory.log[0], "10.0.0.1: mail from x@remote.org to y@elsewhere.org in queue.");
}

TEST_F(LocalDeliveryTest, QueueFailureFailsTheDelivery) {
    directory.queue_fails = true;
    std::string reply;
    EXPECT_FALSE(Deliver("y@elsewhere.org", &reply));
    EXPECT_EQ(reply, "");  // the caller answers its own temporary failure
    EXPECT_TRUE(directory.queued.empty());
    EXPECT_EQ(directory.log, (std::vector<std::string>{"10.0.0.1: mail from x@remote.org to y@elsewhere.org failed"}));
}

// A forward without a local copy, or a group, is the only way the message
// is kept: when no address got a copy, the delivery fails instead of
// being reported done. One copy anywhere is enough.
TEST_F(LocalDeliveryTest, FanOutWithoutAnyCopyFails) {
    struct Case {
        std::string name;
        std::function<void(FakeDirectory&)> setup;
        std::string recipient;
        bool delivered;
        std::size_t stored;
    };
    const std::vector<Case> cases = {
        {"forward only, queue cannot be written",
         [](FakeDirectory& d) {
             d.accounts["alice"].forwarding = ForwardingList{true, false, {"y@elsewhere.org"}};
             d.queue_fails = true;
         },
         "alice@example.test", false, 0},
        {"mailbox index unreadable: a failure to retry, not a full mailbox",
         [](FakeDirectory& d) { d.accounts["alice"].unreadable = true; }, "alice@example.test", false, 0},
        {"forward only, local target cannot store",
         [](FakeDirectory& d) {
             d.accounts["alice"].forwarding = ForwardingList{true, false, {"bob@example.test"}};
             d.accounts["bob"].store_fails = true;
         },
         "alice@example.test", false, 0},
        {"forward only, filter of the target cannot store",
         [](FakeDirectory& d) {
             d.accounts["alice"].forwarding = ForwardingList{true, false, {"bob@example.test"}};
             d.accounts["bob"].filter_store_fails = true;
         },
         "alice@example.test", false, 0},
        {"forward only, the target's filters cannot get the message",
         [](FakeDirectory& d) {
             d.accounts["alice"].forwarding = ForwardingList{true, false, {"bob@example.test"}};
             d.accounts["bob"].filter_cannot_read = true;
         },
         "alice@example.test", false, 0},
        {"forward only to an unknown local user that is not sent out",
         [](FakeDirectory& d) {
             d.accounts["alice"].forwarding = ForwardingList{true, false, {"ghost@example.test"}};
             d.settings.SendOutIfAbsent = 0;
         },
         "alice@example.test", false, 0},
        {"forward only, one of two targets stores",
         [](FakeDirectory& d) {
             d.accounts["alice"].forwarding = ForwardingList{true, false, {"bob@example.test;y@elsewhere.org"}};
             d.queue_fails = true;
             d.accounts["bob"];
         },
         "alice@example.test", true, 1},
        {"forward with a local copy, forward fails",
         [](FakeDirectory& d) {
             d.accounts["alice"].forwarding = ForwardingList{true, true, {"y@elsewhere.org"}};
             d.queue_fails = true;
         },
         "alice@example.test", true, 1},
        {"forward with a local copy, forward cannot be handed over after the commit",
         [](FakeDirectory& d) {
             d.accounts["alice"].forwarding = ForwardingList{true, true, {"y@elsewhere.org"}};
             d.publish_fails = true;
         },
         "alice@example.test", true, 1},
        {"group, every member fails",
         [](FakeDirectory& d) {
             d.accounts["team"] = Group({"alice", "y@elsewhere.org"});
             d.accounts["alice"].store_fails = true;
             d.queue_fails = true;
         },
         "team@example.test", false, 0},
        {"group, one member stores",
         [](FakeDirectory& d) {
             d.accounts["team"] = Group({"alice", "bob"});
             d.accounts["alice"].store_fails = true;
             d.accounts["bob"];
         },
         "team@example.test", true, 1},
        {"group listing only itself",
         [](FakeDirectory& d) { d.accounts["team"] = Group({"team"}); },
         "team@example.test", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDirectory fresh;
        c.setup(fresh);
        std::string reply;
        EXPECT_EQ(DeliverToRecipient(fresh, &reply, "10.0.0.1", c.recipient, "x@remote.org", file, nullptr),
                  c.delivered);
        EXPECT_EQ(reply, "");
        EXPECT_EQ(fresh.stored.size(), c.stored);
        // "in queue." only for the copies the senders got.
        EXPECT_EQ(std::count_if(fresh.log.begin(), fresh.log.end(),
                                [](const std::string& line) { return line.ends_with("in queue."); }),
                  static_cast<std::ptrdiff_t>(fresh.queued.size()));
        if (!c.delivered) {
            ASSERT_FALSE(fresh.log.empty());
            EXPECT_EQ(fresh.log.back(), "10.0.0.1: mail from x@remote.org to " + c.recipient + " failed");
        }
    }
}

// A message refused for one recipient reaches nobody: a forward's or group
// member's copy is never committed when a later recipient refuses, and is
// taken back when the queue fails after the commit.
TEST_F(LocalDeliveryTest, RefusalAfterAFanOutReachesNobody) {
    struct Case {
        std::string name;
        std::function<void(FakeDirectory&)> setup;
    };
    const std::vector<Case> cases = {
        {"group member staged, next recipient cannot store",
         [](FakeDirectory& d) {
             d.accounts["team"] = Group({"bob"});
             d.accounts["carol"].store_fails = true;
         }},
        {"quota held by the first copy refuses the second",
         [](FakeDirectory& d) {
             d.accounts["team"] = Group({"bob"});
             d.accounts["carol"].forwarding = ForwardingList{true, false, {"bob@example.test"}};
             d.accounts["bob"].quota = 150;
         }},
        {"forward committed, next recipient's queue fails",
         [](FakeDirectory& d) {
             d.accounts["team"].forwarding = ForwardingList{true, false, {"bob@example.test"}};
             d.accounts["carol"].forwarding = ForwardingList{true, false, {"y@elsewhere.org"}};
             d.queue_fails = true;
         }},
        {"the commit fails: the filter's folder copy and a forward's queue copy go with it",
         [](FakeDirectory& d) {
             d.accounts["team"].filter_files = true;
             d.accounts["carol"].forwarding = ForwardingList{true, true, {"y@elsewhere.org"}};
             d.accounts["carol"].commit_fails = true;
         }},
        {"inbox copy no filter took, next recipient's queue copy cannot be handed over",
         [](FakeDirectory& d) {
             d.accounts["team"].filters = true;
             d.accounts["carol"].forwarding = ForwardingList{true, false, {"y@elsewhere.org"}};
             d.publish_fails = true;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDirectory fresh;
        fresh.accounts["bob"];
        c.setup(fresh);
        MessageInFile message(file);
        const DeliveryResult result = DeliverToAll(
            fresh, {"10.0.0.1", "x@remote.org", {"team@example.test", "carol@example.test"}, {}, {}}, message);
        EXPECT_FALSE(result.delivered);
        EXPECT_TRUE(fresh.stored.empty());
        EXPECT_TRUE(fresh.queued.empty());
        // No filter record or notice, and no line that says a copy stayed.
        EXPECT_TRUE(fresh.completed.empty());
        for (const auto& line : fresh.log)
            for (const char* said : {"successfully", "filter", "in queue"})
                EXPECT_EQ(line.find(said), std::string::npos) << line;
    }
}

TEST_F(LocalDeliveryTest, RefusalsComeInOrderWithTheirReplies) {
    struct Case {
        std::string name;
        Account account;
        long long max_size;
        std::string reply;
        std::int64_t held_elsewhere = 0;  // by another delivery in flight
    };
    const std::vector<Case> cases = {
        {"disabled beats everything", Limits(true, 10240, 0, 1), 1,
         "554 alice@example.test is disabled.\r\n"},
        // The index holds 10,239 records: a mailbox with that many is full,
        // a permanent refusal rather than a store failure the sender retries.
        {"full index even without quota", Limits(false, 10239, 0, -1), -1, "552 too many messages in this mail box.\r\n"},
        {"one below a full index", Limits(false, 10238, 0, -1), -1, ""},
        {"byte totals of the index full", Limits(false, 3, kMaxFolderBytes - 99, -1), -1,
         "552 alice@example.test mailbox full\r\n"},
        {"too big", Limits(false, 3, 0, -1), 99, "552 alice@example.test mail size too big\r\n"},
        {"over quota", Limits(false, 0, 901, 1000), -1, "552 alice@example.test mailbox full\r\n"},
        {"exactly at quota", Limits(false, 0, 900, 1000), 100, ""},
        {"only bytes held by another delivery in flight leave no room: for now", Limits(false, 0, 0, 1000), -1,
         "452 alice@example.test mailbox full\r\n", 901},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        directory.accounts["alice"] = c.account;
        directory.settings.MaxMailSize = c.max_size;
        directory.held["alice"] = c.held_elsewhere;
        directory.stored.clear();
        std::string reply;
        EXPECT_EQ(Deliver("alice@example.test", &reply), c.reply.empty());
        EXPECT_EQ(reply, c.reply);
        EXPECT_EQ(directory.stored.size(), c.reply.empty() ? 1u : 0u);
    }
}

TEST_F(LocalDeliveryTest, ForwardingWithoutLocalCopy) {
    directory.accounts["alice"].forwarding = ForwardingList{true, false, {"bob@example.test;y@elsewhere.org", "ghost@example.test"}};
    directory.accounts["bob"];
    EXPECT_TRUE(Deliver("alice@example.test"));
    EXPECT_EQ(directory.stored, (std::vector<std::string>{"bob"}));
    EXPECT_EQ(directory.queued, (std::vector<std::string>{"y@elsewhere.org from alice@example.test"}));
    for (const auto& line : directory.log) EXPECT_EQ(line.find("to alice@example.test successfully"), std::string::npos);
    EXPECT_EQ(directory.log[0], "MailForward: mail from alice@example.test to bob@example.test successfully");
}

TEST_F(LocalDeliveryTest, LoopsDeliverOneCopyEach) {
    // alice and bob forward to each other and keep copies; the group lists
    // itself and alice twice.
    directory.accounts["alice"].forwarding = ForwardingList{true, true, {"bob@example.test"}};
    directory.accounts["bob"].forwarding = ForwardingList{true, true, {"alice@example.test"}};
    directory.accounts["team"] = Group({"team", "alice", "ALICE@example.test", "bob"});
    EXPECT_TRUE(Deliver("team@example.test"));
    std::multiset<std::string> stored(directory.stored.begin(), directory.stored.end());
    EXPECT_EQ(stored, (std::multiset<std::string>{"alice", "bob"}));
}

TEST_F(LocalDeliveryTest, NestingEndsAtTheDepthLimit) {
    directory.accounts["g1"] = Group({"g2", "a1"});
    directory.accounts["g2"] = Group({"g3", "a2"});
    directory.accounts["g3"] = Group({"a3"});
    for (const char* a : {"a1", "a2", "a3"}) directory.accounts[a];
    EXPECT_TRUE(Deliver("g1@example.test"));
    EXPECT_EQ(directory.stored, (std::vector<std::string>{"a2", "a1"}));
    EXPECT_FALSE(DeliverToRecipient(directory, nullptr, "t", "a1@example.test", "s", file, nullptr, 4));
}

// A filter's folder copy is staged unread for folder 1 with the other
// copies; its record, like an inbox copy's notice, follows the commit.
TEST_F(LocalDeliveryTest, FiltersAndStoreFailures) {
    directory.accounts["alice"].filter_takes = true;
    directory.accounts["bob"].store_fails = true;
    directory.accounts["carol"].filter_store_fails = true;
    directory.accounts["dave"].filter_files = true;
    directory.accounts["erin"].filters = true;
    EXPECT_TRUE(Deliver("alice@example.test"));
    std::string reply;
    EXPECT_FALSE(Deliver("bob@example.test", &reply));
    EXPECT_EQ(reply, "");
    EXPECT_FALSE(Deliver("carol@example.test", &reply));
    EXPECT_EQ(reply, "");
    EXPECT_TRUE(directory.stored.empty());
    EXPECT_TRUE(directory.completed.empty());
    EXPECT_TRUE(Deliver("dave@example.test"));
    EXPECT_TRUE(Deliver("erin@example.test"));
    EXPECT_EQ(directory.stored, (std::vector<std::string>{"dave:1", "erin"}));
    EXPECT_EQ(directory.completed, (std::vector<std::string>{"dave 42", "erin 42"}));
    EXPECT_EQ(directory.log, (std::vector<std::string>{"10.0.0.1: mail from x@remote.org to alice@example.test filter",
                                                       "10.0.0.1: mail from x@remote.org to bob@example.test failed",
                                                       "10.0.0.1: mail from x@remote.org to carol@example.test failed",
                                                       "10.0.0.1: mail from x@remote.org to dave@example.test filter",
                                                       "10.0.0.1: mail from x@remote.org to erin@example.test successfully"}));
    EXPECT_EQ(directory.changed, (std::vector<std::string>{"alice", "dave", "erin"}));
}

// The copies to other addresses (MailsCopyTo) are not required: one that
// refuses is passed over, without a reply, and the recipients still get
// theirs.
TEST_F(LocalDeliveryTest, CopiesToOtherAddressesAreNotRequired) {
    FakeDirectory fresh;
    fresh.accounts["carol"];
    fresh.accounts["archive"].disabled = true;
    MessageInFile message(file);
    const DeliveryResult result =
        DeliverToAll(fresh, {"10.0.0.1", "x@remote.org", {"carol@example.test"}, {"archive@example.test"}, {}}, message);
    EXPECT_TRUE(result.delivered);
    EXPECT_EQ(result.reply, "");
    EXPECT_EQ(fresh.stored, (std::vector<std::string>{"carol"}));
}

TEST_F(LocalDeliveryTest, SeveralDomainsUseTheWholeAddress) {
    directory.settings.DomainNameType = 1;
    directory.accounts["carol@example.test"];
    // The fake classifies by local part; the account name is the address.
    directory.accounts["carol"];
    std::string uid;
    EXPECT_TRUE(DeliverToRecipient(directory, nullptr, "t", "carol@example.test", "s", file, &uid));
    EXPECT_EQ(directory.stored, (std::vector<std::string>{"carol@example.test"}));
    EXPECT_EQ(uid, "42");
}

}  // namespace
}  // namespace quorvex
