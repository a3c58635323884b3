// Where the network code reports a fault it handles itself (a cut line, a
// thrown job): one line with the source file and line number.
#pragma once

#include <string_view>

namespace quorvex {

void LogNetError(const char* source_file, int source_line, std::string_view text);

}  // namespace quorvex
