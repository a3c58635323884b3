// Copying the request body, walking its parts, and the two readers.
#include "webcom/smtp/FormUpload.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "common/AsciiCase.h"
#include "common/AtomicFile.h"
#include "common/FolderTree.h"
#include "common/Paths.h"
#include "common/TemporaryFile.h"
#include "common/TextHelpers.h"
#include "common/UniqueFd.h"
#include "mailmodel/mime/MimeCharClass.h"
#include "mailmodel/mime/MimeTextRoutines.h"
#include "webcom/smtp/MultipartReader.h"

namespace quorvex::webcom {
namespace {

using smtp::MultipartReader;

// The boundary line and every header line of a part: at most this many
// characters before the line end.
constexpr std::size_t kMaxLine = 4095;
// The request body is asked for in reads of this size.
constexpr std::int64_t kReadBlock = 65536;
// What a part's Content-Disposition line begins with.
constexpr std::string_view kDispositionPrefix = "Content-Disposition: form-data; name=";
// Between a file field's name and its file name.
constexpr std::string_view kFileNameSeparator = "\"; ";
constexpr std::string_view kFileNamePrefix = "filename=\"";

std::string CleanName(std::string_view text) {
    std::string name(text);
    mime::SanitizeFileName(name);
    return name;
}

// The names a part's disposition gives, from the text after "name=".
struct PartName {
    enum class Kind { kPlain, kFile, kMalformed } kind = Kind::kMalformed;
    std::string field;  // cleaned
    std::string file;   // cleaned file name of a file field ("_" when none was chosen)
};

PartName ReadPartName(std::string_view name_part) {
    PartName part;
    const std::size_t separator = name_part.find(kFileNameSeparator);
    std::string field(name_part.substr(0, separator));
    TrimToken(field, "\"");
    part.field = CleanName(field);
    if (separator == std::string_view::npos) {
        part.kind = PartName::Kind::kPlain;
        return part;
    }
    const std::string_view rest = name_part.substr(separator + kFileNameSeparator.size());
    if (!rest.starts_with(kFileNamePrefix)) return part;
    std::string path(rest.substr(kFileNamePrefix.size() - 1));
    TrimToken(path, "\"");
    // The client's drive and folders are dropped: the name and extension stay.
    const std::size_t last_separator = path.find_last_of("\\/");
    part.file = CleanName(last_separator == std::string::npos ? path : path.substr(last_separator + 1));
    part.kind = PartName::Kind::kFile;
    return part;
}

// A temporary file in `folder` that no path names: made under a name no
// cleaned field name can have (cleaning turns a leading dot into "_") and
// unlinked at once, so a field can neither reach nor clobber it and
// nothing of it is left when the parse ends in any way.
UniqueFd OpenUnnamedFile(const std::string& folder) {
    TemporaryFile file = TemporaryFile::Create(JoinPath(folder, ".upload-XXXXXX"));
    UniqueFd fd = std::move(file.fd());
    file.Remove();
    return fd;
}

// The errors of a target that is taken by another part of the same form
// (a field name given to a plain field and to a file field): that part is
// skipped. Any other error means the disk refused the form.
bool IsNameConflict(int error) { return error == EEXIST || error == EISDIR || error == ENOTDIR; }

// One parse of a copied body into the destination folder.
class PartWalker {
public:
    PartWalker(int body_fd, std::string folder) : reader_(body_fd), folder_(std::move(folder)) {}

    enum class End { kDone, kNoForm, kFailed };

    End Run() {
        std::string line;
        if (reader_.ReadLine(line, kMaxLine) != MultipartReader::LineResult::kLine || line.empty())
            return End::kNoForm;
        boundary_ = line;
        for (;;) {
            std::string disposition;
            switch (ReadHeaders(disposition)) {
                case Headers::kNone:
                case Headers::kStop: return End::kDone;
                case Headers::kTruncated: return End::kFailed;
                case Headers::kRead: break;
            }
            const PartName part = ReadPartName(std::string_view(disposition).substr(kDispositionPrefix.size()));
            // A file part without its file name stops the parse; what came
            // before stays.
            if (part.kind == PartName::Kind::kMalformed) return End::kDone;
            if (!CopyPart(part)) return End::kFailed;
            // "--" behind the boundary closes the body, whatever follows.
            if (reader_.SkipText("--")) return End::kDone;
            if (reader_.failed()) return End::kFailed;
            reader_.SkipLine();
            if (reader_.failed()) return End::kFailed;
        }
    }

private:
    enum class Headers { kRead, kNone, kStop, kTruncated };

    // Reads a part's header lines up to the empty line that ends them and
    // keeps its Content-Disposition line. kNone when the body ends where a
    // part could begin, kStop when the part is not a form field (or a line
    // is beyond any header's length), kTruncated when the body ends inside
    // the headers.
    Headers ReadHeaders(std::string& disposition) {
        bool any = false;
        std::string line;
        for (;;) {
            switch (reader_.ReadLine(line, kMaxLine)) {
                case MultipartReader::LineResult::kLine: break;
                case MultipartReader::LineResult::kEnd: return any ? Headers::kTruncated : Headers::kNone;
                case MultipartReader::LineResult::kTooLong: return Headers::kStop;
                case MultipartReader::LineResult::kError: return Headers::kTruncated;
            }
            if (line.empty()) return disposition.empty() ? Headers::kStop : Headers::kRead;
            any = true;
            if (disposition.empty() && StartsWithNoCase(line, kDispositionPrefix)) disposition = line;
        }
    }

    // Writes one part's content to its target. False when the form cannot
    // be taken in whole.
    bool CopyPart(const PartName& part) {
        std::string target = JoinPath(folder_, part.field);
        UniqueFd fd;
        bool conflict = false;
        if (part.kind == PartName::Kind::kFile) {
            if (::mkdir(target.c_str(), kSharedFolderMode) != 0 && errno != EEXIST) {
                if (!IsNameConflict(errno)) return false;
                conflict = true;
            }
            target = JoinPath(target, part.file);
        }
        if (!conflict) {
            fd.reset(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, kSharedFileMode));
            if (!fd) {
                if (!IsNameConflict(errno)) return false;
                conflict = true;
            }
        }
        const auto copied = reader_.CopyContent(boundary_, fd ? fd.get() : -1);
        const bool closed = fd.close_checked();
        if (copied == MultipartReader::ContentResult::kBoundary && closed) return true;
        // A file without its end is not the file the user sent.
        if (!conflict) ::unlink(target.c_str());
        return false;
    }

    MultipartReader reader_;
    std::string folder_;
    std::string boundary_;
};

// Makes the destination folder. Another page of the account removes the
// compose folder above it when it finds it empty; the folders are made
// again when that happened just now.
bool MakeDestination(const std::string& folder) {
    for (int attempt = 0; attempt < 3; ++attempt)
        if (MakeFolders(folder, kSharedFolderMode)) return true;
    return false;
}

// Copies `total` bytes of the request body to `fd`, in reads of at most
// kReadBlock bytes, and rewinds it.
CFormUpload::Outcome CopyBody(IRequest& request, int fd, std::int64_t total) {
    std::vector<char> block(kReadBlock);
    for (std::int64_t done = 0; done < total;) {
        std::int64_t count = std::min(kReadBlock, total - done);
        const std::int64_t asked = count;
        if (const Status status = request.BinaryRead(block.data(), count); status < 0) return {status, true};
        // A request that gives nothing before its announced end was cut off.
        if (count <= 0 || count > asked) return {kFalse, true};
        if (!WriteFully(fd, std::string_view(block.data(), static_cast<std::size_t>(count)))) return {kFalse, true};
        done += count;
    }
    if (::lseek(fd, 0, SEEK_SET) != 0) return {kFalse, true};
    return {kOk, false};
}

}  // namespace

void CFormUpload::SetUploadPath(std::string_view folder) {
    if (folder.empty()) return;
    folder_ = std::string(folder);
    while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
}

int CFormUpload::SetSizeLimit(std::int32_t limit) {
    size_limit_ = limit;
    return 0;
}

CFormUpload::Outcome CFormUpload::ParseUploadRequest(IRequest& request) {
    if (folder_.empty()) return {kFalse, true};
    std::int64_t total = 0;
    if (const Status status = request.TotalBytes(total); status < 0) return {status, true};
    if (total <= 0) return {kFalse, false};
    if (size_limit_ > 0 && total > size_limit_) return {kFalse, true};

    // The body is copied whole before anything of the last form is touched:
    // a request that fails or is cut off leaves that form as it was.
    if (!MakeDestination(folder_)) return {kFalse, true};
    UniqueFd body = OpenUnnamedFile(folder_);
    if (!body) return {kFalse, true};
    if (const Outcome copied = CopyBody(request, body.get(), total); copied.failed) return copied;

    // The new form replaces the last one; a form that cannot be stored
    // whole leaves nothing.
    DeleteFolderTree(folder_);
    MakeDestination(folder_);
    switch (PartWalker(body.get(), folder_).Run()) {
        case PartWalker::End::kDone: return {kOk, false};
        case PartWalker::End::kNoForm: return {kFalse, false};
        case PartWalker::End::kFailed: break;
    }
    DeleteFolderTree(folder_);
    MakeDestination(folder_);
    return {kFalse, true};
}

std::string CFormUpload::FieldPath(std::string_view name) const {
    // Only a name stored as it stands can be read back: anything cleaning
    // would change ("../x", "a/b", "#") names no field.
    if (folder_.empty() || name.empty() || CleanName(name) != name) return {};
    return JoinPath(folder_, name);
}

std::string CFormUpload::ReadFieldValue(std::string_view name, std::size_t max_bytes) const {
    const std::string path = FieldPath(name);
    if (path.empty()) return {};
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    std::string value(std::min<std::size_t>(static_cast<std::size_t>(st.st_size), max_bytes), '\0');
    std::size_t got = 0;
    while (got < value.size()) {
        const ssize_t n = ::read(fd.get(), value.data() + got, value.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    value.resize(got);
    return value;
}

std::string CFormUpload::FindUploadedFile(std::string_view name) const {
    const std::string path = FieldPath(name);
    if (path.empty()) return {};
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return {};
    const int dir_fd = fd.get();
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(dir_fd), &::closedir);
    if (!dir) return {};
    fd.release();  // the listing owns it now
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view file = entry->d_name;
        if (file == "." || file == ".." || file == "_") continue;
        struct stat st {};
        if (::fstatat(dir_fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            return JoinPath(path, file);
    }
    return {};
}

}  // namespace quorvex::webcom
