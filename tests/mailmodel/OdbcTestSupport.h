// Points unixODBC at configuration files of the test's own (ODBCSYSINI and
// ODBCINI) for as long as the object lives, and runs command-line tools.
#pragma once

#include <glob.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "common/Paths.h"
#include "support/TempFolder.h"

namespace quorvex::testing {

inline std::string FindOdbcDriver(const char* pattern) {
    glob_t found{};
    std::string path;
    if (::glob(pattern, 0, nullptr, &found) == 0 && found.gl_pathc > 0) path = found.gl_pathv[0];
    ::globfree(&found);
    return path;
}

// unixODBC reads ODBCSYSINI and ODBCINI once per process and keeps the
// paths, so a process uses one folder (made once, removed at exit).
class OdbcConfigFolder {
public:
    static const std::string& Path() {
        static OdbcConfigFolder folder;
        return folder.temp_.path();
    }

private:
    TempFolder temp_;
};

class OdbcConfig {
public:
    // Registers the SQLite3 and PostgreSQL drivers; odbc_ini is the text of
    // the data-source file.
    explicit OdbcConfig(const std::string& odbc_ini) {
        const std::string& folder = OdbcConfigFolder::Path();
        std::ofstream(JoinPath(folder, "odbcinst.ini"))
            << "[SQLite3]\nDriver=" << FindOdbcDriver("/usr/lib/*/odbc/libsqlite3odbc.so") << "\n\n"
            << "[PostgreSQL ANSI]\nDriver=" << FindOdbcDriver("/usr/lib/*/odbc/psqlodbca.so") << "\n";
        std::ofstream(JoinPath(folder, "odbc.ini")) << odbc_ini;
        Save("ODBCSYSINI", folder);
        Save("ODBCINI", JoinPath(folder, "odbc.ini"));
    }
    ~OdbcConfig() {
        for (const auto& [name, value] : saved_) {
            if (value.empty()) ::unsetenv(name.c_str());
            else ::setenv(name.c_str(), value.c_str(), 1);
        }
    }

private:
    void Save(const std::string& name, const std::string& value) {
        const char* old = std::getenv(name.c_str());
        saved_.push_back({name, old ? old : ""});
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<std::pair<std::string, std::string>> saved_;
};

// unixODBC also keeps what it read of those files for the life of the
// process, so every database test runs its body in a fresh copy of the
// test program. Call first thing in a test: true in the outer run (the
// child ran and its result was checked), false inside the child.
inline bool RunInFreshProcess() {
    if (std::getenv("QUORVEX_ODBC_CHILD")) return false;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("QUORVEX_ODBC_CHILD", "1", 1);
        ::execl("/proc/self/exe", "tests_mailmodel", filter.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "isolated run of " << filter << " failed";
    return true;
}

// Runs a shell command and returns what it printed (stdout), and its
// exit status through `status`.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
    const int rc = ::pclose(pipe);
    if (status) *status = rc;
    return out;
}

}  // namespace quorvex::testing
