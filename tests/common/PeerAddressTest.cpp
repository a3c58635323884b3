// Dotted IPv4 texts.
#include <gtest/gtest.h>

#include "common/net/PeerAddress.h"

namespace quorvex {
namespace {

TEST(PeerAddressTest, DottedIpv4) {
    struct Case {
        const char* text;
        std::optional<std::uint32_t> address;  // host byte order
        bool dotted;
    };
    const Case cases[] = {
        {"127.0.0.1", 0x7f000001u, true},
        {"255.255.255.255", 0xffffffffu, true},
        {"0.0.0.0", 0u, true},
        {"256.1.1.1", std::nullopt, false},
        {"1.2.3", std::nullopt, false},
        {"1.2.3.4.5", std::nullopt, false},
        {" 1.2.3.4", std::nullopt, false},
        {"1.2.3.4 ", std::nullopt, false},
        {"010.1.1.1", std::nullopt, true},  // a leading zero: dotted, but no address
        {"::1", std::nullopt, false},
        {"", std::nullopt, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseIpv4(c.text), c.address) << c.text;
        EXPECT_EQ(IsDottedIpv4(c.text), c.dotted) << c.text;
    }
}

}  // namespace
}  // namespace quorvex
