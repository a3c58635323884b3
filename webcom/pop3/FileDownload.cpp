// Path resolution, the disposition header and the copy to the response.
#include "webcom/pop3/FileDownload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/CharsetText.h"
#include "common/Paths.h"
#include "webcom/pop3/MailDataUrl.h"

namespace quorvex::webcom::pop3 {
namespace {

constexpr std::size_t kBlock = 1 << 16;

bool HasParentSegment(std::string_view path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (path.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

std::optional<ServableFile> OpenServableFile(const std::string& library_folder, std::string_view name,
                                             const std::string& root) {
    std::string relative(name);
    for (char& c : relative)
        if (c == '\\') c = '/';
    if (relative.find('\0') != std::string::npos || HasParentSegment(relative)) return std::nullopt;
    // The name follows the folder directly: the pages give it with its
    // leading separator.
    const std::string path = library_folder + relative;
    const auto real_file = ResolvedPathInside(path, root);
    if (!real_file) return std::nullopt;
    UniqueFd fd(::open(real_file->c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return ServableFile{std::move(fd), std::string(BaseName(path))};
}

std::string AttachmentDisposition(std::string_view file_name) {
    std::string quoted;
    bool eight_bit = false;
    std::string clean;
    // Declared UTF-8 below: a name that is not has its stray bytes replaced.
    for (const char c : TextToUtf8(file_name, "UTF-8", "UTF-8")) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) continue;
        if (u >= 0x80) eight_bit = true;
        clean += c;
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    std::string value = "attachment; filename=\"" + quoted + "\"";
    if (eight_bit) value += "; filename*=UTF-8''" + EncodeUrlPath(clean);
    return value;
}

bool SendFile(IResponse& response, ServableFile& file) {
    response.SetContentType("application/octet-stream");
    if (response.AddHeader("Content-Disposition", AttachmentDisposition(file.name)) < 0) return true;
    std::string block(kBlock, '\0');
    for (;;) {
        const ssize_t n = ::read(file.fd.get(), block.data(), block.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        if (response.BinaryWrite(std::string_view(block.data(), static_cast<std::size_t>(n))) < 0) return false;
    }
}

bool ReadFile(ServableFile& file, std::string& bytes) {
    bytes.clear();
    struct stat st {};
    if (::fstat(file.fd.get(), &st) == 0 && st.st_size > 0) bytes.reserve(static_cast<std::size_t>(st.st_size));
    char block[kBlock];
    for (;;) {
        const ssize_t n = ::read(file.fd.get(), block, sizeof block);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        bytes.append(block, static_cast<std::size_t>(n));
    }
}

}  // namespace quorvex::webcom::pop3
