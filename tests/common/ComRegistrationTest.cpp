// Self-registration of a component library: the library is loaded, the
// export runs and decides the result by its status, and the library is
// unloaded again. Two small libraries built beside the tests stand in for
// the component.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "common/AtomicFile.h"
#include "common/ComRegistration.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

using testing::TempFolder;

class ComRegistrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("QUORVEX_COM_FIXTURE_LOG", calls_file_.c_str(), 1);
        ::unsetenv("QUORVEX_COM_FIXTURE_STATUS");
    }
    void TearDown() override {
        ::unsetenv("QUORVEX_COM_FIXTURE_LOG");
        ::unsetenv("QUORVEX_COM_FIXTURE_STATUS");
    }

    // The exports that ran since the last call, one name a line.
    std::string TakeCalls() {
        std::string calls;
        ReadWholeFile(calls_file_, calls);
        ::unlink(calls_file_.c_str());
        return calls;
    }

    // Whether the library is mapped into this process now.
    static bool Loaded(const std::string& library) {
        std::string maps;
        ReadWholeFile("/proc/self/maps", maps);
        return maps.find(library) != std::string::npos;
    }

    TempFolder temp_;
    std::string calls_file_ = temp_.File("calls.txt");
    const std::string full_ = QUORVEX_COM_FIXTURE_FULL;
    const std::string no_register_ = QUORVEX_COM_FIXTURE_NO_REGISTER;
};

TEST_F(ComRegistrationTest, CallsTheExportAndJudgesItsStatus) {
    struct Case {
        const char* status;  // nullptr: the export returns 0
        int want;
    } cases[] = {{nullptr, 1}, {"0", 1}, {"1", 1}, {"2147483647", 1}, {"-1", 0}, {"-2147467259", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status ? c.status : "unset");
        if (c.status) ::setenv("QUORVEX_COM_FIXTURE_STATUS", c.status, 1);
        EXPECT_EQ(RegisterComServer(full_), c.want);
        EXPECT_EQ(TakeCalls(), "DllRegisterServer\n");
        EXPECT_EQ(UnregisterComServer(full_), c.want);
        EXPECT_EQ(TakeCalls(), "DllUnregisterServer\n");
    }
}

TEST_F(ComRegistrationTest, TheLibraryIsUnloadedAfterTheCall) {
    ASSERT_FALSE(Loaded(full_));
    EXPECT_EQ(RegisterComServer(full_), 1);
    EXPECT_FALSE(Loaded(full_));
    EXPECT_EQ(UnregisterComServer(no_register_), 1);
    EXPECT_FALSE(Loaded(no_register_));
}

TEST_F(ComRegistrationTest, AMissingExportGivesZeroAfterLoading) {
    EXPECT_EQ(RegisterComServer(no_register_), 0);
    EXPECT_EQ(TakeCalls(), "");
    EXPECT_FALSE(Loaded(no_register_));
    // The other export of the same library is there.
    EXPECT_EQ(UnregisterComServer(no_register_), 1);
    EXPECT_EQ(TakeCalls(), "DllUnregisterServer\n");
}

TEST_F(ComRegistrationTest, WhatIsNoLibraryGivesZeroAndSaysWhy) {
    const std::string text_file = temp_.File("not-a-library.so");
    ASSERT_TRUE(AtomicWriteFile(text_file, "this is not an ELF file\n"));
    const std::pair<std::string, std::string> cases[] = {
        {temp_.File("missing.so"), " is missing."}, {text_file, " cannot be loaded: "},
        {temp_.path(), " is missing."}, {"", " is missing."}, {no_register_, " has no export DllRegisterServer."}};
    for (const auto& [path, why] : cases) {
        SCOPED_TRACE(path);
        std::string reason;
        EXPECT_EQ(RegisterComServer(path, &reason), 0);
        EXPECT_TRUE(reason.starts_with("The component library " + path + why)) << reason;
    }
    EXPECT_EQ(TakeCalls(), "");
}

}  // namespace
}  // namespace quorvex
