// The undelivered folder "<program folder>/undelivered": messages the
// queue gave up on and could not report, each a record "<n>.ini" (section
// "Info") with its message "undelivered<n>.dat"; "index.ini" holds the
// next number ([System] "NextFileID", first 100). The transfer status
// window sends them again (through the queue) or deletes them.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "common/IniDocument.h"

namespace quorvex {

class UndeliveredFolder {
public:
    explicit UndeliveredFolder(std::string folder) : folder_(std::move(folder)) {}
    UndeliveredFolder(const UndeliveredFolder&) = delete;
    UndeliveredFolder& operator=(const UndeliveredFolder&) = delete;

    const std::string& folder() const { return folder_; }
    std::string RecordPath(int n) const;

    // Parks `message_file` with the keys of a queue item's record (empty
    // values without one). Returns the parked number, or -1 when nothing
    // could be parked.
    int MoveToUndelivered(const std::string& message_file, const std::optional<IniDocument>& queue_record);

    // The message file parked as n, with its record, when the record names
    // a bare file name of this folder.
    struct Parked {
        IniDocument record;
        std::string message_path;
    };
    std::optional<Parked> Find(int n) const;

    // Removes parked message n.
    bool DeleteUndelivered(int n);

private:
    const std::string folder_;
    std::mutex lock_;  // numbering and writing of parked entries
};

}  // namespace quorvex
