// The SMTP server alone, for the acceptance benchmark: a program folder
// with one mailbox account "bench" at "bench.test", the job table and the
// SMTP listener on 127.0.0.1:PORT. Prints "ready PORT" and serves until its
// standard input closes.
//   bench_smtp_server FOLDER PORT
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "common/Notices.h"
#include "common/Paths.h"
#include "common/PasswordDigest.h"
#include "common/ProfileFile.h"
#include "common/RunFlag.h"
#include "common/ServerSettings.h"
#include "mailmodel/account/AccountList.h"
#include "servers/jobs/JobTable.h"
#include "servers/jobs/ServerListener.h"
#include "app/ServerSmtpServices.h"
#include "servers/smtp/SmtpConnection.h"

int main(int argc, char** argv) {
    using namespace quorvex;
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FOLDER PORT\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    SetProgramFolder(folder);
    const std::string account = JoinPath(folder, "mail", "bench");
    MakeFolders(account);
    ProfileFile(JoinPath(account, "maillist.ini")).Edit([](IniDocument& doc) {
        return doc.Set("System", "Password", HashAccountPassword("bench")) && doc.Set("System", "Max", "1");
    });
    Accounts().Load();
    UpdateSettings([&](CServerSettings& s) {
        s.SetProgramFolder(folder);
        s.LogFilePath = JoinPath(folder, "log");
        s.Dominame = "bench.test";
    });
    ServerRunFlag = 1;
    NullNoticeSink notices;
    OutgoingQueue queue(folder);
    smtp::ServerSmtpServices services(notices, queue);
    JobTable jobs;
    jobs.SetHandler(JOB_SMTP, [&](Job& job) { smtp::SmtpServerConnection(job, services); });
    jobs.CreateWorkerThreads();
    CSmtpServer listener(jobs);
    if (!listener.Start(std::atoi(argv[2]), "127.0.0.1")) {
        std::fprintf(stderr, "cannot listen on port %s\n", argv[2]);
        return 1;
    }
    std::printf("ready %d\n", listener.port());
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    ServerRunFlag = 0;
    listener.Stop();
    jobs.Shutdown();
    return 0;
}
