// Database filter, rule filters and the short-message notice.
#include "servers/filters/MailFilters.h"

#include <algorithm>

#include "common/AsciiCase.h"
#include "common/TextHelpers.h"
#include "servers/filters/EmailFilter.h"

namespace quorvex {

namespace {

constexpr std::size_t kMaxHostList = 999;
constexpr std::string_view kLinkScheme = "http://";
// The characters that end a link's host.
constexpr std::string_view kHostEnd = " \r\n\"></?:";
constexpr std::size_t kMaxAttachmentList = 254;

std::string Cut(std::string text, std::size_t limit) {
    if (text.size() > limit) text.resize(limit);
    return text;
}

// The text between the first "<" and the following ">", the whole text
// when there is no "<".
std::string AngleAddress(std::string_view text) {
    const auto open = text.find('<');
    if (open == std::string_view::npos) return std::string(text);
    const auto close = text.find('>', open);
    if (close == std::string_view::npos) return {};
    return std::string(text.substr(open + 1, close - open - 1));
}

FilterDecision Drop() { return {FilterOutcome::kTaken, std::nullopt, {}, std::nullopt}; }

FilterDecision FileIn(int folder, FilterSummary summary) {
    return {FilterOutcome::kTaken, folder, std::move(summary), std::nullopt};
}

// Rule matching of the recipient's or the system's rules.
FilterDecision MatchRules(FilterServices& services, const CEmailFilter& rules, bool junk_step, std::string_view account,
                          const std::string& file, const CServerSettings& settings) {
    if (rules.GetCount() == 0 && !(junk_step && settings.AntiSpamEnable != 0)) return {};
    auto summary = services.ReadSummary(file, account);
    if (!summary) return {};
    // The rules see, and a folder copy's record keeps, the marked subject.
    FilterSummary& stored = *summary;
    if (stored.flags & 1) stored.subject = "[SPAM]" + stored.subject;
    if (stored.flags & 2) stored.subject = Cut("[NOTIFY]" + stored.subject, 256);
    for (int i = 0; i < rules.GetCount(); ++i) {
        FilterRule rule;
        rules.GetRule(i, rule);
        if (!rule.Matches(stored.subject, stored.from)) continue;
        if (rule.EmailDeliver == 0) return FileIn(rule.FolderDeliverTo, std::move(stored));
        if (rule.EmailDeliver == 1) return Drop();
    }
    if (junk_step && settings.AntiSpamEnable != 0 && (stored.flags & 1)) {
        return FileIn(kJunkFolder, std::move(stored));
    }
    return {};
}

FilterDecision RuleSteps(FilterServices& services, std::string_view account, const std::string& file,
                         const CServerSettings& settings) {
    CEmailFilter rules;
    if (rules.Load(account)) {
        FilterDecision decision = MatchRules(services, rules, false, account, file, settings);
        if (decision.outcome != FilterOutcome::kInbox) return decision;
    }
    CEmailFilter system_rules;
    if (settings.EnableSystemFilter != 0 && !system_rules.Load(settings.EmailFilterSystem)) return {};
    return MatchRules(services, system_rules, true, account, file, settings);
}

// Taken (held or dropped), or go on (kInbox).
FilterDecision DatabaseStep(FilterServices& services, std::string_view account, const std::string& file,
                            const CServerSettings& settings, std::size_t read_limit) {
    const auto summary = services.ReadSummary(file, account);
    if (!summary) return Drop();
    auto links = services.ReadLinks(file, read_limit);
    if (!links) return Drop();
    const auto params =
        BuildDatabaseFilterParams(*summary, account, settings, std::move(links->hosts), std::move(links->attachments));
    if (!params) return Drop();
    switch (InterpretProcedureAnswer(services.RunProcedure(*params))) {
    case DatabaseVerdict::kDrop:
        return Drop();
    case DatabaseVerdict::kHold:
        return FileIn(kHeldFolder, *summary);
    case DatabaseVerdict::kInbox:
        return {};
    }
    return {};
}

}  // namespace

void CollectLinkHosts(std::string_view text, std::string& hosts) {
    LinkHostCollector collector(hosts);
    collector.Feed(text);
    collector.End();
}

void LinkHostCollector::Feed(std::string_view text) {
    pending_.append(text);
    Scan(false);
}

void LinkHostCollector::End() {
    Scan(true);
    pending_.clear();
    from_ = 0;
}

void LinkHostCollector::Scan(bool at_end) {
    for (;;) {
        const std::size_t at = pending_.find(kLinkScheme, from_);
        if (at == std::string::npos) {
            // Only the start of a scheme cut by the piece's end may matter.
            const std::size_t keep = std::min(pending_.size() - from_, kLinkScheme.size() - 1);
            pending_.erase(0, pending_.size() - keep);
            from_ = 0;
            return;
        }
        const std::size_t start = at + kLinkScheme.size();
        const std::size_t end = pending_.find_first_of(kHostEnd, start);
        // A host the list could still take may go on in the next piece.
        if (end == std::string::npos && !at_end && pending_.size() - start + 1 < kMaxHostList) {
            pending_.erase(0, at);
            from_ = 0;
            return;
        }
        const std::string_view host = std::string_view(pending_).substr(start, end == std::string::npos ? end : end - start);
        if (!host.empty() && hosts_.find(host) == std::string::npos && hosts_.size() + host.size() + 1 < kMaxHostList) {
            hosts_.append(host).append("|");
        }
        from_ = at + 1;
    }
}

void CollectAttachmentName(std::string_view name, std::string& names) {
    if (names.size() + name.size() + 1 < kMaxAttachmentList) names.append(name).append("|");
}

std::optional<DatabaseFilterParams> BuildDatabaseFilterParams(const FilterSummary& summary, std::string_view account,
                                                              const CServerSettings& settings, std::string hosts,
                                                              std::string attachments) {
    DatabaseFilterParams p;
    p.From = Cut(AngleAddress(summary.from), 255);
    std::string to(account);
    if (to.find('@') == std::string::npos) to += "@" + settings.Dominame;
    p.To = Cut(std::move(to), 254);
    p.Subject = Cut(summary.subject, 255);
    p.Date = Cut(summary.date, 255);
    p.ReturnPath = Cut(summary.return_path, 255);
    p.Http = Cut(std::move(hosts), 1000);
    p.File = Cut(std::move(attachments), 255);
    p.Size = summary.size;
    if (p.From.find('@') == std::string::npos || p.Date.empty()) return std::nullopt;
    return p;
}

DatabaseVerdict InterpretProcedureAnswer(const std::optional<std::string>& answer) {
    if (!answer) return DatabaseVerdict::kHold;
    const std::string_view command = TrimChars(std::string_view(*answer).substr(0, 255), " ");
    if (StartsWithNoCase(command, "inbox")) return DatabaseVerdict::kInbox;
    if (StartsWithNoCase(command, "delete")) return DatabaseVerdict::kDrop;
    return DatabaseVerdict::kHold;
}

bool MailFiltersMayTake(const CServerSettings& settings, std::string_view account) {
    if (settings.ExecuteSP != 0 || settings.ShortMessageEnable != 0 || settings.AntiSpamEnable != 0) return true;
    CEmailFilter rules;
    if (rules.Load(account) && rules.GetCount() > 0) return true;
    CEmailFilter system_rules;
    return settings.EnableSystemFilter != 0 && system_rules.Load(settings.EmailFilterSystem) &&
           system_rules.GetCount() > 0;
}

FilterDecision DecideMailFilters(FilterServices& services, std::string_view account, const std::string& file) {
    const auto settings = services.Settings();
    const auto database_step = [&](std::size_t read_limit) -> FilterDecision {
        if (settings->ExecuteSP == 0) return {};
        return DatabaseStep(services, account, file, *settings, read_limit);
    };
    const auto rule_steps = [&] { return RuleSteps(services, account, file, *settings); };
    if (settings->ExecuteSPFirst != 0) {
        if (FilterDecision d = database_step(kDatabaseFilterReadLimit); d.outcome != FilterOutcome::kInbox) return d;
        if (FilterDecision d = rule_steps(); d.outcome != FilterOutcome::kInbox) return d;
    } else {
        if (FilterDecision d = rule_steps(); d.outcome != FilterOutcome::kInbox) return d;
        if (FilterDecision d = database_step(0); d.outcome != FilterOutcome::kInbox) return d;
    }
    FilterDecision inbox;
    if (settings->ShortMessageEnable != 0) {
        if (const auto summary = services.ReadSummary(file, account)) {
            inbox.notice = "[Email] Subject: " + summary->subject + " From: " + summary->from;
        }
    }
    return inbox;
}

void CompleteMailFilters(FilterServices& services, std::string_view account, const FilterDecision& decision,
                         std::string_view uid) {
    if (decision.folder) {
        services.RecordInFolder(account, *decision.folder, uid, decision.summary);
        return;
    }
    if (decision.outcome == FilterOutcome::kInbox && decision.notice &&
        services.SendSms(services.AccountComment(account), *decision.notice)) {
        services.WriteSystemLog(*decision.notice);
    }
}

}  // namespace quorvex
