// The Basic Info page's fields and what saving them does to the account:
// the record is the one loaded when the page opened, and only the fields
// the page shows change in it. The password field never holds the stored
// digest: it starts empty, and only a password the administrator typed is
// hashed and stored; otherwise the stored text stays as it is.
#pragma once

#include <string>
#include <string_view>

#include "common/ServerSettings.h"
#include "mailmodel/account/AccountConfig.h"

namespace quorvex {
class AccountList;
}

namespace quorvex::gui {

struct BasicInfoFields {
    std::string name;
    std::string password;           // as typed; meaningful when password_typed
    bool password_typed = false;    // the field was edited
    std::string user_name;
    std::string comment;
    std::string inter_mail;
    int volume = 0;
    bool unlimited = false;
    bool disabled = false;
    int permission = 0;             // 0 mail account, 1 domain admin, 2 system admin
};

// The fields of a record (the password field empty).
BasicInfoFields FieldsFromRecord(std::string_view name, const AccountRecord& record);

// Copies the fields into the record. Single-line texts lose CR, LF and the
// other control characters (a pasted line break would add a key to the
// account's settings).
void ApplyFields(const BasicInfoFields& fields, AccountRecord& record);

// A single-line text as it may be stored: control characters removed.
std::string SingleLineText(std::string_view text);

// The page's field a refusal names.
enum class BasicInfoField { kNone, kName, kMailboxSize };

// The field a refusal of the account store names, if any.
BasicInfoField RefusedField(AccountStoreResult result);

struct BasicInfoSave {
    bool saved = false;
    std::string_view message;  // the refusal's text key when not saved
    BasicInfoField field = BasicInfoField::kNone;
};

// Saves the page: a new account is checked by name (under `settings`,
// beside `accounts`) and created only when no account of that name exists
// by then; an existing one is updated only while it still exists.
// `record` is the page's record, updated on success.
BasicInfoSave SaveBasicInfo(const BasicInfoFields& fields, bool is_new, AccountRecord& record,
                            const CServerSettings& settings, const AccountList& accounts);

}  // namespace quorvex::gui
