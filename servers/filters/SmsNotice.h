// The short-message notice: one text to one number through the CMPP 2.0
// gateway of section "ShortMessage", using the SMS library libTellarin.so
// (its flat C exports), loaded by name the first time a notice is sent.
#pragma once

#include <string>
#include <string_view>

#include "common/ServerSettings.h"

namespace quorvex {

// True only when the gateway accepted the login and answered the
// submission with a SUBMIT_RESP whose Result is 0. An empty number sends
// nothing. A missing library gives false.
bool SendSmsNotice(const CServerSettings& settings, std::string_view number, std::string_view text);

// Where the library is looked for first (default: "libTellarin.so" in the
// program folder, then the system's library path).
void SetTellarinLibraryPath(std::string path);

}  // namespace quorvex
