// A temporary program folder with a config.ini, published as the settings
// of the process, for the application's unit tests.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "mailmodel/account/AccountList.h"
#include "support/TempFolder.h"

namespace quorvex::testing {

class AppFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramFolder(home_.path());
        ProfileFile::ClearCache();
        MakeFolders(JoinPath(home_.path(), "mail"));
        UseConfig("[System]\r\nDominame=example.test\r\n");
    }
    void TearDown() override {
        PublishSettings(std::make_shared<CServerSettings>());
        Accounts().Load();
    }

    void UseConfig(const std::string& text) {
        WriteFile(home_.File("config.ini"), text);
        ProfileFile::ClearCache();
        ReloadSettings();
        Accounts().Load();
    }

    static void WriteFile(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }

    TempFolder home_;
};

inline const std::string kSchemaPath = std::string(QUORVEX_SOURCE_DIR) + "/data/schema.sql";

}  // namespace quorvex::testing
