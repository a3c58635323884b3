// Wiring of the mail filters to the server's subsystems.
#include "app/ServerFilterServices.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/ErrorLog.h"
#include "common/Paths.h"
#include "common/UniqueFd.h"
#include "mailmodel/account/AccountConfig.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/db/MailDatabase.h"
#include "mailmodel/db/MailFolderTable.h"
#include "mailmodel/store/MailStore.h"
#include "mailmodel/summary/MailSummary.h"
#include "mailmodel/summary/SenderCheckServices.h"
#include "servers/filters/MessageLinks.h"
#include "servers/filters/SmsNotice.h"
#include "servers/logs/MainLog.h"
#include "servers/logs/ServerLogs.h"

namespace quorvex {

namespace {

// The database filter reads a message in blocks of this size.
constexpr std::size_t kReadBlock = 16 * 1024;

MailSummary ToMailSummary(const FilterSummary& s) {
    MailSummary m;
    m.From = s.from;
    m.Subject = s.subject;
    m.Date = s.date;
    m.ReturnPath = s.return_path;
    m.Size = s.size;
    m.Flags = s.flags;
    return m;
}

MailDatabaseLogin Login(const CServerSettings& settings) { return {settings.ODBCUser, settings.ODBCPassword}; }

std::string LogFolder(const CServerSettings& settings) {
    return settings.LogFilePath.empty() ? JoinPath(settings.Folder(), "log") : settings.LogFilePath;
}

// One main log line per diagnostic record of a database error. The driver
// gives no error number of its own, so the number is 0; the description
// starts with the SQLSTATE.
void LogDatabaseError(const CServerSettings& settings, std::string_view error) {
    const std::string folder = LogFolder(settings);
    while (!error.empty()) {
        const auto end = error.find('\n');
        WriteMainLog(folder, DatabaseErrorLine(0, error.substr(0, end)));
        error = end == std::string_view::npos ? std::string_view() : error.substr(end + 1);
    }
}

}  // namespace

std::shared_ptr<const CServerSettings> ServerFilterServices::Settings() { return quorvex::Settings(); }

std::optional<FilterSummary> ServerFilterServices::ReadSummary(const std::string& file, std::string_view) {
    const auto settings = Settings();
    SummaryCheckOptions options{settings->AntiSpamEnable != 0, settings->WhiteList, settings->DNS,
                                settings->DNSSecondary};
    MailSummary summary;
    if (!ParseMailSummary(file, summary, false, 0, options, InstalledSenderCheckServices().get())) return std::nullopt;
    return FilterSummary{summary.From, summary.Subject, summary.Date, summary.ReturnPath, summary.Size, summary.Flags};
}

std::optional<MessageLinks> ServerFilterServices::ReadLinks(const std::string& file, std::size_t max_bytes) {
    try {
        const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd) return std::nullopt;
        MessageLinkScanner scanner;
        char block[kReadBlock];
        for (std::size_t read = 0; max_bytes == 0 || read < max_bytes;) {
            const std::size_t want = max_bytes == 0 ? sizeof block : std::min(sizeof block, max_bytes - read);
            const ssize_t n = ::read(fd.get(), block, want);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return std::nullopt;
            if (n == 0) break;
            scanner.Feed(std::string_view(block, static_cast<std::size_t>(n)));
            read += static_cast<std::size_t>(n);
        }
        return scanner.Finish();
    } catch (const std::exception& error) {
        WriteErrorLog(__FILE__, __LINE__, error.what());
        return std::nullopt;
    }
}

void ServerFilterServices::RecordInFolder(std::string_view account, int folder, std::string_view uid,
                                          const FilterSummary& summary) {
    const std::string stored = Accounts().StoredName(account);
    const auto value = static_cast<std::uint32_t>(std::strtoul(std::string(uid).c_str(), nullptr, 10));
    InsertMailSummary(stored, folder, FormatMailUid(stored, value), ToMailSummary(summary), Login(*Settings()));
}

std::optional<std::string> ServerFilterServices::RunProcedure(const DatabaseFilterParams& p) {
    const std::vector<db::Param> params = {p.From, p.To, p.Subject, p.Http, p.File, p.Size, p.Date, p.ReturnPath};
    db::Connection connection;
    db::Status status = OpenMailDatabase(connection, Login(*Settings()));
    std::vector<db::Row> rows;
    if (status) {
        if (connection.EngineName().find("SQLite") != std::string::npos) {
            std::vector<db::Row> body;
            status = connection.Query("SELECT Body FROM " + std::string(kProcedureTable) + " WHERE Name = ?",
                                      {std::string(kFilterProcedure)}, body);
            if (status && (body.empty() || body[0].empty() || !body[0][0])) {
                status.error = "no statement stored for " + std::string(kFilterProcedure);
            }
            if (status) status = connection.Query(*body[0][0], params, rows);
        } else {
            status = connection.Query("{call " + std::string(kFilterProcedure) + "(?,?,?,?,?,?,?,?)}", params, rows);
        }
    }
    if (!status) {
        LogDatabaseError(*Settings(), status.error);
        return std::nullopt;
    }
    if (rows.empty() || rows[0].empty() || !rows[0][0]) return std::string();
    return *rows[0][0];
}

std::string ServerFilterServices::AccountComment(std::string_view account) {
    AccountRecord record;
    return LoadAccount(account, record) ? record.Comment : std::string();
}

bool ServerFilterServices::SendSms(std::string_view number, std::string_view text) {
    return SendSmsNotice(*Settings(), number, text);
}

void ServerFilterServices::WriteSystemLog(std::string_view text) {
    const auto settings = Settings();
    quorvex::WriteSystemLog({LogFolder(*settings), settings->MaxLogLine}, text);
}

}  // namespace quorvex
