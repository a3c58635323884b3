// Auto-reply settings and replies.
#include "mailmodel/autoreply/EmailAutoReply.h"

#include <unistd.h>

#include <fstream>

#include "common/AccountName.h"
#include "common/AsciiCase.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ServerSettings.h"
#include "common/TextHelpers.h"
#include "mailmodel/account/AccountFolders.h"
#include "mailmodel/compose/MessageGenerator.h"

namespace quorvex {

namespace {

constexpr std::size_t kMaxHeaderRead = 64 * 1024;

std::optional<std::string> SettingsPath(std::string_view account) {
    const auto folder = GetAccountFolderPath(account);
    if (!folder) return std::nullopt;
    return JoinPath(*folder, kAutoReplyFile);
}

std::string Replace(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    std::size_t begin = 0;
    for (auto at = text.find(from); at != std::string_view::npos; at = text.find(from, begin)) {
        out.append(text.substr(begin, at - begin)).append(to);
        begin = at + from.size();
    }
    out.append(text.substr(begin));
    return out;
}


std::string ReadHeaderBlock(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string header, line;
    while (header.size() < kMaxHeaderRead && std::getline(in, line)) {
        if (line.empty() || line == "\r") break;
        header.append(line).append("\n");
    }
    return header;
}

}  // namespace

bool IsAutomaticMessage(std::string_view header_block) {
    std::size_t begin = 0;
    while (begin < header_block.size()) {
        auto end = header_block.find('\n', begin);
        if (end == std::string_view::npos) end = header_block.size();
        const std::string_view line = header_block.substr(begin, end - begin);
        begin = end + 1;
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string name = AsciiLowerCase(TrimChars(line.substr(0, colon), " \t\r\n"));
        const std::string value = AsciiLowerCase(TrimChars(line.substr(colon + 1), " \t\r\n"));
        if (name == "auto-submitted" && !value.empty() && value.rfind("no", 0) != 0) return true;
        if (name == "precedence" && (value == "bulk" || value == "list" || value == "junk")) return true;
    }
    return false;
}

bool EmailAutoReply::Load(std::string_view account) {
    account_ = std::string(account.substr(0, kMaxAccountNameLength));
    settings_ = AutoReplySettings();
    const auto path = SettingsPath(account_);
    if (!path) return false;
    const auto doc = ProfileFile(*path).Load();
    settings_.Enable = ParseProfileInt(doc->Find("EmailAutoReply", "Enable").value_or(""), 0);
    settings_.Subject = std::string(doc->Find("EmailAutoReply", "Subject").value_or("").substr(0, kMaxAutoReplySubject));
    settings_.Body =
        Replace(doc->Find("EmailAutoReply", "Body").value_or("").substr(0, kMaxAutoReplyBody), "\\r\\n", "\r\n");
    return true;
}

bool EmailAutoReply::Save() const {
    const auto path = SettingsPath(account_);
    if (!path) return false;
    std::string body = Replace(settings_.Body, "\r\n", "\\r\\n");
    if (body.size() > kMaxAutoReplyBody + 1) body.resize(kMaxAutoReplyBody + 1);
    return ProfileFile(*path).Edit([&](IniDocument& doc) {
        return doc.Set("EmailAutoReply", "Enable", settings_.Enable != 0 ? "1" : "0") &&
               doc.Set("EmailAutoReply", "Subject", settings_.Subject) && doc.Set("EmailAutoReply", "Body", body);
    });
}

bool EmailAutoReply::SendAutoReply(std::string_view account, std::string_view sender, const std::string& original_file,
                                   const AutoReplyDelivery& delivery) {
    if (!Load(account) || sender.empty()) return false;
    if (settings_.Enable == 0) return true;
    if (!original_file.empty() && IsAutomaticMessage(ReadHeaderBlock(original_file))) return true;
    if (!delivery.next_temp_number || !delivery.deliver) return false;

    const auto settings = Settings();
    std::string from = account_;
    if (settings->DomainNameType == 0 && from.find('@') == std::string::npos) from += "@" + settings->Dominame;
    const std::string folder = JoinPath(ProgramFolder(), "smtp");
    MakeFolders(folder);
    const std::string file =
        JoinPath(folder, std::string(kAutoReplyTempPrefix) + std::to_string(delivery.next_temp_number()) + ".dat");
    const std::string to(sender);
    compose::CMessageGenerator generator;
    // No copy and no reply-to address; the texts go out in the charset the
    // composer declares for them.
    if (generator.GenerateMail(file.c_str(), settings_.Body.c_str(), settings_.Subject.c_str(), nullptr, "",
                               from.c_str(), to.c_str(), nullptr, nullptr, nullptr, 0, 0) == 0) {
        ::unlink(file.c_str());
        return false;
    }
    const bool delivered = delivery.deliver(sender, file);
    ::unlink(file.c_str());
    return delivered;
}

}  // namespace quorvex
