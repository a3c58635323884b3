// The failed-login guard with a clock the test moves: the log line, the
// lock after ten failures within five minutes, its five minutes, the
// client a web-mail front end forwards and the bounded memory.
#include "servers/logins/LoginGuard.h"

#include <gtest/gtest.h>

namespace quorvex {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct GuardFixture : ::testing::Test {
    Clock::time_point now = Clock::time_point{} + 1000h;
    std::vector<std::string> lines;
    LoginGuard guard{Options()};

    LoginGuardOptions Options(std::size_t max_addresses = 10000) {
        LoginGuardOptions options;
        options.max_addresses = max_addresses;
        options.now = [this] { return now; };
        options.web_mail = [](std::string_view address) { return address == "127.0.0.1"; };
        options.log = [this](std::string_view line) { lines.emplace_back(line); };
        return options;
    }
    void Fail(std::string_view address, int times) {
        for (int i = 0; i < times; ++i)
            guard.RecordFailure(kLoginServicePop3, {std::string(address)}, "bob", LoginOutcome::kWrongPassword);
    }
};

TEST(LoginGuardText, OneLinePerFailureWithoutBlanksOrControlBytes) {
    EXPECT_EQ(FailedLoginLine(kLoginServiceSmtp, {"192.0.2.7"}, "alice@example.test", LoginOutcome::kWrongPassword),
              "login failed: service=smtp address=192.0.2.7 account=alice@example.test outcome=wrong-password");
    EXPECT_EQ(FailedLoginLine(kLoginServicePop3, {"::1"}, "a b\r\nlogin failed: x\\", LoginOutcome::kUnknownAccount),
              "login failed: service=pop3 address=::1 account=a\\x20b\\x0d\\x0alogin\\x20failed:\\x20x\\x5c "
              "outcome=unknown-account");
    EXPECT_EQ(FailedLoginLine(kLoginServiceAccount, {"192.0.2.7"}, "", LoginOutcome::kDisabled),
              "login failed: service=account-server address=192.0.2.7 account= outcome=disabled");
    EXPECT_EQ(FailedLoginLine(kLoginServicePop3, {"10.9.9.9", "127.0.0.1"}, "bob", LoginOutcome::kWrongPassword),
              "login failed: service=pop3 address=10.9.9.9 via=127.0.0.1 account=bob outcome=wrong-password");
    EXPECT_EQ(LoginOutcomeName(LoginOutcome::kNotPermitted), "not-permitted");
    EXPECT_EQ(LoginLockLine({"192.0.2.7"}, 10, 300s, 300s),
              "login locked: address=192.0.2.7 failures=10 within=300s refused for 300s");
    EXPECT_EQ(LoginLockLine({"10.9.9.9", "127.0.0.1"}, 10, 300s, 300s),
              "login locked: address=10.9.9.9 via=127.0.0.1 failures=10 within=300s refused for 300s");
}

TEST_F(GuardFixture, TenFailuresWithinFiveMinutesLockForFiveMinutes) {
    Fail("192.0.2.7", 9);
    EXPECT_FALSE(guard.IsLocked({"192.0.2.7"}));
    now += 299s;
    Fail("192.0.2.7", 1);
    EXPECT_TRUE(guard.IsLocked({"192.0.2.7"}));
    EXPECT_FALSE(guard.IsLocked({"192.0.2.8"}));
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines.back(), LoginLockLine({"192.0.2.7"}, 10, 300s, 300s));
    // Failures while locked are logged but neither extend nor log the lock.
    Fail("192.0.2.7", 20);
    EXPECT_EQ(lines.size(), 31u);
    now += 299s;
    EXPECT_TRUE(guard.IsLocked({"192.0.2.7"}));
    now += 1s;
    EXPECT_FALSE(guard.IsLocked({"192.0.2.7"}));
    // Counting starts afresh after the lock.
    Fail("192.0.2.7", 9);
    EXPECT_FALSE(guard.IsLocked({"192.0.2.7"}));
}

TEST_F(GuardFixture, SlowGuessingIsNeverLocked) {
    for (int i = 0; i < 30; ++i) {
        Fail("192.0.2.9", 1);
        now += 34s;  // any ten failures span more than five minutes
    }
    EXPECT_FALSE(guard.IsLocked({"192.0.2.9"}));
    EXPECT_EQ(lines.size(), 30u);  // every failure still logged
}

TEST_F(GuardFixture, WebMailLoginsCountAgainstTheForwardedAddress) {
    struct Case {
        std::string connection;
        std::string forwarded;
        ClientSource source;
    };
    const Case cases[] = {
        {"127.0.0.1", "10.9.9.9", {"10.9.9.9", "127.0.0.1"}},
        {"127.0.0.1", " 10.9.9.9", {"10.9.9.9", "127.0.0.1"}},
        {"127.0.0.1", "2001:DB8:0::1", {"2001:db8::1", "127.0.0.1"}},
        {"127.0.0.1", "", {"127.0.0.1", ""}},
        {"127.0.0.1", "010.9.9.9", {"127.0.0.1", ""}},  // one address, one spelling
        {"127.0.0.1", "host.test", {"127.0.0.1", ""}},
        {"127.0.0.1", std::string("10.9.9.9\0", 9), {"127.0.0.1", ""}},
        {"192.0.2.5", "10.9.9.9", {"192.0.2.5", ""}},  // only a web-mail front end forwards
    };
    for (const Case& c : cases) EXPECT_EQ(guard.Source(c.connection, c.forwarded), c.source) << c.forwarded;

    const ClientSource guesser = guard.Source("127.0.0.1", "10.9.9.9");
    for (int i = 0; i < 10; ++i) guard.RecordFailure(kLoginServicePop3, guesser, "bob", LoginOutcome::kWrongPassword);
    EXPECT_EQ(lines.back(), LoginLockLine(guesser, 10, 300s, 300s));
    EXPECT_TRUE(guard.IsLocked(guard.Source("127.0.0.1", "10.9.9.9")));
    EXPECT_FALSE(guard.IsLocked(guard.Source("::1", "10.9.9.9")));  // not a front end: its own address
    EXPECT_FALSE(guard.IsLocked(guard.Source("127.0.0.1", "10.9.9.8")));
    EXPECT_FALSE(guard.IsLocked(guard.Source("127.0.0.1", "")));
    // Logins that forward nothing count against the front end itself.
    Fail("127.0.0.1", 10);
    EXPECT_TRUE(guard.IsLocked(guard.Source("127.0.0.1", "")));
    EXPECT_FALSE(guard.IsLocked(guard.Source("127.0.0.1", "10.9.9.8")));
}

TEST_F(GuardFixture, ManyAddressesStayBoundedAndLocksAreKept) {
    LoginGuard small(Options(100));
    for (int i = 0; i < 10; ++i) small.RecordFailure(kLoginServiceSmtp, {"192.0.2.1"}, "x", LoginOutcome::kWrongPassword);
    for (int i = 0; i < 5000; ++i) {
        now += 1ms;
        small.RecordFailure(kLoginServiceSmtp, {"10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256)}, "x",
                            LoginOutcome::kWrongPassword);
    }
    EXPECT_TRUE(small.IsLocked({"192.0.2.1"}));
    small.Clear();
    EXPECT_FALSE(small.IsLocked({"192.0.2.1"}));
}

}  // namespace
}  // namespace quorvex
