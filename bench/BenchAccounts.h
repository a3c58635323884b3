// What the administration benches share: a program folder in a temporary
// folder with `count` accounts user0 ... userN-1, loaded as the program
// would load them, each mailbox's empty index already read.
#pragma once

#include <cstdio>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/store/MailStore.h"
#include "support/TempFolder.h"

namespace quorvex::bench {

// `write_ini(file, i)` writes account i's maillist.ini.
inline void MakeBenchAccounts(const quorvex::testing::TempFolder& home, int count,
                              const std::function<void(std::ostream&, int)>& write_ini) {
    SetProgramFolder(home.path());
    std::ofstream(home.File("config.ini")) << "[System]\r\nDominame=example.test\r\n[Log]\r\nFilePath="
                                           << home.File("log") << "\r\n";
    std::printf("making %d accounts ...\n", count);
    for (int i = 0; i < count; ++i) {
        const std::string folder = home.File("mail/user" + std::to_string(i));
        MakeFolders(folder);
        std::ofstream file(JoinPath(folder, "maillist.ini"));
        write_ini(file, i);
    }
    ReloadSettings();
    Accounts().Load();
    for (int i = 0; i < count; ++i) ReadMailboxTotals("user" + std::to_string(i));  // the empty indexes
    ProfileFile::ClearCache();
}

}  // namespace quorvex::bench
