// A database path that unixODBC's ini files would store cut is not
// registered at all. (Registration itself, and an existing data source
// left alone, are checked end to end in tests/e2e/test_first_setup.py.)
#include <gtest/gtest.h>

#include "OdbcTestSupport.h"
#include "mailmodel/db/DataSourceSetup.h"

namespace quorvex {
namespace {

using testing::OdbcConfig;

TEST(DataSourceSetup, APathTooLongForAnIniValueIsNotRegistered) {
    if (testing::RunInFreshProcess()) return;
    OdbcConfig odbc("");  // the test's own ini files, whatever happens
    std::string error;
    const std::string path = "/" + std::string(kMaxDataSourceValueLength, 'd') + "/db.sqlite";
    EXPECT_EQ(RegisterMailDataSource(path, &error), DataSourceRegistration::kFailed);
    EXPECT_NE(error.find("longer than"), std::string::npos) << error;
    EXPECT_FALSE(DataSourceExists("QuorvexServer"));
    EXPECT_EQ(RegisterMailDataSource("/srv/quorvex/db/db.sqlite"), DataSourceRegistration::kRegistered);
    EXPECT_TRUE(DataSourceExists("quorvexserver"));
}

}  // namespace
}  // namespace quorvex
