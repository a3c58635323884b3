// The one-file POP3 dialogue of the anti-virus gateway. After USER
// "_ANTI_VIRUS" from the gateway's address the gateway sends, in this
// order, PASS with the path of a message waiting in the queue folder,
// STAT, LIST, an optional "LIST 1", "RETR 1" and one last line; it gets
// that one file and nothing else. Any other line ends the session.
#pragma once

#include <string>
#include <string_view>

#include "common/UniqueFd.h"
#include "servers/pop3/Pop3Mailbox.h"
#include "servers/pop3/StoredMessage.h"

namespace quorvex::pop3 {

enum class Pop3Step;

class AntiVirusDialogue {
public:
    // `folder`: only files inside it may be handed out. `log_address`:
    // what log lines show for the client.
    AntiVirusDialogue(Pop3Services& services, Pop3Output& out, std::string folder, std::string log_address);

    Pop3Step OnLine(std::string_view line);

private:
    enum class Step { kPass, kStat, kList, kListOrRetr, kRetr, kLast };

    Pop3Step Reply(std::string_view text);
    Pop3Step OnPass(std::string_view line);
    Pop3Step OnStat(std::string_view line);
    Pop3Step OnRetr(std::string_view line);

    Pop3Services& services_;
    Pop3Output& out_;
    std::string folder_;
    std::string log_address_;
    Step step_ = Step::kPass;
    std::string path_;
    UniqueFd file_;
    long long size_ = 0;
};

}  // namespace quorvex::pop3
