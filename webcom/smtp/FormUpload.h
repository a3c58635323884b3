// The form upload parser of the SMTP class: turns the body of a
// multipart/form-data POST, as the web server's request object hands it
// over, into files below a destination folder D: a plain field N becomes
// the file D/N holding its value, a file field N the folder D/N holding the
// uploaded file under its own name (the client's folders dropped). Names
// are cleaned so that none can leave its folder. The body is first copied
// to an unnamed temporary file in D and parsed from there through a
// bounded buffer, so no body is ever held in memory whole.
//
// D belongs to one SMTP object. A body that arrived whole replaces the
// last form in D; a request that fails, is cut off or is over the size
// limit leaves the last form as it was; a form that cannot be stored whole
// (a failed write, a body that ends inside a part) leaves nothing.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "webcom/dispatch/HostObjects.h"
#include "webcom/module/ComStatus.h"

namespace quorvex::webcom {

class CFormUpload {
public:
    // How a parse ended: the status the page sees (S_OK, S_FALSE or the
    // request object's failure), and whether the form was refused or lost
    // (false for a body that holds no form at all, which is not an error).
    struct Outcome {
        Status status = kOk;
        bool failed = false;
    };

    // Sets the destination folder; an empty text changes nothing. The
    // folder is made by the first parse.
    void SetUploadPath(std::string_view folder);
    const std::string& UploadPath() const { return folder_; }

    // Bounds the body (and so every file in it) when above 0; -1, the
    // initial value, and 0 mean no limit. Always 0.
    int SetSizeLimit(std::int32_t limit);

    // Reads and parses the request body. S_FALSE without failure for an
    // empty body or one whose first line is empty or not a boundary line.
    Outcome ParseUploadRequest(IRequest& request);

    // The value of a plain field: the content of D/<name>, at most
    // `max_bytes` of it. Empty when there is no such field, when the name is
    // not one a field can be stored under, or before a destination is set.
    std::string ReadFieldValue(std::string_view name,
                               std::size_t max_bytes = std::numeric_limits<std::size_t>::max()) const;

    // The file uploaded in a file field: "D/<name>/<file>", the first regular
    // file in that folder that is not named "_" (a field sent without a
    // file). Empty when there is none.
    std::string FindUploadedFile(std::string_view name) const;

private:
    // The file of a stored field name, or empty for a name no field can have.
    std::string FieldPath(std::string_view name) const;

    std::string folder_;
    std::int32_t size_limit_ = -1;
};

}  // namespace quorvex::webcom
