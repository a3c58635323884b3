// The "mailfolder" table: one row per message a filter filed into a
// web-mail folder, which the web-mail pages read to show their folders.
#pragma once

#include <mutex>
#include <string_view>

#include "mailmodel/db/MailDatabase.h"
#include "mailmodel/summary/MailSummary.h"

namespace quorvex {

// Serialises the connections of the inserts below; no other lock is taken
// while it is held.
std::mutex& MailDatabaseLock();

// Inserts the row (all values bound; empty sender, subject and date become
// "(noaddr)", "(nosubject)" and "(nodate)"). False, with a logged reason,
// on any database error; the stored message itself is not touched.
bool InsertMailSummary(std::string_view account, int folder_id, std::string_view uid, const MailSummary& summary,
                       const MailDatabaseLogin& login);
// The same with [System] ODBCUser and ODBCPassword of the published settings.
bool InsertMailSummary(std::string_view account, int folder_id, std::string_view uid, const MailSummary& summary);

}  // namespace quorvex
