// The limit of new accounts per client, with a clock the test moves.
#include "accountserver/SignUpLimit.h"

#include <gtest/gtest.h>

namespace quorvex::accountserver {
namespace {

using namespace std::chrono_literals;

TEST(SignUpLimitTest, TenNewAccountsPerClientWithinAnHour) {
    std::chrono::steady_clock::time_point now{1000h};
    std::vector<std::string> lines;
    SignUpLimitOptions options;
    options.now = [&] { return now; };
    options.log = [&](std::string_view line) { lines.emplace_back(line); };
    SignUpLimit limit(options);
    const ClientSource user("10.9.9.9", "127.0.0.1");
    const ClientSource other("10.9.9.8", "127.0.0.1");
    struct Step {
        std::chrono::minutes advance;
        const ClientSource* client;
        bool keep;  // the sign-up made its account
        bool granted;
    };
    std::vector<Step> steps;
    for (int i = 0; i < kMaxSignUps; ++i) steps.push_back({1min, &user, true, true});
    steps.insert(steps.end(), {
                                  {0min, &user, true, false},   // the eleventh within the hour
                                  {0min, &other, true, true},   // another client
                                  {51min, &user, false, true},  // the first one is an hour old: made nothing
                                  {0min, &user, true, true},    // the place given back
                                  {0min, &user, true, false},
                              });
    for (std::size_t i = 0; i < steps.size(); ++i) {
        now += steps[i].advance;
        SignUpLimit::Reservation place = limit.Reserve(*steps[i].client, "bob");
        EXPECT_EQ(static_cast<bool>(place), steps[i].granted) << "step " << i;
        if (steps[i].keep) place.Keep();
    }
    EXPECT_EQ(lines, (std::vector<std::string>(
                         2, "sign-up refused: address=10.9.9.9 via=127.0.0.1 account=bob accounts=10 within=3600s")));

    // With every place taken, newcomers of one network share its count:
    // ten sign-ups between all of them (one given back), then none.
    options.max_addresses = 1;
    SignUpLimit full(options);
    full.Reserve(user, "bob").Keep();
    for (int i = 0; i <= kMaxSignUps + 1; ++i) {
        const ClientSource newcomer("10.8.0." + std::to_string(i));
        SignUpLimit::Reservation place = full.Reserve(newcomer, "bob");
        EXPECT_EQ(static_cast<bool>(place), i <= kMaxSignUps) << i;
        if (i > 0) place.Keep();
    }
    EXPECT_EQ(lines.back(), "sign-up refused: address=10.8.0.11 account=bob accounts=10 within=3600s" +
                                NetworkCountNote("10.8.0.11", 1));
}

}  // namespace
}  // namespace quorvex::accountserver
