// The real SMTP and POP3 servers in this process for the widget tests that
// drive the window against them: the job handlers wired as the program does,
// both servers listening on loopback ports from the test port allocator,
// for short Python clients (smtplib, poplib: RunPython) to talk to.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "app/ServerWiring.h"
#include "common/RunFlag.h"
#include "servers/jobs/JobTable.h"
#include "servers/jobs/ServerListener.h"
#include "support/TestPorts.h"

namespace quorvex::gui::testing {

class LiveServersFixture : public GuiFolderTest {
protected:
    void SetUp() override {
        GuiFolderTest::SetUp();
        ServerRunFlag = 1;
        wiring_ = std::make_unique<app::ServerWiring>(jobs_, ProcessNoticeBus(), home.path());
        wiring_->InstallJobHandlers();
        jobs_.CreateWorkerThreads();
        // A port another process took in the meantime: take others.
        for (int attempt = 0; attempt < 3 && !started_; ++attempt) {
            const std::vector<int> ports = quorvex::testing::TakeTestPorts(2);
            ASSERT_EQ(ports.size(), 2u);
            smtp_port_ = ports[0];
            pop3_port_ = ports[1];
            started_ = smtp_.Start(smtp_port_, "127.0.0.1") && pop3_.Start(pop3_port_, "127.0.0.1");
            if (!started_) {
                smtp_.Stop();
                pop3_.Stop();
            }
        }
        ASSERT_TRUE(started_);
    }
    void TearDown() override {
        smtp_.Stop();
        pop3_.Stop();
        jobs_.Shutdown();
        ServerRunFlag = 0;
        GuiFolderTest::TearDown();
    }

    JobTable jobs_;
    std::unique_ptr<app::ServerWiring> wiring_;
    CSmtpServer smtp_{jobs_};
    CPop3Server pop3_{jobs_};
    int smtp_port_ = 0;
    int pop3_port_ = 0;
    bool started_ = false;
};

}  // namespace quorvex::gui::testing
