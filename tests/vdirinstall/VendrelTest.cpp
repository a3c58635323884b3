// The installer's files without a web server: the enabling link of
// Debian's layout, and the way back when the server refuses a change. The
// behaviour against a real Apache is tested end to end
// (tests/e2e/test_vendrel_apache.py).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "common/Paths.h"
#include "support/ScopedEnv.h"
#include "support/TempFolder.h"
#include "vdirinstall/ApacheControl.h"
#include "vdirinstall/Vendrel.h"

namespace quorvex::testing {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    ::chmod(path.c_str(), mode);
}

std::string LinkTarget(const std::string& path) {
    char target[512];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
    return n < 0 ? std::string() : std::string(target, static_cast<std::size_t>(n));
}

bool Present(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Debian's layout: conf-available with its sibling conf-enabled.
class VendrelFilesTest : public ::testing::Test {
protected:
    VendrelFilesTest()
        : available_(home_.File("conf-available")),
          enabled_(home_.File("conf-enabled")),
          file_(JoinPath(available_, "quorvex-mail.conf")),
          link_(JoinPath(enabled_, "quorvex-mail.conf")),
          conf_env_("QUORVEX_APACHE_CONF_DIR", available_),
          ctl_env_("QUORVEX_APACHECTL", home_.File("apachectl")) {
        MakeFolders(available_);
        MakeFolders(enabled_);
    }

    // An apachectl that refuses every configuration.
    void RefuseEveryConfiguration() {
        WriteFile(home_.File("apachectl"), "#!/bin/sh\necho 'AH00526: Syntax error on line 1' >&2\nexit 1\n", 0755);
    }

    TempFolder home_;
    std::string available_, enabled_, file_, link_;
    ScopedEnv conf_env_, ctl_env_;
};

TEST_F(VendrelFilesTest, PublishingLinksTheFileAsA2enconfWouldAndRemovalUnlinksIt) {
    // No apachectl installed: nothing to check or reload, the file counts.
    ASSERT_EQ(Vendrel("mail", "/srv/quorvex/WebMail/", "index.php", 1), 1);
    const std::string text = ReadFile(file_);
    EXPECT_NE(text.find("Alias /mail \"/srv/quorvex/WebMail\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("DirectoryIndex index.php\n"), std::string::npos);
    EXPECT_EQ(LinkTarget(link_), "../conf-available/quorvex-mail.conf");
    struct stat st {};
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);

    ASSERT_EQ(Vendrel("mail", nullptr, nullptr, 0), 1);
    EXPECT_FALSE(Present(file_));
    EXPECT_FALSE(Present(link_));

    // Outside Debian's layout the folder is included directly: no link.
    ScopedEnv flat("QUORVEX_APACHE_CONF_DIR", home_.File("conf.d"));
    MakeFolders(home_.File("conf.d"));
    ASSERT_EQ(Vendrel("mail", "/srv/x", "index.php", 1), 1);
    EXPECT_TRUE(Present(home_.File("conf.d/quorvex-mail.conf")));
    EXPECT_FALSE(Present(link_));
}

TEST_F(VendrelFilesTest, ARefusedChangePutsFileAndLinkBack) {
    ASSERT_EQ(Vendrel("mail", "/srv/old", "index.php", 1), 1);
    const std::string previous = ReadFile(file_);
    RefuseEveryConfiguration();

    EXPECT_EQ(Vendrel("mail", "/srv/new", "index.php", 1), 0);  // replacement refused
    EXPECT_EQ(ReadFile(file_), previous);
    EXPECT_EQ(LinkTarget(link_), "../conf-available/quorvex-mail.conf");

    EXPECT_EQ(Vendrel("mail", nullptr, nullptr, 0), 0);  // removal refused
    EXPECT_EQ(ReadFile(file_), previous);
    EXPECT_EQ(LinkTarget(link_), "../conf-available/quorvex-mail.conf");

    EXPECT_EQ(Vendrel("webmail", "/srv/new", "index.php", 1), 0);  // new directory refused
    EXPECT_FALSE(Present(JoinPath(available_, "quorvex-webmail.conf")));
    EXPECT_FALSE(Present(JoinPath(enabled_, "quorvex-webmail.conf")));
}

TEST(ApacheRunSettings, ThePidFileIsTakenFromTheListing) {
    const struct {
        const char* listing;
        const char* pid_file;
    } cases[] = {
        {"ServerRoot: \"/etc/apache2\"\nPidFile: \"/var/run/apache2/apache2.pid\"\nUser: name=\"www-data\" id=33\n",
         "/var/run/apache2/apache2.pid"},
        {"ServerRoot: \"/srv/apache\"\nPidFile: \"run/httpd.pid\"\n", "/srv/apache/run/httpd.pid"},
        {"Syntax OK\nPidFile: /tmp/x.pid\r\n", "/tmp/x.pid"},
        {"Main DocumentRoot: \"/var/www\"\n", ""},
        {"PidFile: \"relative.pid\"\n", ""},  // relative, and no ServerRoot to resolve it
    };
    for (const auto& c : cases) EXPECT_EQ(vdir::PidFileOfRunConfig(c.listing), c.pid_file) << c.listing;
}

}  // namespace
}  // namespace quorvex::testing
