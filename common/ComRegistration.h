// Calling the self-registration exports of a component library: the
// library is loaded, its "DllRegisterServer" (or "DllUnregisterServer")
// export is called, and the library is unloaded again.
#pragma once

#include <string>

namespace quorvex {

// 1 when the library loaded, the export exists and it returned a
// non-negative status; else 0, and `reason`, when given, gets one sentence
// on why (the library is missing or cannot be loaded, it lacks the export,
// or the export's status).
int RegisterComServer(const std::string& library_path, std::string* reason = nullptr);
int UnregisterComServer(const std::string& library_path, std::string* reason = nullptr);

}  // namespace quorvex
