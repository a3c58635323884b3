// The recipient and relay rules as one decision: every server model with
// and without "OpenRelay", local, unknown and remote recipients, local and
// remote senders, authentication and permitted addresses.
#include <gtest/gtest.h>

#include <functional>

#include "servers/smtp/SmtpAccessRules.h"

namespace quorvex::smtp {
namespace {

constexpr int kLocal = ADDRESS_LOCAL_ACCOUNT;
constexpr int kUnknown = ADDRESS_LOCAL_UNKNOWN;
constexpr int kRemote = ADDRESS_REMOTE;

const std::string kDenied =
    "550 x@remote.org relay mail disabled and this mail server requires smtp authentication."
    "(from \"x@remote.org\" to \"y@elsewhere.org\" via \"example.test\") \r\n";
const std::string kNoInterMail =
    "550 y@elsewhere.org is blocked. You need to set up Internet POP3 mail address in mailbox options.\r\n";

struct RelayCase {
    std::string name;
    std::function<void(CServerSettings&)> setup;
    std::string recipient;
    int recipient_class;
    std::string sender;
    int sender_class;
    bool authenticated;
    std::string inter_mail;  // the sender account's Internet address
    // Expected: the refusal, or the address stored, the From: rewrite and
    // whether the sender becomes the anonymous account.
    std::string refusal;
    std::string stored;
    std::string rewrite;
    bool anonymous;
};

TEST(SmtpAccessRules, DecidesEveryRecipientAndRelayCase) {
    const auto none = [](CServerSettings&) {};
    const auto model = [](int m, int open_relay = 0) {
        return [m, open_relay](CServerSettings& s) {
            s.MailServerModel = m;
            s.OpenRelay = open_relay;
        };
    };
    const std::string remote = "y@elsewhere.org";
    const std::vector<RelayCase> cases = {
        {"a local recipient in any model", model(0), "bob@example.test", kLocal, "x@remote.org", kRemote, false, "",
         "", "bob@example.test", "", false},
        {"unknown local user refused", none, "ghost@example.test", kUnknown, "x@remote.org", kRemote, false, "",
         "550 ghost@example.test is absent.\r\n", "", "", false},
        {"unknown local user to the catch-all at its domain",
         [](CServerSettings& s) { s.EnableCatchAll = 1; }, "ghost@Example.Test", kUnknown, "x@remote.org", kRemote,
         false, "", "", "admin@Example.Test", "", false},
        {"unknown local user to a catch-all address",
         [](CServerSettings& s) {
             s.EnableCatchAll = 1;
             s.AccountCatchAll = "postmaster@example.test";
         },
         "ghost@example.test", kUnknown, "x@remote.org", kRemote, false, "", "", "postmaster@example.test", "", false},
        {"unknown local user kept for sending out", [](CServerSettings& s) { s.SendOutIfAbsent = 1; },
         "ghost@example.test", kUnknown, "x@remote.org", kRemote, false, "", "", "ghost@example.test", "", false},
        {"LAN server forwards nothing", model(0), remote, kRemote, "alice@example.test", kLocal, true, "",
         "550 it is a LAN mail server and cannot forward mail.\r\n", "", "", false},
        {"LAN server with open relay", model(0, 1), remote, kRemote, "x@remote.org", kRemote, false, "", "", remote,
         "", false},
        {"Internet server: local sender", model(1), remote, kRemote, "alice@example.test", kLocal, false, "", "",
         remote, "", false},
        {"Internet server: authenticated stranger", model(1), remote, kRemote, "x@remote.org", kRemote, true, "", "",
         remote, "", false},
        {"Internet server: stranger refused", model(1), remote, kRemote, "x@remote.org", kRemote, false, "", kDenied,
         "", "", false},
        {"Internet server: a sender of the local domain without such an account is a stranger", model(1), remote,
         kRemote, "ghost@example.test", kUnknown, false, "",
         "550 ghost@example.test relay mail disabled and this mail server requires smtp authentication."
         "(from \"ghost@example.test\" to \"y@elsewhere.org\" via \"example.test\") \r\n",
         "", "", false},
        {"local senders only: a sender of the local domain without such an account", model(2), remote, kRemote,
         "ghost@example.test", kUnknown, true, "", "550 y@elsewhere.org is not local user.\r\n", "", "", false},
        {"Internet server: permitted address relays as the anonymous sender",
         [](CServerSettings& s) { s.PermittedIPSMTP = "10.9.9.9;10.1.2.3"; }, remote, kRemote, "x@remote.org",
         kRemote, false, "", "", remote, "", true},
        {"Internet server: open relay takes a stranger", model(1, 1), remote, kRemote, "x@remote.org", kRemote, false,
         "", "", remote, "", false},
        {"local senders only: a stranger refused", model(2), remote, kRemote, "x@remote.org", kRemote, true, "",
         "550 y@elsewhere.org is not local user.\r\n", "", "", false},
        {"local senders only: no Internet address", model(2), remote, kRemote, "alice@example.test", kLocal, true, "",
         kNoInterMail, "", "", false},
        {"local senders only: the From: line rewritten", model(2), remote, kRemote, "alice@example.test", kLocal,
         false, "alice@isp.example", "", remote, "alice@isp.example", false},
        {"local senders only, open relay: still no Internet address", model(2, 1), remote, kRemote,
         "alice@example.test", kLocal, false, "", kNoInterMail, "", "", false},
        {"local senders only, open relay: a stranger taken unchanged", model(2, 1), remote, kRemote, "x@remote.org",
         kRemote, false, "", "", remote, "", false},
        {"local senders only: a local recipient is no relay", model(2), "bob@example.test", kLocal, "x@remote.org",
         kRemote, false, "", "", "bob@example.test", "", false},
    };
    for (const RelayCase& c : cases) {
        SCOPED_TRACE(c.name);
        CServerSettings settings;
        settings.Dominame = "example.test";
        c.setup(settings);
        int lookups = 0;
        const RecipientFacts facts{c.recipient, c.recipient_class, c.sender, c.sender_class, c.authenticated,
                                   "10.1.2.3"};
        const RecipientDecision d = DecideRecipient(settings, facts, [&] {
            ++lookups;
            return c.inter_mail;
        });
        EXPECT_EQ(d.refusal.value_or(""), c.refusal);
        if (c.refusal.empty()) {
            EXPECT_EQ(d.recipient, c.stored);
        }
        EXPECT_EQ(d.from_rewrite.value_or(""), c.rewrite);
        EXPECT_EQ(d.anonymous_sender, c.anonymous);
        // Only the model that rewrites the From: line reads the account.
        EXPECT_EQ(lookups, settings.MailServerModel == 2 && c.sender_class == kLocal && c.recipient_class == kRemote);
    }
}

}  // namespace
}  // namespace quorvex::smtp
