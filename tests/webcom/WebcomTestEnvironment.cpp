// Sets the library location before the first test runs.
#include "WebcomTestEnvironment.h"

#include <gtest/gtest.h>

#include "common/Paths.h"
#include "support/TempFolder.h"
#include "webcom/module/ComModule.h"

namespace quorvex::testing {
namespace {

TempFolder* g_folder = nullptr;

class WebcomEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        g_folder = new TempFolder;
        webcom::SetLibraryPathForTesting(JoinPath(g_folder->path(), "QuorvexCOM.so"));
    }
    void TearDown() override {
        delete g_folder;
        g_folder = nullptr;
    }
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new WebcomEnvironment);

}  // namespace

const std::string& WebcomLibraryFolder() { return webcom::ThisLibrary().folder; }

}  // namespace quorvex::testing
