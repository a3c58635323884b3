// Read receipts in the mail database.
#include "servers/pop3/Pop3Receipts.h"

#include "common/ErrorLog.h"
#include "mailmodel/db/MailDatabase.h"
#include "mailmodel/db/Odbc.h"
#include "mailmodel/summary/MailSummary.h"

namespace quorvex::pop3 {

std::string ReceiptAddress(std::string_view account, std::string_view domain) {
    std::string address(account);
    if (address.find('@') == std::string::npos) {
        address += '@';
        address += domain;
    }
    return address;
}

bool MarkReceiptRead(const CServerSettings& settings, std::string_view account, const std::string& message_path,
                     std::uint8_t key) {
    MailSummary summary;
    if (!ParseMailSummary(message_path, summary, key != 0, key, SummaryCheckOptions{}, nullptr)) return false;
    if (summary.MessageId.empty()) return false;
    const std::string address = ReceiptAddress(account, settings.Dominame);
    db::Connection connection;
    db::Status status = OpenMailDatabase(connection, {settings.ODBCUser, settings.ODBCPassword});
    // Built piece by piece: g++ 12 warns falsely on "literal" + string here.
    std::string display_form = "%<";
    display_form += address;
    display_form += ">%";
    if (status) {
        // The account column holds either the bare address or a display
        // form with the address in angle brackets.
        status = connection.Execute(
            "update receipts set mailisread=1 where messageid = ? and (account = ? or account like ?)",
            {summary.MessageId, address, display_form});
    }
    if (!status) {
        QUORVEX_ERROR_LOG("receipt update for " + address + " failed: " + status.error);
        return false;
    }
    return true;
}

}  // namespace quorvex::pop3
