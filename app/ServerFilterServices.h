// The real services behind the mail filters: the header summary, the MIME
// parser, the database record of a copy filed in the mailbox's second
// slot, the stored procedure, the account's phone number (its Comment),
// the SMS library and the system log.
#pragma once

#include "servers/filters/MailFilters.h"

namespace quorvex {

// The table that holds the database filter's statement on engines without
// stored procedures (SQLite): one row per procedure name, its body a
// SELECT with the eight inputs as "?" in order (From, To, Subject, Http,
// File, Size, Date, ReturnPath) giving the command in its first column.
inline constexpr std::string_view kProcedureTable = "StoredProcedures";
inline constexpr std::string_view kFilterProcedure = "sp_QuorvexServer";

class ServerFilterServices final : public FilterServices {
public:
    std::shared_ptr<const CServerSettings> Settings() override;
    std::optional<FilterSummary> ReadSummary(const std::string& file, std::string_view account) override;
    std::optional<MessageLinks> ReadLinks(const std::string& file, std::size_t max_bytes) override;
    void RecordInFolder(std::string_view account, int folder, std::string_view uid,
                        const FilterSummary& summary) override;
    std::optional<std::string> RunProcedure(const DatabaseFilterParams& params) override;
    std::string AccountComment(std::string_view account) override;
    bool SendSms(std::string_view number, std::string_view text) override;
    void WriteSystemLog(std::string_view text) override;
};

}  // namespace quorvex
