// A temporary program folder with a config.ini, published as the settings
// of the process, for the application's unit tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "mailmodel/account/AccountList.h"
#include "tests/mailmodel/MailDataFixture.h"

namespace quorvex::testing {

class AppFolderTest : public MailDataTest {
protected:
    // Writes config.ini and publishes its settings and the account list.
    void UseConfig(const std::string& text) {
        MailDataTest::UseConfig(text);
        Accounts().Load();
    }
};

inline const std::string kSchemaPath = std::string(QUORVEX_SOURCE_DIR) + "/data/schema.sql";

}  // namespace quorvex::testing
