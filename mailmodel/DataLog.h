// One place where the account and mailbox code reports a refusal or a
// damaged file: a line in the error log naming the source and line.
#pragma once

#include <string_view>

namespace quorvex {

void LogDataError(std::string_view source, int line, std::string_view text);

}  // namespace quorvex
