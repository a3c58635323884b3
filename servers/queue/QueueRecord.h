// Reading and writing the small INI records of the queue and the
// undelivered folder. They are read straight from disk (not through the
// profile cache, which would keep an entry for every id ever queued) and
// every write replaces the whole record atomically.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/IniDocument.h"

namespace quorvex {

inline constexpr std::string_view kQueueSection = "Info";

// The record, or nothing when it is missing or unreadable.
std::optional<IniDocument> ReadQueueRecord(const std::string& path);
bool WriteQueueRecord(const std::string& path, const IniDocument& record);

// A value of section "Info", "" when missing.
std::string RecordValue(const IniDocument& record, std::string_view key);
int RecordInt(const IniDocument& record, std::string_view key, int default_value);

// Outcome texts may hold line breaks; a record keeps them as the two
// characters "\r" and "\n".
std::string RecordText(std::string_view text);

}  // namespace quorvex
