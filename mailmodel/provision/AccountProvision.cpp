// Account settings first, then the new mailbox's first mail, then the notice.
#include "mailmodel/provision/AccountProvision.h"

#include "common/Notices.h"
#include "mailmodel/AppServices.h"
#include "mailmodel/store/MailStore.h"

namespace quorvex {

AccountStoreResult StoreAccount(std::string_view account, AccountRecord record, AccountStoreMode mode,
                                NoticeSink* notices) {
    bool created = false;
    const AccountStoreResult result = WriteAccount(account, std::move(record), mode, created);
    if (result != AccountStoreResult::kStored) return result;
    if (created) {
        if (const std::string welcome = EnsureWelcomeMailFile(); !welcome.empty())
            AddMessageToMailbox(account, welcome, nullptr, 0, true, false);
    }
    PostAccountNotice(notices, created ? NoticeId::WM_NEW_ACCOUNT : NoticeId::WM_UPDATE_ACCOUNT, account);
    return AccountStoreResult::kStored;
}

bool SaveAccount(std::string_view account, AccountRecord record, NoticeSink* notices) {
    return StoreAccount(account, std::move(record), AccountStoreMode::kCreateOrUpdate, notices) ==
           AccountStoreResult::kStored;
}

}  // namespace quorvex
