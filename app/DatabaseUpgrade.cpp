// The one-time migration of mailboxes kept in the old list format: each
// account's maillist.ini listed its messages ([List] for the inbox,
// [Folder] for the second folder) beside files "<n>.eml" and "<n>.folder".
// Every message moves into the mailbox store; group members, one remote
// POP3 box and forwarding move to their own sections. Each message is
// stored before its keys are removed, so a run that is cut short loses
// nothing and the next start carries on.
#include <cstdio>
#include <ctime>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include "app/DataFiles.h"
#include "app/DatabaseTasks.h"
#include "app/ProgramMessages.h"
#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/db/MailDatabase.h"
#include "mailmodel/store/MailStore.h"
#include "servers/remotepop3/UidlRecordFile.h"

namespace quorvex::app {

namespace {

constexpr std::string_view kNewestOldFormatVersion = "5.0";
constexpr std::size_t kMaxUidLength = 140;
constexpr std::size_t kMaxInboxUidlLength = 70;
constexpr std::size_t kMaxFolderUidlLength = 1023;

std::string Numbered(std::string_view key, long long number) { return std::string(key) + std::to_string(number); }

std::string Cut(std::string_view text, std::size_t length) { return std::string(text.substr(0, length)); }

// One old message list: its section, the file suffix and the target folder.
struct OldList {
    const char* section;
    const char* suffix;
    int folder;
    std::size_t uidl_length;
};

class AccountMigration {
public:
    AccountMigration(std::string account, std::string settings_path, std::string folder, db::Connection& database)
        : account_(std::move(account)), ini_(std::move(settings_path)), folder_(std::move(folder)), database_(database) {}

    void Run() {
        MigrateList({"List", ".eml", 0, kMaxInboxUidlLength});
        MigrateList({"Folder", ".folder", 1, kMaxFolderUidlLength});
        ini_.DeleteKey("system", "NextUID");
        MigrateLists();
    }

private:
    void MigrateList(const OldList& list) {
        // The count is read again for each message, as keys go.
        for (int i = 1; i <= ini_.GetInt(list.section, "MailCount", 0); ++i) {
            const auto doc = ini_.Load();
            const long long number = ParseNumber(doc->Find(list.section, Numbered("mail", i)).value_or(""));
            const std::string uidl =
                Cut(doc->Find(list.section, Numbered("UIDL", number)).value_or(""), list.uidl_length);
            const bool read = ParseNumber(doc->Find(list.section, Numbered("Read", i)).value_or("")) != 0;

            const std::string name = std::to_string(number) + list.suffix;
            const std::string file = JoinPath(folder_, name);
            const std::string moved = JoinPath(folder_, "_" + name);
            // The store may give the new message the old file's name, so the
            // old file steps aside first (an earlier run may have done so).
            if (FileExists(file)) std::rename(file.c_str(), moved.c_str());
            std::string id;
            if (FileExists(moved) && AddMessageToMailbox(account_, moved, &id, list.folder, true, read)) {
                MigratePop3UidlFile(account_, uidl, id);
                if (list.folder == 1) {
                    RewriteMailfolderUid(database_, account_, uidl,
                                         FormatMailUid(account_, static_cast<std::uint32_t>(ParseNumber(id))));
                }
            } else {
                QUORVEX_ERROR_LOG("upgrade: message " + moved + " of " + account_ + " could not be stored");
            }
            ini_.Edit([&](IniDocument& edit) {
                edit.RemoveKey(list.section, Numbered("mail", i));
                edit.RemoveKey(list.section, Numbered("UIDL", number));
                edit.RemoveKey(list.section, Numbered("Read", i));
                return true;
            });
            if (!id.empty()) ::unlink(moved.c_str());
        }
        ini_.Edit([&](IniDocument& edit) {
            edit.RemoveKey(list.section, "MailCount");
            edit.RemoveKey(list.section, "MailSize");
            edit.RemoveKey(list.section, "NextFileID");
            edit.RemoveSection(list.section);
            return true;
        });
    }

    void MigrateLists() {
        ini_.Edit([](IniDocument& doc) {
            const auto text = [&](std::string_view key, std::string_view fallback = "") {
                return std::string(doc.Find("system", key).value_or(fallback));
            };
            const long long members = ParseNumber(text("MemberCount", "0"));
            if (members > 0) {
                doc.Set("EmailGroup", "Count", std::to_string(members));
                for (long long m = 1; m <= members; ++m) {
                    const std::string member(doc.Find("Members", Numbered("Member", m)).value_or(""));
                    doc.Set("EmailGroup", Numbered("Member", m), member);
                }
            }
            if (const std::string server = text("POP3Server"); !server.empty()) {
                doc.Set("POP3Remote", "Count", "1");
                doc.Set("POP3Remote", "POP3Server1", server);
                doc.Set("POP3Remote", "Enable1", "1");
                doc.Set("POP3Remote", "POP3Password1", text("POP3Password"));
                doc.Set("POP3Remote", "POP3Account1", text("POP3Account"));
                doc.Set("POP3Remote", "LeaveCopy1", text("LeaveCopy", "0"));
            }
            if (const std::string forward = text("ForwardMailAddresses"); !forward.empty()) {
                doc.Set("EmailForward", "Count", "1");
                doc.Set("EmailForward", "EmailAddress1", forward);
                doc.Set("EmailForward", "LeaveCopyLocal", text("LeaveCopyLocal", "1"));
            }
            for (std::string_view key : {"MemberCount", "POP3Server", "POP3Password", "POP3Account", "LeaveCopy",
                                         "ForwardMailAddresses", "LeaveCopyLocal"}) {
                doc.RemoveKey("system", key);
            }
            doc.RemoveSection("Members");
            return true;
        });
    }

    static long long ParseNumber(std::string_view text) { return ParseProfileInt(text, 0); }

    std::string account_;
    ProfileFile ini_;
    std::string folder_;
    db::Connection& database_;
};

}  // namespace

db::Status EnsureMailDatabase(const std::string& schema_path) {
    if (!FileExists(MailDatabasePath()) && !MakeFolders(std::string(DirName(MailDatabasePath())))) {
        return db::Status{"the folder of " + MailDatabasePath() + " cannot be created", ""};
    }
    return CreateMailDatabase(schema_path, MailDatabaseLoginFromSettings(),
                              schema_path.empty() ? SearchedDataFolders() : std::vector<std::string>{});
}

int UpgradeDatabase(const std::string& schema_path) {
    const std::string config = Settings()->ConfigIni();
    const std::string version = ReadProfileString(config, "System", "Version", "");
    if (version.empty() || version > kNewestOldFormatVersion || ReadProfileInt(config, "System", "DBUpgrade1.0", 0) != 0) {
        return 1;
    }
    db::Connection database;
    db::Status opened = EnsureMailDatabase(schema_path);
    if (opened) opened = OpenMailDatabase(database, MailDatabaseLoginFromSettings());
    if (!opened) throw std::runtime_error("the mail database cannot be opened for the mailbox upgrade: " + opened.error);

    WriteProgramLog("Upgrading the mailboxes of " + std::to_string(Accounts().GetCount()) + " accounts.");
    for (int index = 0; index < Accounts().GetCount(); ++index) {
        const auto name = Accounts().GetName(index);
        if (!name) continue;
        const auto settings_path = Accounts().GetSettingsPath(*name);
        const auto folder = Accounts().GetFolderPath(*name);
        if (!settings_path || !folder) continue;
        AccountMigration(*name, *settings_path, *folder, database).Run();
    }
    database.Close();
    ProfileFile(config).WriteString("system", "DBUpgrade1.0", "1");
    WriteProgramLog("The mailbox upgrade is done.");
    return 1;
}

int RewriteMailfolderUid(db::Connection& database, std::string_view account, std::string_view old_uid,
                         std::string_view new_uid) {
    const db::Status done = database.Execute("update mailfolder set uid = ? where uid = ? and account = ?",
                                             {Cut(new_uid, kMaxUidLength), Cut(old_uid, kMaxUidLength), std::string(account)});
    if (!done) {
        ShowErrorMessage("The mailfolder table could not be updated: " + done.error);
        return 0;
    }
    return 1;
}

int MigratePop3UidlFile(std::string_view account, std::string_view old_uidl, std::string_view new_number) {
    const auto folder = Accounts().GetFolderPath(account);
    if (!folder) return 0;
    remotepop3::UidlRecordFile file(JoinPath(*folder, remotepop3::kUidlFileName));
    return file.Record(old_uidl, new_number, std::time(nullptr)) ? 1 : 0;
}

}  // namespace quorvex::app
