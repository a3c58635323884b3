#include "gui/logic/account/BasicInfoForm.h"

#include <algorithm>

#include "common/PasswordDigest.h"
#include "gui/logic/account/AccountNameCheck.h"
#include "mailmodel/provision/AccountProvision.h"

namespace quorvex::gui {

BasicInfoFields FieldsFromRecord(std::string_view name, const AccountRecord& record) {
    BasicInfoFields fields;
    fields.name = std::string(name);
    fields.user_name = record.UserName;
    fields.comment = record.Comment;
    fields.inter_mail = record.InterMail;
    fields.volume = record.Volume;
    fields.unlimited = record.Max != 0;
    fields.disabled = record.Disabled != 0;
    fields.permission = std::clamp(record.Permission, 0, 2);
    return fields;
}

std::string SingleLineText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7f) out += c;
    }
    return out;
}

void ApplyFields(const BasicInfoFields& fields, AccountRecord& record) {
    record.Disabled = fields.disabled ? 1 : 0;
    record.Max = fields.unlimited ? 1 : 0;
    record.Volume = fields.volume;
    record.InterMail = SingleLineText(fields.inter_mail).substr(0, kMaxAccountText);
    record.Comment = SingleLineText(fields.comment).substr(0, kMaxAccountText);
    if (fields.password_typed) record.Password = HashAccountPassword(fields.password, 1);
    record.UserName = SingleLineText(fields.user_name).substr(0, kMaxAccountText);
    record.Permission = std::clamp(fields.permission, 0, 2);
}

BasicInfoField RefusedField(AccountStoreResult result) {
    switch (result) {
        case AccountStoreResult::kExists:
        case AccountStoreResult::kRefusedName:
        case AccountStoreResult::kUnknownDomain: return BasicInfoField::kName;
        case AccountStoreResult::kSpaceLimit: return BasicInfoField::kMailboxSize;
        case AccountStoreResult::kStored:
        case AccountStoreResult::kMissing:
        case AccountStoreResult::kAccountLimit:
        case AccountStoreResult::kRefusedText:
        case AccountStoreResult::kWriteFailed: break;
    }
    return BasicInfoField::kNone;
}

BasicInfoSave SaveBasicInfo(const BasicInfoFields& fields, bool is_new, AccountRecord& record,
                            const CServerSettings& settings, const AccountList& accounts) {
    if (is_new) {
        const std::string_view refusal = CheckNewAccountName(fields.name, settings, accounts);
        if (!refusal.empty()) return {false, refusal, BasicInfoField::kName};
    }
    AccountRecord changed = record;
    ApplyFields(fields, changed);
    if (is_new) changed.TimeStamp = AccountTimeStampNow();
    const AccountStoreResult result = StoreAccount(
        fields.name, changed, is_new ? AccountStoreMode::kCreateOnly : AccountStoreMode::kUpdateOnly);
    if (result != AccountStoreResult::kStored) return {false, AccountStoreMessage(result), RefusedField(result)};
    record = changed;
    return {true, {}};
}

}  // namespace quorvex::gui
