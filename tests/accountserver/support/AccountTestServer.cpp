// A small server program for the end-to-end tests of the account server:
// the account-server and POP3 listeners of one program folder on
// loopback ports of the test port allocator. Prints "ADMIN <port> POP3 <port>" once both
// listen, and runs until its standard input is closed.
#include <unistd.h>

#include <cstdio>

#include "accountserver/AccountServer.h"
#include "common/Paths.h"
#include "common/RunFlag.h"
#include "common/ServerSettings.h"
#include "mailmodel/account/AccountList.h"
#include "servers/jobs/JobTable.h"
#include "servers/jobs/ServerListener.h"
#include "servers/pop3/Pop3Server.h"
#include "tests/support/TestPorts.h"

int main(int argc, char** argv) {
    using namespace quorvex;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PROGRAM_FOLDER\n", argv[0]);
        return 2;
    }
    SetProgramFolder(argv[1]);
    ReloadSettings();
    Accounts().Load();
    ServerRunFlag = 1;
    {
        JobTable jobs;
        accountserver::AccountServer accounts(jobs, nullptr);
        accounts.InstallHandler();
        pop3::Pop3Server pop3(jobs, nullptr);
        pop3.InstallHandler();
        jobs.CreateWorkerThreads();
        CAccountServer admin_listener(jobs);
        CPop3Server pop3_listener(jobs);
        const auto on_test_port = [](ServerListener& listener) {
            return testing::OnTestPort([&](int port) { return listener.Start(port, "127.0.0.1"); }) > 0;
        };
        if (!on_test_port(admin_listener) || !on_test_port(pop3_listener)) return 1;
        std::printf("ADMIN %d POP3 %d\n", admin_listener.port(), pop3_listener.port());
        std::fflush(stdout);
        char buffer[256];
        while (::read(0, buffer, sizeof buffer) > 0) {
        }
        ServerRunFlag = 0;
        admin_listener.Stop();
        pop3_listener.Stop();
        jobs.Shutdown();
    }
    return 0;
}
