// The POP3 server alone, for the retrieval benchmark (bench/pop3_bench.py):
//   bench_pop3_server HOME PORT [MESSAGE_FOLDER]
// Serves the accounts below HOME/mail on 127.0.0.1:PORT until its standard
// input closes. With MESSAGE_FOLDER, every file in it (sorted by name) is
// first stored into the mailbox of the account "reader" (password "bench").
// Its store key is not 0, so RETR unscrambles as it does for almost every
// account (the key is the sum of the name's letters; "bench" sums to 0).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "common/AtomicFile.h"
#include "common/PasswordDigest.h"
#include "common/Paths.h"
#include "common/RunFlag.h"
#include "common/ServerSettings.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/store/MailStore.h"
#include "servers/jobs/JobTable.h"
#include "servers/jobs/ServerListener.h"
#include "servers/pop3/Pop3Server.h"

using namespace quorvex;

constexpr const char* kAccount = "reader";

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s HOME PORT [MESSAGE_FOLDER]\n", argv[0]);
        return 2;
    }
    const std::string home = argv[1];
    SetProgramFolder(home);
    MakeFolders(JoinPath(home, "mail", kAccount));
    MakeFolders(JoinPath(home, "smtp"));
    if (!FileExists(JoinPath(home, "config.ini"))) {
        AtomicWriteFile(JoinPath(home, "config.ini"), "[System]\r\nDominame=bench.test\r\n");
    }
    AtomicWriteFile(JoinPath(home, "mail", kAccount, "maillist.ini"),
                    "[System]\r\nPassword=" + HashAccountPassword("bench") + "\r\nMax=1\r\n");
    ReloadSettings();
    Accounts().Load();
    if (argc > 3) {
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(argv[3])) files.push_back(entry.path().string());
        std::sort(files.begin(), files.end());
        for (const std::string& file : files) {
            if (!AddMessageToMailbox(kAccount, file, nullptr, 0, true, false)) {
                std::fprintf(stderr, "cannot store %s\n", file.c_str());
                return 1;
            }
        }
    }
    ServerRunFlag = 1;
    JobTable jobs;
    pop3::Pop3Server server(jobs, nullptr);
    server.InstallHandler();
    jobs.CreateWorkerThreads();
    CPop3Server listener(jobs);
    if (!listener.Start(std::stoi(argv[2]), "127.0.0.1")) {
        std::fprintf(stderr, "cannot listen on port %s\n", argv[2]);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    listener.Stop();
    ServerRunFlag = 0;
    jobs.Shutdown();
    return 0;
}
