#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/NtService.h"
#include "app/ServiceNotify.h"
#include "common/Paths.h"
#include "common/UniqueFd.h"
#include "support/TempFolder.h"

namespace quorvex::app {
namespace {

using testing::TempFolder;
using Argv = std::vector<std::string>;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Records every systemctl call and answers like a systemd that knows the
// unit once it has been enabled.
struct FakeSystemctl {
    std::vector<Argv> calls;
    int enable_status = 0;
    std::string enable_answer;

    CommandRunner Runner() {
        return [this](const Argv& argv) {
            calls.push_back(argv);
            CommandResult result{0, ""};
            if (argv.size() > 1 && argv[1] == "enable") result = {enable_status, enable_answer};
            if (argv.size() > 1 && argv[1] == "show") result.output = "loaded\n";
            if (argv.size() > 1 && argv[1] == "is-active") result.output = "active\n";
            return result;
        };
    }
    bool Called(const Argv& argv) const { return std::find(calls.begin(), calls.end(), argv) != calls.end(); }
};

ServiceOptions Options(const TempFolder& units, FakeSystemctl& systemctl, const std::string& program = "/usr/bin/true") {
    return ServiceOptions{units.path(), systemctl.Runner(), program, units.path()};
}

TEST(ServiceUnitTest, ValuesAreQuotedSoThatNoCharacterChangesTheirMeaning) {
    EXPECT_EQ(QuoteUnitValue("/opt/quorvex/QuorvexServer"), "\"/opt/quorvex/QuorvexServer\"");
    EXPECT_EQ(QuoteUnitValue("/a b/c\"d\\e%f"), "\"/a b/c\\\"d\\\\e%%f\"");
    const std::string unit = FormatServiceUnit("/opt/q/QuorvexServer", "/var/lib/q q");
    EXPECT_NE(unit.find("ExecStart=\"/opt/q/QuorvexServer\" -service\n"), std::string::npos);
    EXPECT_NE(unit.find("Environment=\"QUORVEX_HOME=/var/lib/q q\"\n"), std::string::npos);
    EXPECT_NE(unit.find("Type=notify\n"), std::string::npos);
    EXPECT_NE(unit.find("WantedBy=multi-user.target\n"), std::string::npos);
}

TEST(ServiceUnitTest, HardeningFitsTheProgramFolder) {
    const struct {
        const char* folder;
        bool private_tmp;
    } cases[] = {
        {"/srv/mail", true},
        {"/home/ann/quorvex", true},
        {"/tmp/quorvex-demo", false},  // a private /tmp would hide it
        {"/var/tmp/q", false},
        {"/tmpfolder", true},
    };
    for (const auto& c : cases) {
        const std::string unit = FormatServiceUnit("/opt/q/QuorvexServer", c.folder);
        for (const char* line : {"NoNewPrivileges=yes\n", "ProtectSystem=strict\n", "ProtectHome=read-only\n",
                                 "UMask=0077\n"}) {
            EXPECT_NE(unit.find(line), std::string::npos) << c.folder << ": " << line;
        }
        EXPECT_NE(unit.find("ReadWritePaths=\"" + std::string(c.folder) + "\" -/etc/apache2\n"),
                  std::string::npos)
            << c.folder;
        EXPECT_EQ(unit.find("PrivateTmp=yes\n") != std::string::npos, c.private_tmp) << c.folder;
    }
}

TEST(ServiceUnitTest, InstallWritesAndEnablesTheUnitAndStartsIt) {
    TempFolder units;
    FakeSystemctl systemctl;
    CNtService service(Options(units, systemctl));
    ASSERT_EQ(service.Install(), 1);
    const std::string unit = ReadFile(JoinPath(units.path(), "QuorvexServer.service"));
    EXPECT_EQ(unit, FormatServiceUnit("/usr/bin/true", units.path()));
    EXPECT_TRUE(systemctl.Called({"systemctl", "daemon-reload"}));
    EXPECT_TRUE(systemctl.Called({"systemctl", "enable", "QuorvexServer.service"}));
    EXPECT_TRUE(systemctl.Called({"systemctl", "start", "--no-block", "QuorvexServer.service"}));
    // Nothing was there to remove first.
    EXPECT_FALSE(systemctl.Called({"systemctl", "disable", "QuorvexServer.service"}));

    // systemd's own check of the file, where systemd is installed.
    if (::access("/usr/bin/systemd-analyze", X_OK) == 0) {
        const std::string command = "/usr/bin/systemd-analyze verify --man=no '" + JoinPath(units.path(), "QuorvexServer.service") +
                                    "' > '" + JoinPath(units.path(), "verify.txt") + "' 2>&1";
        const int status = std::system(command.c_str());
        const std::string report = ReadFile(JoinPath(units.path(), "verify.txt"));
        EXPECT_EQ(report.find("QuorvexServer.service:"), std::string::npos) << report;
        (void)status;
    }
}

TEST(ServiceUnitTest, InstallOverAnInstalledServiceRemovesItFirst) {
    TempFolder units;
    FakeSystemctl systemctl;
    CNtService service(Options(units, systemctl));
    ASSERT_EQ(service.Install(), 1);
    systemctl.calls.clear();
    ASSERT_EQ(service.Install(), 1);
    ASSERT_GE(systemctl.calls.size(), 3u);
    const auto at = [&](const Argv& argv) {
        return std::find(systemctl.calls.begin(), systemctl.calls.end(), argv) - systemctl.calls.begin();
    };
    EXPECT_LT(at({"systemctl", "stop", "--no-block", "QuorvexServer.service"}),
              at({"systemctl", "disable", "QuorvexServer.service"}));
    EXPECT_LT(at({"systemctl", "disable", "QuorvexServer.service"}),
              at({"systemctl", "enable", "QuorvexServer.service"}));
    EXPECT_TRUE(FileExists(JoinPath(units.path(), "QuorvexServer.service")));
}

TEST(ServiceUnitTest, UninstallRemovesTheUnitAndDoesNothingWhenNoneIsInstalled) {
    TempFolder units;
    FakeSystemctl systemctl;
    CNtService service(Options(units, systemctl));
    EXPECT_EQ(service.Uninstall(), 1);
    EXPECT_TRUE(systemctl.calls.empty());

    ASSERT_EQ(service.Install(), 1);
    systemctl.calls.clear();
    EXPECT_EQ(service.Uninstall(), 1);
    EXPECT_FALSE(FileExists(JoinPath(units.path(), "QuorvexServer.service")));
    EXPECT_TRUE(systemctl.Called({"systemctl", "stop", "--no-block", "QuorvexServer.service"}));
    EXPECT_TRUE(systemctl.Called({"systemctl", "disable", "QuorvexServer.service"}));
    EXPECT_EQ(systemctl.calls.back(), (Argv{"systemctl", "daemon-reload"}));
}

TEST(ServiceUnitTest, AFailedEnableLeavesNoUnitBehind) {
    TempFolder units;
    FakeSystemctl systemctl;
    systemctl.enable_status = 1;
    systemctl.enable_answer = "Failed to enable unit: Unit file\nQuorvexServer.service is masked.\n";
    CNtService service(Options(units, systemctl));
    EXPECT_EQ(service.Install(), 0);
    EXPECT_FALSE(FileExists(JoinPath(units.path(), "QuorvexServer.service")));
    EXPECT_FALSE(systemctl.Called({"systemctl", "start", "--no-block", "QuorvexServer.service"}));
    // The message names the command and gives its answer on one line.
    EXPECT_EQ(service.LastFailure(), "the command \"systemctl enable QuorvexServer.service\" failed (exit status 1): "
                                     "Failed to enable unit: Unit file QuorvexServer.service is masked.");
    systemctl.enable_answer.clear();
    EXPECT_EQ(service.Install(), 0);
    EXPECT_EQ(service.LastFailure(),
              "the command \"systemctl enable QuorvexServer.service\" failed (exit status 1), with no answer");

    ServiceOptions missing_folder = Options(units, systemctl);
    missing_folder.unit_folder = JoinPath(units.path(), "no", "such");
    CNtService nowhere(missing_folder);
    EXPECT_EQ(nowhere.Install(), 0);
    EXPECT_EQ(nowhere.LastFailure(), "the unit file " + JoinPath(missing_folder.unit_folder, "QuorvexServer.service") +
                                         " could not be written (No such file or directory)");
    systemctl.enable_status = 0;
    EXPECT_EQ(service.Install(), 1);
    EXPECT_EQ(service.LastFailure(), "");
}

// A datagram socket bound to `name` ('@' for an abstract name).
UniqueFd BindDatagram(const std::string& name) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.data(), name.size());
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    if (name[0] == '@') address.sun_path[0] = '\0';
    EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), length), 0);
    return fd;
}

std::string Receive(int fd) {
    char buffer[256];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

TEST(ServiceNotifyTest, StatesReachPathAndAbstractSockets) {
    TempFolder folder;
    const std::string path = JoinPath(folder.path(), "notify");
    UniqueFd on_path = BindDatagram(path);
    EXPECT_TRUE(SendServiceNotification(path, "READY=1"));
    EXPECT_EQ(Receive(on_path.get()), "READY=1");

    const std::string abstract = "@quorvex-test-" + std::to_string(::getpid());
    UniqueFd on_abstract = BindDatagram(abstract);
    EXPECT_TRUE(SendServiceNotification(abstract, "STOPPING=1"));
    EXPECT_EQ(Receive(on_abstract.get()), "STOPPING=1");

    EXPECT_FALSE(SendServiceNotification("relative/path", "READY=1"));
    EXPECT_FALSE(SendServiceNotification(JoinPath(folder.path(), "nobody"), "READY=1"));
    EXPECT_FALSE(SendServiceNotification("/" + std::string(200, 'x'), "READY=1"));
}

}  // namespace
}  // namespace quorvex::app
