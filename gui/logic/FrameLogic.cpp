#include "gui/logic/FrameLogic.h"

#include "app/WebMailLanguage.h"
#include "common/AccountName.h"
#include "common/Paths.h"

namespace quorvex::gui {

TrayStateMachine::Click TrayStateMachine::OnClick(bool window_visible) const {
    if (window_visible) return Click::kHide;
    if (gate_open_) return Click::kIgnore;
    return locked_ ? Click::kAskPassword : Click::kShow;
}

CloseDecision DecideClose(bool accepted, int choice, const std::function<bool()>& mail_queued,
                          const std::function<bool()>& confirm) {
    if (!accepted) return CloseDecision::kStay;
    if (choice != 1) return CloseDecision::kHide;
    if (mail_queued() && !confirm()) return CloseDecision::kStay;
    return CloseDecision::kQuit;
}

std::vector<std::string> DomainSelectorItems(const std::string& all_domains_text,
                                             const std::vector<std::string>& domains) {
    std::vector<std::string> items{all_domains_text};
    items.insert(items.end(), domains.begin(), domains.end());
    return items;
}

int ReselectDomain(const std::vector<std::string>& items, const std::string& old_text, int old_index) {
    if (!old_text.empty()) {
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (SameName(items[i], old_text)) return static_cast<int>(i);
        }
    }
    if (old_index >= 0 && old_index < static_cast<int>(items.size())) return old_index;
    return 0;
}

bool RepeatsFailedLogin(std::string_view notice) {
    if (!notice.starts_with("SMTP ") && !notice.starts_with("POP3 ")) return false;
    const std::size_t source_end = notice.find(' ', 5);
    return source_end != std::string_view::npos && source_end > 5 &&
           notice.substr(source_end + 1).starts_with("login failed: service=");
}

std::string FindUserManual(const std::string& program_folder, const std::string& language,
                           const std::function<bool(const std::string&)>& exists) {
    // The language name only names a file of the Language folder.
    const std::string name = app::SafeLanguageName(language);
    const std::string folder = JoinPath(program_folder, "Language");
    for (const char* extension : {".chm", ".doc", ".htm"}) {
        const std::string path = JoinPath(folder, name + extension);
        if (exists(path)) return path;
    }
    const std::string english = JoinPath(folder, "English.chm");
    return exists(english) ? english : std::string();
}

}  // namespace quorvex::gui
