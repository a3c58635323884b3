// The failed-login guard with a clock the test moves: the log line, the
// lock after ten failures within five minutes, its five minutes, the
// client a web-mail front end forwards and the bounded memory that never
// stops locking.
#include "servers/logins/LoginGuard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <tuple>
#include <vector>

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
        options.log = [this](std::string_view line) { lines.emplace_back(line); };
        return options;
    }
    // Wrong passwords from `address`, to `on` (null: the fixture's guard).
    void Fail(const std::string& address, int times, LoginGuard* on = nullptr) {
        for (int i = 0; i < times; ++i)
            (on ? *on : guard).RecordFailure(kLoginServicePop3, {address}, "bob", LoginOutcome::kWrongPassword);
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
        bool web_mail;
        std::string forwarded;
        ClientSource source;
    };
    const Case cases[] = {
        {"127.0.0.1", true, "10.9.9.9", {"10.9.9.9", "127.0.0.1"}},
        {"127.0.0.1", true, " 10.9.9.9", {"10.9.9.9", "127.0.0.1"}},
        {"127.0.0.1", true, "2001:DB8:0::1", {"2001:db8::1", "127.0.0.1"}},
        {"127.0.0.1", true, "", {"127.0.0.1", ""}},
        {"127.0.0.1", true, "010.9.9.9", {"127.0.0.1", ""}},  // one address, one spelling
        {"127.0.0.1", true, "host.test", {"127.0.0.1", ""}},
        {"127.0.0.1", true, std::string("10.9.9.9\0", 9), {"127.0.0.1", ""}},
        {"192.0.2.5", false, "10.9.9.9", {"192.0.2.5", ""}},  // only a web-mail front end forwards
    };
    for (const Case& c : cases) {
        ConnectionClient client(c.connection, c.web_mail);
        client.Forward("10.1.1.1");
        client.Forward(c.forwarded);  // the latest forward names the client
        EXPECT_EQ(client.client(), c.source) << c.forwarded;
    }

    const ClientSource guesser("10.9.9.9", "127.0.0.1");
    for (int i = 0; i < 10; ++i) guard.RecordFailure(kLoginServicePop3, guesser, "bob", LoginOutcome::kWrongPassword);
    EXPECT_EQ(lines.back(), LoginLockLine(guesser, 10, 300s, 300s));
    EXPECT_TRUE(guard.IsLocked({"10.9.9.9"}));
    EXPECT_FALSE(guard.IsLocked({"10.9.9.8", "127.0.0.1"}));
    EXPECT_FALSE(guard.IsLocked({"127.0.0.1"}));
}

// An IPv6 client is one /64: its addresses share one count. Beyond a full
// table a client is counted with its network: an IPv4 /24, an IPv6 /48.
TEST_F(GuardFixture, IpV6ClientsAreCountedByTheirNetwork) {
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"2001:db8:1:2::1", "2001:db8:1:2::/64", "2001:db8:1::/48"},
        {"2001:DB8:1:2:ffff:ffff:ffff:ffff", "2001:db8:1:2::/64", "2001:db8:1::/48"},
        {"::ffff:192.0.2.7", "192.0.2.7", "192.0.2.0/24"},
        {"192.0.2.7", "192.0.2.7", "192.0.2.0/24"},
        {"host.test", "host.test", "host.test"},
    };
    for (const auto& [address, key, network] : cases) {
        EXPECT_EQ(CountingKey(address), key) << address;
        EXPECT_EQ(NetworkKey(address), network) << address;
    }
    for (int i = 1; i <= 10; ++i) Fail("2001:db8:1:2::" + std::to_string(i), 1);
    EXPECT_TRUE(guard.IsLocked({"2001:db8:1:2:ffff::1"}));
    EXPECT_FALSE(guard.IsLocked({"2001:db8:1:3::1"}));
}

// With every place taken by locked addresses, newcomers are counted with
// their networks: a new address is locked by its tenth failure and its
// network with it, every other network stays open, the lock is logged
// once, and the table never grows.
TEST_F(GuardFixture, FullTableCountsNewcomersByTheirNetwork) {
    struct Step {
        std::chrono::seconds later;
        std::string address;  // empty: 50 addresses of 10.0.0.0/24 take every place and are locked
        int failures;
    };
    struct Case {
        std::vector<Step> steps;
        std::string probe;
        bool locked;
        int locks;  // lock lines beyond those of the 50
    };
    const Step fill{0s, "", 0};
    const Step ten_over_one_48[] = {{0s, "2001:db8:1:1::1", 5}, {0s, "2001:db8:1:2::1", 5}};
    const Case cases[] = {
        {{fill}, "192.0.2.1", false, 0},                                 // never failed
        {{fill, {0s, "192.0.2.1", 9}}, "192.0.2.1", false, 0},
        {{fill, {0s, "192.0.2.1", 10}}, "192.0.2.1", true, 1},          // its eleventh is refused
        {{fill, {0s, "192.0.2.1", 10}}, "192.0.2.99", true, 1},         // its /24 with it
        {{fill, {0s, "192.0.2.1", 10}}, "192.0.3.1", false, 1},         // no other network
        {{fill, {0s, "10.0.0.60", 10}}, "10.0.0.61", true, 1},
        {{fill, ten_over_one_48[0], ten_over_one_48[1]}, "2001:db8:1:ffff::1", true, 1},
        {{fill, ten_over_one_48[0], ten_over_one_48[1]}, "2001:db8:2:1::1", false, 1},
        // A place freed keeps what the network counted within the window,
        {{fill, {200s, "192.0.2.1", 9}, {100s, "192.0.2.1", 1}}, "192.0.2.1", true, 1},
        {{fill, {0s, "192.0.2.1", 9}, {300s, "192.0.2.1", 1}}, "192.0.2.1", false, 0},
        // and a locked network's newcomer stays with its lock.
        {{fill, {200s, "192.0.2.1", 10}, {100s, "192.0.2.2", 1}}, "192.0.2.2", true, 1},
        // A network's count starts afresh after the window, the table full.
        {{fill, {200s, "192.0.2.1", 9}, {100s, "", 0}, {200s, "192.0.2.1", 1}}, "192.0.2.1", false, 0},
    };
    for (const Case& c : cases) {
        LoginGuard small(Options(50));
        const std::size_t before = lines.size();
        for (const Step& step : c.steps) {
            now += step.later;
            for (int i = 0; step.address.empty() && i < 50; ++i) Fail("10.0.0." + std::to_string(i), 10, &small);
            for (int i = 0; i < step.failures && !small.IsLocked({step.address}); ++i) Fail(step.address, 1, &small);
        }
        const auto locks = std::count_if(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end(),
                                         [](const std::string& l) { return l.starts_with("login locked"); });
        const int fills = static_cast<int>(std::count_if(c.steps.begin(), c.steps.end(),
                                                         [](const Step& step) { return step.address.empty(); }));
        EXPECT_EQ(small.IsLocked({c.probe}), c.locked) << c.probe << " after " << c.steps.size() << " steps";
        EXPECT_EQ(locks, 50 * fills + c.locks) << c.probe << " after " << c.steps.size() << " steps";
        EXPECT_LE(small.Followed(), 50u);
        small.Clear();
        EXPECT_FALSE(small.IsLocked({c.probe}));
    }
    const std::string network_lock = LoginLockLine({"10.0.0.60"}, 10, 300s, 300s) + NetworkCountNote("10.0.0.60", 50);
    EXPECT_NE(std::find(lines.begin(), lines.end(), network_lock), lines.end());
}

// A counter of one place, taken by a client whose event stays within the
// window: everyone else is counted with its network.
struct NetworkCounter {
    Clock::time_point now = Clock::time_point{} + 1000h;
    ClientCounter counter;

    explicit NetworkCounter(std::chrono::seconds hold, std::optional<NetworkCountSecret> secret = std::nullopt)
        : counter({.limit = 10, .window = 300s, .hold = hold, .capacity = 1, .now = [this] { return now; },
                   .secret = secret}) {
        counter.Add({"198.18.0.1"});
    }
    void Fail(const std::string& address, int times) {
        for (int i = 0; i < times; ++i) counter.Add({address});
    }
};

// An address of the n-th /24 within first.0.0.0/8.
std::string NetworkAddress(int first, int n) {
    return std::to_string(first) + "." + std::to_string(n >> 8) + "." + std::to_string(n & 255) + ".1";
}

// A hold shorter than the window forgets the network's events: after it
// the network's count starts afresh, as an address's does.
TEST(ClientCounterNetworks, HoldForgetsTheNetworksEvents) {
    NetworkCounter c(60s);
    c.Fail("192.0.2.1", 10);
    EXPECT_TRUE(c.counter.Closed({"192.0.2.2"}));
    c.now += 60s;
    EXPECT_FALSE(c.counter.Closed({"192.0.2.2"}));
    c.Fail("192.0.2.1", 9);
    EXPECT_FALSE(c.counter.Closed({"192.0.2.1"}));
    c.Fail("192.0.2.1", 1);
    EXPECT_TRUE(c.counter.Closed({"192.0.2.1"}));
}

// A network is closed only when every one of its counts is: one count
// shared with a closed network closes nothing.
TEST(ClientCounterNetworks, OneSharedCountClosesNoOtherNetwork) {
    const NetworkCountSecret secret{1, 2};
    const NetworkCountSlots closed = NetworkCountsOf("192.0.2.1", secret);
    std::string sharing;
    for (int n = 0; sharing.empty(); ++n) {
        const NetworkCountSlots slots = NetworkCountsOf(NetworkAddress(10, n), secret);
        if (slots[0] == closed[0] && slots != closed) sharing = NetworkAddress(10, n);
    }
    NetworkCounter c(300s, secret);
    c.Fail("192.0.2.1", 10);
    EXPECT_TRUE(c.counter.Closed({"192.0.2.2"}));
    EXPECT_FALSE(c.counter.Closed({sharing})) << sharing;
}

// Beyond a full table, 10,000 networks closed by 10 failures each refuse
// at most one in 1,000 never-failed clients of other networks.
TEST(ClientCounterNetworks, TenThousandClosedNetworksRefuseFewOthers) {
    NetworkCounter c(300s);
    for (int n = 0; n < 10000; ++n) c.Fail(NetworkAddress(100, n), 10);
    int refused = 0;
    for (int n = 0; n < 10000; ++n) refused += c.counter.Closed({NetworkAddress(20, n)}) ? 1 : 0;
    EXPECT_LE(refused, 10);
    EXPECT_EQ(c.counter.Followed(), 1u);
}

}  // namespace
}  // namespace quorvex
