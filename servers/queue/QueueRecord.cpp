// Queue records on disk.
#include "servers/queue/QueueRecord.h"

#include "common/AtomicFile.h"
#include "common/Translation.h"

namespace quorvex {

std::optional<IniDocument> ReadQueueRecord(const std::string& path) {
    std::string text;
    if (!ReadWholeFile(path, text)) return std::nullopt;
    return IniDocument::Parse(text);
}

bool WriteQueueRecord(const std::string& path, const IniDocument& record) {
    return AtomicWriteFile(path, record.Format());
}

std::string RecordValue(const IniDocument& record, std::string_view key) {
    const auto value = record.Find(kQueueSection, key);
    return value ? std::string(*value) : std::string();
}

int RecordInt(const IniDocument& record, std::string_view key, int default_value) {
    const auto value = record.Find(kQueueSection, key);
    return value ? ParseProfileInt(*value, default_value) : default_value;
}

std::string RecordText(std::string_view text) { return EscapeLineBreaks(text); }

}  // namespace quorvex
