// Standard output of a real command (md5sum, openssl, base64, ...) run by a
// test, or nothing when the command failed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/CommandRunner.h"

namespace quorvex::testing {

inline std::optional<std::string> CommandOutput(const std::vector<std::string>& argv, const std::string& input = "") {
    CommandResult result = RunCommand(argv, input);
    if (result.exit_status != 0) return std::nullopt;
    return std::move(result.output);
}

}  // namespace quorvex::testing
