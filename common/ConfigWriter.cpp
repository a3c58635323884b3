// Reading and writing single keys of the settings files.
#include "common/ConfigWriter.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "common/ErrorLog.h"
#include "common/UniqueFd.h"

namespace quorvex {

std::string ReadConfigText(const IniDocument& doc, std::string_view section, std::string_view key,
                           std::string_view default_value, std::size_t buffer_size) {
    std::string_view value = doc.Find(section, key).value_or(default_value);
    if (buffer_size == 0) return {};
    if (value.size() > buffer_size - 1) value = value.substr(0, buffer_size - 1);
    return std::string(value);
}

int ReadConfigInt(const IniDocument& doc, std::string_view section, std::string_view key, int default_value) {
    const auto value = doc.Find(section, key);
    return value ? ParseProfileInt(*value, default_value) : default_value;
}

bool WriteConfigText(IniDocument& doc, std::string_view file_label, std::string_view section, std::string_view key,
                     std::string_view value) {
    if (doc.Set(section, key, value)) return true;
    std::string text;
    text.append(file_label).append(": [").append(section).append("] ").append(key);
    text.append(" not written: the value holds a line break");
    QUORVEX_ERROR_LOG(text);
    return false;
}

bool WriteConfigInt(IniDocument& doc, std::string_view file_label, std::string_view section, std::string_view key,
                    long long value) {
    return WriteConfigText(doc, file_label, section, key, std::to_string(value));
}

bool ExistsButUnreadable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno != ENOENT && errno != ENOTDIR;
    if (!S_ISREG(st.st_mode)) return true;
    return !UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)).valid();
}

}  // namespace quorvex
