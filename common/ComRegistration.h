// Calling the self-registration exports of a component library: the
// library is loaded, its "DllRegisterServer" (or "DllUnregisterServer")
// export is called, and the library is unloaded again.
#pragma once

#include <string>

namespace quorvex {

// 1 when the library loaded, the export exists and it returned a
// non-negative status; else 0.
int RegisterComServer(const std::string& library_path);
int UnregisterComServer(const std::string& library_path);

}  // namespace quorvex
