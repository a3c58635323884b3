// Makes the library location before the first test runs.
#include "WebcomTestEnvironment.h"

#include <gtest/gtest.h>

#include "common/Paths.h"
#include "support/TempFolder.h"
#include "webcom/module/ComModule.h"

namespace quorvex::testing {
namespace {

TempFolder* g_folder = nullptr;
webcom::LibraryLocation* g_library = nullptr;

class WebcomEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        g_folder = new TempFolder;
        g_library = new webcom::LibraryLocation(webcom::LibraryAt(JoinPath(g_folder->path(), "QuorvexCOM.so")));
    }
    void TearDown() override {
        delete g_library;
        g_library = nullptr;
        delete g_folder;
        g_folder = nullptr;
    }
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new WebcomEnvironment);

}  // namespace

const webcom::LibraryLocation& TestLibrary() { return *g_library; }

const std::string& WebcomLibraryFolder() { return TestLibrary().folder; }

}  // namespace quorvex::testing
