// Whole-file reads for the SMTP server's tests.
#pragma once

#include <string>

#include "common/AtomicFile.h"

namespace quorvex::testing {

// The file's bytes; empty when it cannot be read.
inline std::string Slurp(const std::string& path) {
    std::string text;
    ReadWholeFile(path, text);
    return text;
}

}  // namespace quorvex::testing
