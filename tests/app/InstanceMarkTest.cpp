#include "app/InstanceMark.h"

#include <gtest/gtest.h>

#include <future>

#include "support/TempFolder.h"

namespace quorvex::app {
namespace {

using namespace std::chrono_literals;
using testing::TempFolder;

TEST(InstanceMarkTest, OneHolderPerFolder) {
    TempFolder one, two;
    std::string error;
    auto first = InstanceMark::Take(one.path(), &error);
    ASSERT_TRUE(first) << error;
    EXPECT_TRUE(InstanceRunning(one.path()));
    EXPECT_FALSE(InstanceRunning(two.path()));

    auto second = InstanceMark::Take(one.path(), &error);
    EXPECT_FALSE(second);
    EXPECT_EQ(error, "");  // held, not broken

    auto other = InstanceMark::Take(two.path(), &error);
    EXPECT_TRUE(other) << error;
    EXPECT_NE(ControlSocketName(one.path()), ControlSocketName(two.path()));
    EXPECT_EQ(ControlSocketName(one.path()), ControlSocketName(one.path() + "/."));

    first.reset();
    EXPECT_FALSE(InstanceRunning(one.path()));
    EXPECT_TRUE(WaitForInstanceEnd(one.path(), 1s));
    EXPECT_TRUE(InstanceMark::Take(one.path(), &error)) << error;
}

TEST(InstanceMarkTest, CommandsReachTheHolderAndItsAnswerComesBack) {
    TempFolder folder;
    std::string error;
    auto mark = InstanceMark::Take(folder.path(), &error);
    ASSERT_TRUE(mark) << error;
    auto sent = std::async(std::launch::async, [&] { return SendInstanceCommand(folder.path(), kCommandUpdate, 10s); });
    std::optional<std::string> command;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!command && std::chrono::steady_clock::now() < deadline) command = mark->AcceptCommand(1s);
    ASSERT_EQ(command, std::string(kCommandUpdate));
    mark->Reply("OK");
    EXPECT_EQ(sent.get(), std::string("OK"));

    TempFolder empty;
    EXPECT_FALSE(SendInstanceCommand(empty.path(), kCommandStop, 1s));
}

TEST(InstanceMarkTest, ALockFileThatCannotBeMadeIsAnErrorNotAnInstance) {
    std::string error;
    EXPECT_FALSE(InstanceMark::Take("/nonexistent/quorvex/folder", &error));
    EXPECT_NE(error.find("QuorvexServer.lock"), std::string::npos) << error;
}

}  // namespace
}  // namespace quorvex::app
