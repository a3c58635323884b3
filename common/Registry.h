// String values of the registry, kept in profile files: the machine-wide
// "registry.ini" in the program folder and the per-user one in the user's
// configuration folder (see SystemLocations). A subkey path is a section
// name, a value name a key.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvex {

enum class RegistryRoot { kLocalMachine, kCurrentUser };

inline constexpr std::string_view kRegistryFileName = "registry.ini";
// Values of this many bytes or more are not read.
inline constexpr std::size_t kMaxRegistryValueLength = 1024;

// The profile file that holds a root's values; empty when the root has no
// folder (no home folder for the per-user root).
std::string RegistryFilePath(RegistryRoot root);

// Sets the value to `text`, or deletes it when text is null. The file and
// its folder are made (owner-only) when missing. 1 on success; 0 when the
// write failed or was refused (a text with CR or LF), or when a value to
// delete did not exist.
int WriteRegistryString(RegistryRoot root, std::string_view subkey, std::string_view value_name,
                        const std::string* text);

// 1 with the value in `out`; 0 with `out` empty when the value is missing
// or kMaxRegistryValueLength bytes long or longer.
int ReadRegistryString(RegistryRoot root, std::string_view subkey, std::string_view value_name, std::string& out);

}  // namespace quorvex
