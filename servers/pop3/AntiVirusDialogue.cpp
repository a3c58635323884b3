// The anti-virus gateway's one-file dialogue.
#include "servers/pop3/AntiVirusDialogue.h"

#include <sys/stat.h>

#include <cstdlib>
#include <memory>

#include "common/AsciiCase.h"
#include "servers/pop3/Pop3Replies.h"
#include "servers/pop3/Pop3Session.h"

namespace quorvex::pop3 {
namespace {

// True when `path` names an existing regular file inside `folder`, after
// every symbolic link and ".." is resolved.
bool IsFileInsideFolder(const std::string& path, const std::string& folder) {
    if (folder.empty() || path.empty()) return false;
    std::unique_ptr<char, decltype(&std::free)> real_file(::realpath(path.c_str(), nullptr), &std::free);
    std::unique_ptr<char, decltype(&std::free)> real_folder(::realpath(folder.c_str(), nullptr), &std::free);
    if (!real_file || !real_folder) return false;
    std::string inside(real_folder.get());
    if (inside.empty() || inside.back() != '/') inside += '/';
    const std::string file(real_file.get());
    if (file.compare(0, inside.size(), inside) != 0) return false;
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

AntiVirusDialogue::AntiVirusDialogue(Pop3Services& services, Pop3Output& out, std::string folder,
                                     std::string log_address)
    : services_(services), out_(out), folder_(std::move(folder)), log_address_(std::move(log_address)) {}

Pop3Step AntiVirusDialogue::Reply(std::string_view text) {
    return out_.Send(text) ? Pop3Step::kContinue : Pop3Step::kClose;
}

Pop3Step AntiVirusDialogue::OnLine(std::string_view line) {
    switch (step_) {
        case Step::kPass:
            return OnPass(line);
        case Step::kStat:
            return OnStat(line);
        case Step::kList:
            if (line != "LIST") return Pop3Step::kClose;
            step_ = Step::kListOrRetr;
            return Reply("+OK 1 " + std::to_string(size_) + "\r\n1 " + std::to_string(size_) + "\r\n.\r\n");
        case Step::kListOrRetr:
            if (line == "LIST 1") {
                step_ = Step::kRetr;
                return Reply("+OK 1 " + std::to_string(size_) + "\r\n");
            }
            return OnRetr(line);
        case Step::kRetr:
            return OnRetr(line);
        case Step::kLast:
            Reply(kOk);
            return Pop3Step::kClose;
    }
    return Pop3Step::kClose;
}

Pop3Step AntiVirusDialogue::OnPass(std::string_view line) {
    if (!StartsWithNoCase(line, "PASS ") || line.size() - 5 > kMaxPasswordArgument) return Pop3Step::kClose;
    std::string path(line.substr(5));
    // Only a message waiting in the program's own queue folder may be
    // handed out; any other path is refused like a wrong password.
    if (!IsFileInsideFolder(path, folder_)) {
        services_.Log(log_address_, "anti-virus hand-off refused for " + path);
        Reply(kPasswordIncorrect);
        return Pop3Step::kClose;
    }
    path_ = std::move(path);
    step_ = Step::kStat;
    return Reply(kOk);
}

Pop3Step AntiVirusDialogue::OnStat(std::string_view line) {
    if (line != "STAT") return Pop3Step::kClose;
    file_ = OpenMessageFile(path_);
    struct stat info {};
    if (!file_ || ::fstat(file_.get(), &info) != 0) return Pop3Step::kClose;
    size_ = static_cast<long long>(info.st_size);
    step_ = Step::kList;
    return Reply("+OK 1 " + std::to_string(size_) + "\r\n");
}

Pop3Step AntiVirusDialogue::OnRetr(std::string_view line) {
    if (line != "RETR 1") return Pop3Step::kClose;
    if (Reply("+OK " + std::to_string(size_) + " octets\r\n") == Pop3Step::kClose) return Pop3Step::kClose;
    if (!SendMessageFile(file_.get(), 0, out_)) return Pop3Step::kClose;
    step_ = Step::kLast;
    return Reply(kEndOfList);
}

}  // namespace quorvex::pop3
