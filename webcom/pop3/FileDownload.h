// Handing a file of the work area to the browser (Download) or to the page
// (ReadBinFromFile). Pages name the file relative to the library folder
// ("\maildata\alice\...\report.pdf"); only a regular file that, with every
// link resolved, lies inside the folder given (the work folder of the
// account the object logged in as) is ever served, so no name reaches
// config.ini, the database, a mailbox beside it or another account's files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/UniqueFd.h"
#include "webcom/dispatch/HostObjects.h"

namespace quorvex::webcom::pop3 {

struct ServableFile {
    UniqueFd fd;
    std::string name;  // the base name the page asked for
};

// Opens "<library folder><name>" ("\" taken as "/") for reading when it is
// a regular file inside `root`. Nothing for a name holding NUL or a ".."
// segment, a missing file, anything that is not a regular file, and every
// path outside the root.
std::optional<ServableFile> OpenServableFile(const std::string& library_folder, std::string_view name,
                                             const std::string& root);

// The Content-Disposition value for a file name: attachment; filename="...",
// with control characters dropped and '"' and '\' escaped, and an RFC 5987
// filename* beside it when the name holds 8-bit bytes. The name is given
// as UTF-8; bytes that are not valid UTF-8 become U+FFFD.
std::string AttachmentDisposition(std::string_view file_name);

// Sets the content type and the disposition header and writes the file in
// blocks. False when the file could not be read or the response refused a
// write; nothing is written when the header was refused.
bool SendFile(IResponse& response, ServableFile& file);

// The whole file. False when it could not be read.
bool ReadFile(ServableFile& file, std::string& bytes);

}  // namespace quorvex::webcom::pop3
