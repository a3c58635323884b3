// The log dialog's files and the one safe way to clear logs: only this
// program's own files directly in the log folder go, whatever else is there.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "gui/logic/LogFiles.h"
#include "support/TempFolder.h"

namespace quorvex::gui {
namespace {

using quorvex::testing::TempFolder;

TEST(LogFiles, TodaysFileOfEachLog) {
    std::tm day{};
    day.tm_year = 126;
    day.tm_mon = 2;
    day.tm_mday = 7;
    day.tm_hour = 12;
    const std::time_t when = std::mktime(&day);
    EXPECT_EQ(LogFilePath(LogKind::kSmtp, "/l", when), "/l/smtplog20260307.txt");
    EXPECT_EQ(LogFilePath(LogKind::kPop3, "/l", when), "/l/pop3log20260307.txt");
    EXPECT_EQ(LogFilePath(LogKind::kSystem, "/l", when), "/l/syslog20260307.txt");
    EXPECT_EQ(LogFilePath(LogKind::kInternet, "/l", when), "/l/Internetsendlog20260307.txt");
}

TEST(LogFiles, WhatCountsAsTheProgramsLog) {
    struct Case {
        const char* name;
        bool ours;
    };
    const Case cases[] = {
        {"syslog20260101.txt", true},   {"smtplog20260101.txt", true},  {"pop3log20260101.txt", true},
        {"Internetsendlog20260101.txt", true}, {"quorvexlog.txt", true}, {"log.dat", true},
        {"syslog", false},               {"syslog.1", false},            {"syslog2026010.txt", false},
        {"syslog2026010x.txt", false},   {"SYSLOG20260101.txt", false},  {"syslog20260101.txt.gz", false},
        {"keep.me", false},              {"internetsendlog20260101.txt", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsProgramLogFileName(c.name), c.ours) << c.name;
    for (const char* folder : {"/x/log", "/x/Log", "/x/LOG/", "/var/log"}) EXPECT_TRUE(IsClearableLogFolder(folder)) << folder;
    for (const char* folder : {"/x/Logs", "/x/catalog", "/", "", "/x/log/sub"}) EXPECT_FALSE(IsClearableLogFolder(folder)) << folder;
}

TEST(LogFiles, ClearingKeepsForeignFilesSubfoldersAndLinkTargets) {
    TempFolder root;
    const std::string folder = root.File("log");
    std::filesystem::create_directories(folder + "/sub");
    auto write = [](const std::string& path) { std::ofstream(path) << "x"; };
    for (const char* name : {"syslog20260101.txt", "smtplog20260102.txt", "quorvexlog.txt", "Internetsendlog20260101.txt"}) {
        write(folder + "/" + name);
    }
    write(folder + "/keep.me");
    write(folder + "/syslog");  // a system log of another program
    write(folder + "/sub/syslog20260101.txt");
    write(root.File("outside.txt"));
    ASSERT_EQ(::symlink(root.File("outside.txt").c_str(), (folder + "/pop3log20260101.txt").c_str()), 0);

    EXPECT_EQ(ClearProgramLogs(folder), 4);
    EXPECT_TRUE(std::filesystem::exists(folder + "/keep.me"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/syslog"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/sub/syslog20260101.txt"));
    EXPECT_TRUE(std::filesystem::exists(root.File("outside.txt")));
    EXPECT_TRUE(std::filesystem::is_symlink(folder + "/pop3log20260101.txt"));  // not a file of ours
    EXPECT_FALSE(std::filesystem::exists(folder + "/syslog20260101.txt"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/quorvexlog.txt"));

    // A folder that is not named log keeps everything.
    const std::string other = root.File("Logs");
    std::filesystem::create_directories(other);
    write(other + "/syslog20260101.txt");
    EXPECT_EQ(ClearProgramLogs(other), -1);
    EXPECT_TRUE(std::filesystem::exists(other + "/syslog20260101.txt"));
    // A log folder that is a link is not followed.
    std::filesystem::create_directories(root.File("y"));
    ASSERT_EQ(::symlink(other.c_str(), root.File("y/log").c_str()), 0);
    EXPECT_EQ(ClearProgramLogs(root.File("y/log")), -1);
    EXPECT_TRUE(std::filesystem::exists(other + "/syslog20260101.txt"));
}

}  // namespace
}  // namespace quorvex::gui
