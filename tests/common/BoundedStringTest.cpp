// The bounded copy, format and append helpers: what they leave in the
// buffer and what they throw, at and around every limit.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/BoundedString.h"

namespace quorvex {
namespace {

// Runs `call`, returning the thrown text (nullopt when it returned 0).
template <typename Call>
std::optional<std::string> Thrown(Call call) {
    try {
        EXPECT_EQ(call(), 0);
        return std::nullopt;
    } catch (const char* text) {
        return std::string(text);
    }
}

enum class Op { kCopy, kFormat, kAppend };

struct Case {
    const char* name;
    Op op;
    std::string initial;  // text already in the buffer (append)
    std::uint32_t capacity;
    std::string src;
    std::optional<std::string> thrown;
    std::string result;
};

TEST(BoundedString, CutsAndThrowsAtEveryLimit) {
    const std::string ten = "0123456789";
    const Case cases[] = {
        {"copy fits", Op::kCopy, "", 11, ten, std::nullopt, ten},
        {"copy one too long", Op::kCopy, "", 10, ten, kBoundedOverflow, "012345678"},
        {"copy into one byte", Op::kCopy, "", 1, "x", kBoundedOverflow, ""},
        {"copy empty into one byte", Op::kCopy, "", 1, "", std::nullopt, ""},
        {"format exactly capacity-1", Op::kFormat, "", 11, ten, std::nullopt, ten},
        {"format one more", Op::kFormat, "", 10, ten, kBoundedOverflow, "012345678"},
        {"append fits", Op::kAppend, "abc", 7, "def", std::nullopt, "abcdef"},
        {"append cut", Op::kAppend, "abc", 6, "def", kBoundedOverflow, "abcde"},
        {"append to full buffer", Op::kAppend, "abcde", 6, "x", kBoundedOverflow, "abcde"},
        {"append empty to full buffer", Op::kAppend, "abcde", 6, "", std::nullopt, "abcde"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> buffer(c.capacity + 8, '#');
        std::memcpy(buffer.data(), c.initial.c_str(), c.initial.size() + 1);
        const auto thrown = Thrown([&] {
            switch (c.op) {
                case Op::kCopy: return CopyStringBounded(buffer.data(), c.capacity, c.src.c_str());
                case Op::kFormat: return FormatStringBounded(buffer.data(), c.capacity, "%s", c.src.c_str());
                case Op::kAppend: return AppendStringBounded(buffer.data(), c.capacity, c.src.c_str());
            }
            return -1;
        });
        EXPECT_EQ(thrown, c.thrown);
        EXPECT_EQ(std::string(buffer.data()), c.result);
        // Nothing past the capacity was touched.
        for (std::size_t i = c.capacity; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], '#') << i;
    }
}

TEST(BoundedString, RefusesBadArgumentsWithoutWriting) {
    char buffer[8] = "keep";
    struct Check {
        const char* name;
        std::optional<std::string> copy, format, append;
        char* dest;
        const char* src;
        std::uint32_t capacity;
    } checks[] = {
        {"null destination", kBoundedDestNull, kBoundedDestNull, kBoundedDestNull, nullptr, "x", 8},
        {"null source", kBoundedSrcNull, kBoundedSrcNull, kBoundedSrcNull, buffer, nullptr, 8},
        {"zero capacity", kBoundedCapacityZero, kBoundedFormatCapacityZero, kBoundedCapacityZero, buffer, "x", 0},
        {"capacity above 1 MiB", kBoundedCapacityTooLarge, kBoundedCapacityTooLarge, kBoundedCapacityTooLarge,
         buffer, "x", kMaxBoundedCapacity + 1},
    };
    for (const Check& c : checks) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Thrown([&] { return CopyStringBounded(c.dest, c.capacity, c.src); }), c.copy);
        EXPECT_EQ(Thrown([&] { return FormatStringBounded(c.dest, c.capacity, c.src); }), c.format);
        EXPECT_EQ(Thrown([&] { return AppendStringBounded(c.dest, c.capacity, c.src); }), c.append);
        EXPECT_STREQ(buffer, "keep");
    }
}

TEST(BoundedString, AcceptsTheLargestCapacity) {
    std::vector<char> big(kMaxBoundedCapacity, 'x');
    big.back() = '\0';
    std::vector<char> dest(kMaxBoundedCapacity);
    EXPECT_EQ(Thrown([&] { return CopyStringBounded(dest.data(), kMaxBoundedCapacity, big.data()); }), std::nullopt);
    EXPECT_EQ(std::strlen(dest.data()), kMaxBoundedCapacity - 1);
}

TEST(BoundedString, AppendRefusesAnUnterminatedDestination) {
    char buffer[6] = {'a', 'b', 'c', 'd', 'e', 'f'};
    EXPECT_EQ(Thrown([&] { return AppendStringBounded(buffer, 6, "x"); }), std::string(kBoundedDestUnterminated));
    EXPECT_EQ(std::string(buffer, 6), "abcdef");
}

TEST(BoundedString, FormatsArguments) {
    char buffer[32];
    EXPECT_EQ(FormatStringBounded(buffer, sizeof buffer, "%s(%d): ", "a.cpp", 42), 0);
    EXPECT_STREQ(buffer, "a.cpp(42): ");
    char small[4];
    EXPECT_EQ(Thrown([&] { return CopyStringBounded(small, "abcdef"); }), std::string(kBoundedOverflow));
    EXPECT_STREQ(small, "abc");
}

}  // namespace
}  // namespace quorvex
