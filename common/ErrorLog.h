// The error log "quorvexlog.txt" in the log folder: one line per fault,
// made of the local time, the source file name with its line and the text.
// Every thread writes to it; lines are serialised so they never interleave.
// The file is started again when it has grown beyond kErrorLogRestartBytes.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace quorvex {

inline constexpr const char* kErrorLogFileName = "quorvexlog.txt";
// A file found larger than this when a line is to be written is deleted
// and started again; a file of exactly this size is appended to.
inline constexpr long long kErrorLogRestartBytes = 65536;
// The log file's path must fit in this many characters.
inline constexpr std::size_t kMaxErrorLogPathLength = 260;
// The line prefix up to "): " is cut silently at this many characters.
inline constexpr std::size_t kMaxErrorLogPrefixLength = 4096;

// Appends "<time> <file>(<line>): <text>\r\n". `source_file` may carry
// folders; only its last component is written. Never throws and never
// fails its caller: a line that cannot be written is lost. When the log
// path would be longer than kMaxErrorLogPathLength the line goes to
// standard error instead (logging that fault to the same path would loop).
void WriteErrorLog(std::string_view source_file, int line, std::string_view text) noexcept;

// The path the next line goes to: the file given to SetErrorLogFile, else
// [Log] FilePath of the current settings (or "log" in the program folder
// before any is loaded) joined with kErrorLogFileName.
std::string ErrorLogPath();

// Sends the log to a fixed file instead (the web-mail component keeps its
// own "comlog.txt" beside its library); an empty path returns to the
// settings' log folder.
void SetErrorLogFile(std::string path);

// Called after every line that reached the file, outside the log's lock,
// with the line's text. The notice bus installs the alert here; common
// itself never shows anything. Lines written while the hook runs do not
// call it again. An empty function removes the hook.
using ErrorLogAlertHook = std::function<void(std::string_view text)>;
void SetErrorLogAlertHook(ErrorLogAlertHook hook);

}  // namespace quorvex

// Logs `text` with the caller's file and line.
#define QUORVEX_ERROR_LOG(text) ::quorvex::WriteErrorLog(__FILE__, __LINE__, (text))

// Runs one bounded-text call (CopyStringBounded and friends); a thrown
// message text is logged with the caller's file and line. Evaluates to
// true when the call succeeded, false when it cut or refused.
#define QUORVEX_BOUNDED(call)                                   \
    ([&]() -> bool {                                            \
        try {                                                   \
            (void)(call);                                       \
            return true;                                        \
        } catch (const char* quorvex_bounded_error_) {          \
            QUORVEX_ERROR_LOG(quorvex_bounded_error_);          \
            return false;                                       \
        }                                                       \
    }())
