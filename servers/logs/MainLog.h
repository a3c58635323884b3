// The main log "quorvexlog.txt" in the log folder as the database filter
// writes it: "<time> <text>" lines, the file started again once it has
// grown beyond kMainLogRestartBytes.
#pragma once

#include <string>
#include <string_view>

namespace quorvex {

inline constexpr const char* kMainLogFileName = "quorvexlog.txt";
// A file found larger than this when a line is to be written is deleted
// and started again; a file of exactly this size is appended to.
inline constexpr long long kMainLogRestartBytes = 6291456;

// Appends "<%Y/%m/%d %H:%M:%S> <text>" CR LF to `folder`/quorvexlog.txt,
// creating the folder and the file when missing. A line that cannot be
// written is lost; the caller is never told.
void WriteMainLog(const std::string& folder, std::string_view text);

// The line "Error number: <number in hex>\t<description>" of a database
// error.
std::string DatabaseErrorLine(unsigned long number, std::string_view description);

}  // namespace quorvex
