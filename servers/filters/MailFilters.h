// The filters local delivery runs before it stores a message for an
// ordinary account: the database filter (a stored procedure's verdict), the
// recipient's own rules and the system-wide rules with the junk folder. A
// message no filter takes may be announced by a short message.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ServerSettings.h"

namespace quorvex {

// Folder numbers recorded for messages the filters store.
inline constexpr int kHeldFolder = 3;
inline constexpr int kJunkFolder = 4;
// With the database filter first, it reads at most this much of a message.
inline constexpr std::size_t kDatabaseFilterReadLimit = 4 * 1024 * 1024;

// What the filters read of a message's header.
struct FilterSummary {
    std::string from;         // the From text
    std::string subject;
    std::string date;
    std::string return_path;  // lower-cased envelope sender
    std::int64_t size = 0;
    int flags = 0;            // bit 0 spam, bit 1 notify
};

// What the database filter reads of a message's parts.
struct MessageLinks {
    std::string hosts;        // "host|" for each "http://" link of the text parts
    std::string attachments;  // "name|" for each attachment
};

// The nine parameters of the stored procedure "sp_QuorvexServer" (the
// ninth, "Command", is its answer).
struct DatabaseFilterParams {
    std::string From, To, Subject, Http, File;
    std::int64_t Size = 0;
    std::string Date, ReturnPath;
};

enum class DatabaseVerdict { kInbox = 0, kDrop = -1, kHold = 3 };

// What the filters decided for a message: nothing (it goes to the inbox),
// a folder copy or a drop (taken), or nothing could be decided because the
// message could not be written out for them (delivery must fail).
enum class FilterOutcome { kInbox, kTaken, kStoreFailed };

// The filters' whole decision for one message, made before anything is
// stored: the copy it asks for is stored with the delivery's other copies,
// and what follows a stored copy (its database record, the short-message
// notice) waits for the delivery's commit.
struct FilterDecision {
    FilterOutcome outcome = FilterOutcome::kInbox;
    // A copy for the mailbox's second slot, recorded with this folder
    // number; none when the message goes to the inbox or is dropped.
    std::optional<int> folder;
    FilterSummary summary;  // what the folder copy's record holds
    // The short message that announces an inbox copy.
    std::optional<std::string> notice;
};

// Services of the mailbox store, the message library and the database.
class FilterServices {
public:
    virtual ~FilterServices() = default;
    virtual std::shared_ptr<const CServerSettings> Settings() = 0;
    virtual std::optional<FilterSummary> ReadSummary(const std::string& file, std::string_view account) = 0;
    // The links and attachment names of the message, read from at most
    // `max_bytes` of the file (0: all); nothing when it cannot be read.
    virtual std::optional<MessageLinks> ReadLinks(const std::string& file, std::size_t max_bytes) = 0;
    // Records the summary of a folder copy stored in the account's second
    // mailbox slot under the UID number `uid`, with its folder number.
    virtual void RecordInFolder(std::string_view account, int folder, std::string_view uid,
                                const FilterSummary& summary) = 0;
    // The procedure's "Command" answer; nothing on a database error (which
    // the implementation writes to the main log).
    virtual std::optional<std::string> RunProcedure(const DatabaseFilterParams& params) = 0;
    virtual std::string AccountComment(std::string_view account) = 0;
    virtual bool SendSms(std::string_view number, std::string_view text) = 0;
    virtual void WriteSystemLog(std::string_view text) = 0;
};

// Whether any filter would look at a message for the account: the
// database filter, the short-message notice, the junk folder, or rules of
// the account or of the system. When none would, DecideMailFilters leaves
// every message in the inbox without reading it.
bool MailFiltersMayTake(const CServerSettings& settings, std::string_view account);

// Runs the database filter's procedure and the rules and decides: kTaken
// with a folder for a copy to file, kTaken without one for a drop, kInbox
// (with the notice when short messages are on) for the inbox. Stores and
// sends nothing.
FilterDecision DecideMailFilters(FilterServices& services, std::string_view account, const std::string& file);

// After the delivery's commit, for a message that stayed: the database
// record of a folder copy stored as `uid`, or the notice of an inbox copy
// (written to the system log once the gateway took it).
void CompleteMailFilters(FilterServices& services, std::string_view account, const FilterDecision& decision,
                         std::string_view uid);

// "host|" entries for each "http://" link of the text parts (unique, the
// list kept under 999 characters) and "name|" for each attachment (the
// list kept under 254 characters).
void CollectLinkHosts(std::string_view text, std::string& hosts);
void CollectAttachmentName(std::string_view name, std::string& names);

// CollectLinkHosts for a text that comes in pieces: a link cut by the end
// of a piece is taken whole once the rest arrives. Holds no more than one
// piece and the longest host the list could take.
class LinkHostCollector {
public:
    explicit LinkHostCollector(std::string& hosts) : hosts_(hosts) {}
    void Feed(std::string_view text);
    // The text ends: a host still open ends with it.
    void End();

private:
    void Scan(bool at_end);

    std::string& hosts_;
    std::string pending_;
    std::size_t from_ = 0;  // where the search for the next link goes on
};

// The parameters for a message: nothing when the sender has no "@" or the
// message has no date (then the message is dropped unasked).
std::optional<DatabaseFilterParams> BuildDatabaseFilterParams(const FilterSummary& summary, std::string_view account,
                                                              const CServerSettings& settings, std::string hosts,
                                                              std::string attachments);

// The verdict of a "Command" answer: "inbox..." or "delete..." (any case,
// blanks around ignored); anything else, or no answer, holds the message.
DatabaseVerdict InterpretProcedureAnswer(const std::optional<std::string>& answer);

}  // namespace quorvex
