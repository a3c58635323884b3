// The C declarations of QuorvexCOM.h for the library's own code. The
// public header is plain C without guards or includes (PHP's FFI reads it
// as it stands), so it is included here, once, with the integer types it
// needs and with the default visibility its functions are exported with.
#pragma once

#include <cstdint>

extern "C" {
#pragma GCC visibility push(default)
#include "webcom/QuorvexCOM.h"
#pragma GCC visibility pop
}

namespace quorvex::webcom {

// The value types of QvxValue.
enum ValueType : std::int32_t {
    kValueEmpty = 0,
    kValueInteger = 3,
    kValueText = 8,
    kValueBytes = 17,
    kValueRequest = 100,
    kValueResponse = 101,
};

}  // namespace quorvex::webcom
