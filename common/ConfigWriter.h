// Small shared steps of reading and writing the settings files: reading a
// key the way the profile functions do with a buffer of a given size, and
// writing a key so that a refused value (CR or LF inside) is logged and
// skipped instead of silently dropped.
#pragma once

#include <string>
#include <string_view>

#include "common/IniDocument.h"

namespace quorvex {

// GetPrivateProfileString with a buffer of `buffer_size` bytes: the value
// (or the default when the key is missing) cut to buffer_size - 1 bytes.
std::string ReadConfigText(const IniDocument& doc, std::string_view section, std::string_view key,
                           std::string_view default_value, std::size_t buffer_size);
// GetPrivateProfileInt.
int ReadConfigInt(const IniDocument& doc, std::string_view section, std::string_view key, int default_value);

// Sets one key. A value the document refuses is not written; the refusal
// is logged naming `file_label`, the section and the key. False then.
bool WriteConfigText(IniDocument& doc, std::string_view file_label, std::string_view section, std::string_view key,
                     std::string_view value);
bool WriteConfigInt(IniDocument& doc, std::string_view file_label, std::string_view section, std::string_view key,
                    long long value);

// True when a file exists at `path` but cannot be read: saving over it
// would replace settings nobody could load with defaults.
bool ExistsButUnreadable(const std::string& path);

}  // namespace quorvex
