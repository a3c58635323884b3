// Read receipts: when receipts are on, retrieving a message by POP3 marks
// its row of the "receipts" table (found by Message-ID and the account's
// address) as read. Database errors never reach the client.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/ServerSettings.h"

namespace quorvex::pop3 {

// The address a receipt row names: the account, with "@" and the domain
// appended when the name holds no "@".
std::string ReceiptAddress(std::string_view account, std::string_view domain);

// Reads the message's Message-ID and updates the table. False when the
// header could not be read or the update failed (the error is logged).
bool MarkReceiptRead(const CServerSettings& settings, std::string_view account, const std::string& message_path,
                     std::uint8_t key);

}  // namespace quorvex::pop3
