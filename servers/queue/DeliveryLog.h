// The delivery log "Internetsendlog<YYYYMMDD>.txt" in the log folder: an
// INI file with the number of the last record in [System] "MsgCount" and
// one section per finished message ("1", "2", ...). When the count reaches
// its bound the numbering starts again at 1, overwriting the oldest
// sections. New records are appended and the counter, kept at a fixed
// width, is updated in place; only an overwrite rewrites the file.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace quorvex {

struct DeliveryLogRecord {
    std::string begin_time;
    std::string dest_addr;
    std::string reply_addr;
    std::string mail_file;  // full path of the queue's message file
    int times = 0;
    std::string last_response;  // "SUCCESS" for a delivered message
};

inline constexpr int kSuccessLogBound = 5000;

// The day's file in `folder`.
std::string DeliveryLogPath(const std::string& folder, std::time_t day);

// Writes the record under the log's lock with EndTime = `now`. Returns
// true when the counter had reached `bound` and started again at 1. False
// in `written` when the file could not be written.
bool WriteDeliveryLog(const std::string& folder, int bound, const DeliveryLogRecord& record, std::time_t begin_day,
                      std::time_t now, bool* written = nullptr);

}  // namespace quorvex
