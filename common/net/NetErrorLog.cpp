// Network faults go to standard error until the error log is wired in.
#include "common/net/NetErrorLog.h"

#include <cstdio>

namespace quorvex {

void LogNetError(const char* source_file, int source_line, std::string_view text) {
    std::fprintf(stderr, "%s(%d): %.*s\n", source_file, source_line, static_cast<int>(text.size()), text.data());
}

}  // namespace quorvex
