// The shared library as a C program sees it: loaded with dlopen, every export
// resolved by name and callable, and nothing but those exports visible.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "smsgate/Tellarin.h"

namespace quorvex::testing {
namespace {

const std::string kLibraryPath = std::string(QUORVEX_BINARY_DIR) + "/smsgate/libTellarin.so";

const std::set<std::string> kExports = {
    "cmpp_connect_to_ismg",
    "cmpp_login_value_set",
    "cmpp_login",
    "cmpp_submit_sm_init",
    "cmpp_submit_sm_set_regdelivery",
    "cmpp_submit_sm_set_msglevel",
    "cmpp_submit_sm_set_svc_type",
    "cmpp_submit_sm_set_protoid",
    "cmpp_submit_sm_set_msgformat",
    "cmpp_submit_sm_set_validate",
    "cmpp_submit_sm_set_srcaddr",
    "cmpp_submit_sm_set_dstaddr",
    "cmpp_submit_sm_set_shortmsg",
    "cmpp_submit",
    "cmpp_recv",
    "cmpp_active_test",
    "cmpp_active_test_resp",
    "cmpp_deliver_resp",
    "cmpp_cancel",
    "cmpp_logout",
    "cmpp_disconnect_from_ismg",
    "cmpp_waitfor_login",
    "cmpp_recv_icp",
    "cmpp_submit_resp",
    "cmpp_deliver",
};

struct LibraryCloser {
    void operator()(void* library) const { ::dlclose(library); }
};

TEST(TellarinExportsTest, DlopenResolvesEveryExportByName) {
    std::unique_ptr<void, LibraryCloser> library(::dlopen(kLibraryPath.c_str(), RTLD_NOW | RTLD_LOCAL));
    ASSERT_NE(library, nullptr) << ::dlerror();
    for (const std::string& name : kExports) EXPECT_NE(::dlsym(library.get(), name.c_str()), nullptr) << name;

    // Called through the resolved pointer, with the C layout of the record.
    using InitFn = int (*)(CmppSubmitRecord*);
    const auto init = reinterpret_cast<InitFn>(::dlsym(library.get(), "cmpp_submit_sm_init"));
    ASSERT_NE(init, nullptr);
    CmppSubmitRecord record;
    ASSERT_EQ(init(&record), 0);
    EXPECT_EQ(sizeof record, 287u);
    EXPECT_EQ(record.msg_level, 9);
    EXPECT_EQ(std::string(record.service_id, 5), std::string("9999\0", 5));
    EXPECT_EQ(record.dest_usr_tl, 1);
    EXPECT_EQ(init(nullptr), CMPP_E_MISSING_ARGUMENT);
}

TEST(TellarinExportsTest, OnlyTheCExportsAreVisible) {
    const std::string command = "nm -D --defined-only '" + kLibraryPath + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> listing(::popen(command.c_str(), "r"), ::pclose);
    ASSERT_NE(listing, nullptr);
    std::set<std::string> exported;
    char line[512];
    while (std::fgets(line, sizeof line, listing.get()) != nullptr) {
        char type = 0;
        char name[400];
        if (std::sscanf(line, "%*s %c %399s", &type, name) == 2) exported.insert(name);
    }
    EXPECT_EQ(exported, kExports);
}

}  // namespace
}  // namespace quorvex::testing
