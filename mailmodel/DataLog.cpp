// Error-log lines of the account and mailbox code.
#include "mailmodel/DataLog.h"

#include <cstdio>
#include <string>

namespace quorvex {

void LogDataError(std::string_view source, int line, std::string_view text) {
    std::string out(source);
    out.append("(").append(std::to_string(line)).append("): ").append(text).append("\n");
    std::fputs(out.c_str(), stderr);
}

}  // namespace quorvex
