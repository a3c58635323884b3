// Line reading over a buffered C stream.
#include "mailmodel/mime/MessageFile.h"

namespace quorvex::mime {

bool MessageFile::Open(const std::string& path) {
    file_.reset(std::fopen(path.c_str(), "rbe"));
    return file_ != nullptr;
}

int MessageFile::PeekChar() {
    if (!file_) return EOF;
    const int c = getc_unlocked(file_.get());
    if (c != EOF) ungetc(c, file_.get());
    return c;
}

bool MessageFile::Seek(std::int64_t offset) { return file_ && fseeko(file_.get(), offset, SEEK_SET) == 0; }

std::int64_t MessageFile::Size() {
    if (!file_) return 0;
    const off_t here = ftello(file_.get());
    if (fseeko(file_.get(), 0, SEEK_END) != 0) return 0;
    const off_t size = ftello(file_.get());
    fseeko(file_.get(), here, SEEK_SET);
    return size < 0 ? 0 : size;
}

long MessageFile::ReadFoldedLine(std::string& line, std::size_t room) {
    line.clear();
    if (!file_ || room <= 1 || AtEnd()) return -1;
    std::FILE* f = file_.get();
    const std::size_t budget = room - 2;
    for (int piece = 1; line.size() < budget; ++piece) {
        const std::size_t start = line.size();
        int c = EOF;
        while (line.size() < budget && (c = getc_unlocked(f)) != EOF) {
            line += static_cast<char>(c);
            if (c == '\n') break;
        }
        if (std::ferror(f)) return -1;
        if (line.compare(start, std::string::npos, "\r\n") == 0 || piece == 3) break;
        const int next = PeekChar();
        if (next != ' ' && next != '\t') break;
    }
    return static_cast<long>(line.size());
}

}  // namespace quorvex::mime
