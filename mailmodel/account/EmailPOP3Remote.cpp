// Remote POP3 box list in maillist.ini.
#include "mailmodel/account/EmailPOP3Remote.h"

#include <algorithm>

#include "common/AccountName.h"
#include "common/ConfigWriter.h"
#include "common/PasswordScramble.h"
#include "mailmodel/account/AccountSettingsFile.h"

namespace quorvex {

namespace {

constexpr std::string_view kSection = "POP3Remote";
// Three digits per clear character.
constexpr std::size_t kMaxStoredPassword = 3 * kMaxRemoteBoxText;

std::string Numbered(std::string_view key, int number) { return std::string(key) + std::to_string(number); }

bool IsBoxText(std::string_view text) { return text.size() <= kMaxRemoteBoxText && IsStorableValue(text); }

bool IsStorable(const RemotePop3Mailbox& box) {
    return IsBoxText(box.POP3Server) && IsBoxText(box.POP3Account) && IsBoxText(box.POP3Password);
}

}  // namespace

bool CEmailPOP3Remote::Load(std::string_view account) {
    if (account.size() > kMaxAccountNameLength) return false;
    const auto doc = LoadAccountSettings(account);
    if (!doc) return false;
    account_ = account;
    count_ = std::clamp(ReadConfigInt(*doc, kSection, "Count", 0), 0, kMaxRemoteBoxes);
    boxes_.fill(RemotePop3Mailbox{0, 0, "", "", "", 110});
    for (int i = 1; i <= count_; ++i) {
        RemotePop3Mailbox& box = boxes_[static_cast<std::size_t>(i - 1)];
        box.POP3Server = ReadValue(*doc, kSection, Numbered("POP3Server", i), kMaxRemoteBoxText);
        // The whole stored digit text is read, so every password that was
        // accepted into a record (up to 256 characters) comes back whole.
        box.POP3Password = UnscrambledPassword(ReadValue(*doc, kSection, Numbered("POP3Password", i), kMaxStoredPassword),
                                              kMaxStoredPassword + 1)
                               .substr(0, kMaxRemoteBoxText);
        box.POP3Account = ReadValue(*doc, kSection, Numbered("POP3Account", i), kMaxRemoteBoxText);
        box.Enable = ReadConfigInt(*doc, kSection, Numbered("Enable", i), 0);
        box.LeaveCopy = ReadConfigInt(*doc, kSection, Numbered("LeaveCopy", i), 1);
    }
    return true;
}

bool CEmailPOP3Remote::Save() {
    return EditAccountSettings(account_, [&](IniDocument& doc) {
        bool ok = doc.Set(kSection, "Count", std::to_string(count_));
        for (int i = 1; ok && i <= count_; ++i) {
            const RemotePop3Mailbox& box = boxes_[static_cast<std::size_t>(i - 1)];
            ok = doc.Set(kSection, Numbered("POP3Server", i), box.POP3Server) &&
                 doc.Set(kSection, Numbered("POP3Password", i), ScrambledPassword(box.POP3Password, kScrambleWorkBuffer)) &&
                 doc.Set(kSection, Numbered("POP3Account", i), box.POP3Account) &&
                 doc.Set(kSection, Numbered("Enable", i), box.Enable ? "1" : "0") &&
                 doc.Set(kSection, Numbered("LeaveCopy", i), box.LeaveCopy ? "1" : "0");
        }
        return ok;
    });
}

bool CEmailPOP3Remote::AddMailbox(const RemotePop3Mailbox& box) {
    if (count_ >= kMaxRemoteBoxes || !IsStorable(box)) return false;
    if (box.POP3Server.empty() && box.POP3Account.empty() && box.POP3Password.empty()) return false;
    boxes_[static_cast<std::size_t>(count_++)] = box;
    return true;
}

bool CEmailPOP3Remote::DeleteMailbox(int index) {
    if (index < 0 || index >= count_) return false;
    std::move(boxes_.begin() + index + 1, boxes_.begin() + count_, boxes_.begin() + index);
    --count_;
    return true;
}

bool CEmailPOP3Remote::SetMailbox(int index, const RemotePop3Mailbox& box) {
    if (index < 0 || index >= count_ || !IsStorable(box)) return false;
    boxes_[static_cast<std::size_t>(index)] = box;
    return true;
}

bool CEmailPOP3Remote::GetMailbox(int index, RemotePop3Mailbox& out) const {
    if (index < 0 || index >= count_) return false;
    out = boxes_[static_cast<std::size_t>(index)];
    return true;
}

}  // namespace quorvex
