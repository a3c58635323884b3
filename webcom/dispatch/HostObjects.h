// The web server's request and response objects as the classes use them
// (form uploads read the request body; downloads write the response). The
// classes see two small interfaces; what a page passes through the C
// interface is turned into them by the adapters below, and tests pass
// their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "webcom/dispatch/CInterface.h"
#include "webcom/module/ComStatus.h"

namespace quorvex::webcom {

class IRequest {
public:
    virtual ~IRequest() = default;
    virtual Status TotalBytes(std::int64_t& total) = 0;
    // Reads up to `count` bytes; `count` becomes the number read.
    virtual Status BinaryRead(void* buffer, std::int64_t& count) = 0;
};

class IResponse {
public:
    virtual ~IResponse() = default;
    virtual Status SetContentType(const std::string& type) = 0;
    virtual Status AddHeader(const std::string& name, const std::string& value) = 0;
    virtual Status BinaryWrite(std::string_view data) = 0;
};

// The request or response a value carries: a request value (type 100) or a
// response value (type 101) whose object has all its functions. Null for
// any other value, as a host object without that interface.
std::unique_ptr<IRequest> RequestFromValue(const QvxValue& value);
std::unique_ptr<IResponse> ResponseFromValue(const QvxValue& value);

}  // namespace quorvex::webcom
