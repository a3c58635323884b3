// Insertion of mail summaries into the mailfolder table.
#include "mailmodel/db/MailFolderTable.h"

#include "common/ErrorLog.h"


namespace quorvex {

namespace {

std::string OrDefault(const std::string& value, std::string_view fallback) {
    return value.empty() ? std::string(fallback) : value;
}

}  // namespace

std::mutex& MailDatabaseLock() {
    static std::mutex lock;
    return lock;
}

bool InsertMailSummary(std::string_view account, int folder_id, std::string_view uid, const MailSummary& summary,
                       const MailDatabaseLogin& login) {
    const std::vector<db::Param> row = {
        std::string(account),
        std::string(uid),
        std::int64_t{folder_id},
        OrDefault(summary.Subject, "(nosubject)"),
        OrDefault(summary.From, "(noaddr)"),
        OrDefault(summary.Date, "(nodate)"),
        std::int64_t{summary.Size},
        std::int64_t{0},
    };
    std::lock_guard guard(MailDatabaseLock());
    db::Connection connection;
    db::Status status = OpenMailDatabase(connection, login);
    if (status)
        status = connection.Execute(
            "INSERT INTO mailfolder (account, uid, folderid, subject, mailfrom, maildate, mailsize, mailIsread) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
            row);
    if (status) return true;
    QUORVEX_ERROR_LOG("mailfolder insert failed: " + status.error);
    return false;
}

bool InsertMailSummary(std::string_view account, int folder_id, std::string_view uid, const MailSummary& summary) {
    return InsertMailSummary(account, folder_id, uid, summary, MailDatabaseLoginFromSettings());
}

}  // namespace quorvex
