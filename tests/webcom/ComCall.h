// Calling a component object by member name, as the C interface does:
// values for the arguments, the status and result of one call.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "webcom/dispatch/ComObject.h"

namespace quorvex::webcom::testing {

inline QvxValue Text(std::string_view text) {
    return QvxValue{kValueText, 0, text.data(), static_cast<std::int64_t>(text.size()), nullptr};
}
inline QvxValue Integer(std::int32_t value) { return QvxValue{kValueInteger, value, nullptr, 0, nullptr}; }

struct Call {
    Status status;
    QvxValue value;
};

inline Call Invoke(ComObject& object, std::string_view name, int flags, std::vector<QvxValue> args = {}) {
    std::int32_t dispid = -1;
    EXPECT_EQ(object.IdOfName(name, dispid), kOk) << name;
    Call call{};
    call.status = object.Invoke(dispid, flags, args, call.value);
    return call;
}

inline std::string AsText(const QvxValue& value) {
    EXPECT_EQ(value.type, kValueText);
    return std::string(value.data, static_cast<std::size_t>(value.size));
}

}  // namespace quorvex::webcom::testing
