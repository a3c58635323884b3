// A fresh program folder with a mail folder and a few accounts for the
// account and mailbox tests; the account list is reloaded from it.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "mailmodel/account/AccountList.h"
#include "support/TempFolder.h"

namespace quorvex::testing {

class MailDataTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramFolder(home_.path());
        ProfileFile::ClearCache();
        MakeFolders(JoinPath(home_.path(), "mail"));
        UseConfig("[System]\r\nDominame=example.test\r\n");
        Accounts().Load();
    }
    void TearDown() override {
        PublishSettings(std::make_shared<CServerSettings>());
        Accounts().Load();
    }

    // Writes config.ini and publishes the settings loaded from it.
    void UseConfig(const std::string& text) {
        WriteFile(home_.File("config.ini"), text);
        ProfileFile::ClearCache();
        ReloadSettings();
    }

    // Creates an account folder (with an optional maillist.ini text) and
    // reloads the list.
    std::string MakeAccount(const std::string& name, const std::string& ini = "") {
        const std::string folder = JoinPath(home_.path(), "mail", name);
        MakeFolders(folder);
        if (!ini.empty()) WriteFile(JoinPath(folder, "maillist.ini"), ini);
        Accounts().Load();
        return folder;
    }

    std::string WriteMessage(const std::string& name, const std::string& bytes) {
        const std::string path = home_.File(name);
        WriteFile(path, bytes);
        return path;
    }

    static void WriteFile(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    static std::string ReadFile(const std::string& path) {
        std::string bytes;
        ReadWholeFile(path, bytes);
        return bytes;
    }

    TempFolder home_;
};

}  // namespace quorvex::testing
