// One account's settings ([System] of its "maillist.ini") and the account
// operations every server shares: create or update within the domain
// limits, existence and password tests, deletion, the domain's allocated
// space and account count, and single-key readers and writers.
// Lock order: the account-file lock, then the account-list lock; notices
// are posted after both are released.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "mailmodel/account/AccountPresence.h"

namespace quorvex {

class NoticeSink;
enum class NoticeId : std::uint16_t;

// Free-text fields are at most this long.
inline constexpr std::size_t kMaxAccountText = 4096;
inline constexpr std::size_t kMaxUserNameLength = 76;

struct AccountRecord {
    AccountRecord();  // Volume = the global default mailbox size

    std::string Name;
    std::string Password;  // stored form (the digest), or a plain text
    int Volume = 20;       // MB
    int Max = 0;           // nonzero: no mailbox size limit
    std::string UserName;
    std::string Comment;
    std::string TimeStamp;  // "%Y/%m/%d %H:%M:%S", local time
    std::string InterMail;  // contact address on the Internet
    int Disabled = 0;
    int IsGroup = 0;
    int Permission = 0;
};

// The current local time as "%Y/%m/%d %H:%M:%S".
std::string AccountTimeStampNow();

// IsGroup and Permission come from the account list; the rest from the file.
bool LoadAccount(std::string_view account, AccountRecord& record);

// What WriteAccount may do: create or update, create only (an account that
// exists by now is never overwritten: the window's new account loses
// against one made meanwhile over the account server), or update only (an
// account deleted meanwhile is not made again).
enum class AccountStoreMode { kCreateOrUpdate, kCreateOnly, kUpdateOnly };

enum class AccountStoreResult {
    kStored,
    kExists,         // kCreateOnly: the account exists
    kMissing,        // kUpdateOnly: the account does not exist
    kRefusedName,    // not a valid (new) account name, or a reserved one
    kUnknownDomain,  // its domain is not in the domain table
    kAccountLimit,   // the domain holds its most accounts
    kSpaceLimit,     // the domain's space would be exceeded
    kRefusedText,    // a text holds CR, LF or NUL, or is too long
    kWriteFailed,
};

// The account's part of creating or updating it: the folder of a new
// account, its settings and its list entry, within the domain limits.
// Refused: an invalid or reserved name, a domain not in the domain table,
// the domain's account or space limit, a negative volume under a space
// limit, a folder that already exists, a text with CR or LF. A name created
// in kCreateOnly mode must pass DecideNewAccountName (a name taken
// meanwhile: kExists). The decision and the creation are one step under
// the account-file lock. `created` tells whether the account is new. Its
// mailbox and the notices are the caller's (StoreAccount,
// mailmodel/provision).
AccountStoreResult WriteAccount(std::string_view account, AccountRecord record, AccountStoreMode mode, bool& created);

// Posts an account notice (WM_NEW_ACCOUNT ...) to `notices`, the process
// bus when null, waiting a moment for the window to take it.
void PostAccountNotice(NoticeSink* notices, NoticeId id, std::string_view account);

// A reserved name ("_..." or "All"), a listed account of the current
// domain mode, or neither.
AccountPresence AccountExists(std::string_view account);

// True when the password's digest, or the password itself, equals the
// stored password of an existing account. An account whose stored password
// is empty accepts nothing.
bool CheckAccountPassword(std::string_view account, std::string_view password);

// Bytes of quota given to the domain's accounts (groups and accounts
// without a limit count nothing).
std::int64_t GetDomainAllocatedSpace(std::string_view domain);
int CountDomainAccounts(std::string_view domain);

// Removes the folder, the list entry and every group membership of the
// account; posts WM_DELETE_ACCOUNT.
bool DeleteAccount(std::string_view account, NoticeSink* notices = nullptr);

bool IsAccountInDomain(std::string_view account, std::string_view domain);

std::optional<std::string> GetAccountInterMail(std::string_view account);
std::optional<std::string> GetAccountUserName(std::string_view account);  // at most 76 characters
bool WriteAccountTimeStamp(std::string_view account, std::string_view text);

}  // namespace quorvex
