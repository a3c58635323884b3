// Argument conversion and result storage.
#include "webcom/dispatch/ComValue.h"

#include <charconv>
#include <limits>

namespace quorvex::webcom {
namespace {

Status ToInteger(const QvxValue& value, std::int32_t& out) {
    switch (value.type) {
        case kValueEmpty:
            out = 0;
            return kOk;
        case kValueInteger:
            out = value.i4;
            return kOk;
        case kValueText: {
            if (value.size < 0 || (value.size > 0 && value.data == nullptr)) return kNullPointer;
            const std::string_view text(value.data, static_cast<std::size_t>(value.size));
            return ParseIntegerText(text, out) ? kOk : kTypeMismatch;
        }
        default:
            return kTypeMismatch;
    }
}

}  // namespace

bool ParseIntegerText(std::string_view text, std::int32_t& out) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return false;
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        return false;
    out = static_cast<std::int32_t>(value);
    return true;
}

Status Arguments::Convert(std::string_view params, std::span<const QvxValue> values) {
    values_.assign(values.size(), {});
    for (std::size_t i = 0; i < values.size(); ++i) {
        const QvxValue& value = values[i];
        Converted& slot = values_[i];
        slot.raw = &value;
        switch (params[i]) {
            case kParamInteger:
                if (const Status status = ToInteger(value, slot.integer); status != kOk) return status;
                break;
            case kParamText:
                if (value.type == kValueText) {
                    if (value.size < 0 || (value.size > 0 && value.data == nullptr)) return kNullPointer;
                    slot.text = std::string_view(value.size > 0 ? value.data : "", static_cast<std::size_t>(value.size));
                } else if (value.type == kValueInteger) {
                    slot.owned = std::to_string(value.i4);
                    slot.text = slot.owned;  // the vector never grows after assign
                } else if (value.type != kValueEmpty) {
                    return kTypeMismatch;
                }
                break;
            default:  // kParamAny: the handler looks at the raw value
                break;
        }
    }
    return kOk;
}

void Result::Clear() {
    type_ = kValueEmpty;
    integer_ = 0;
    data_.clear();
}

void Result::SetInteger(std::int32_t value) {
    type_ = kValueInteger;
    integer_ = value;
    data_.clear();
}

void Result::SetText(std::string text) {
    type_ = kValueText;
    integer_ = 0;
    data_ = std::move(text);
}

void Result::SetBytes(std::string bytes) {
    type_ = kValueBytes;
    integer_ = 0;
    data_ = std::move(bytes);
}

QvxValue Result::AsValue() const {
    QvxValue value{};
    value.type = type_;
    value.i4 = integer_;
    if (type_ == kValueText || type_ == kValueBytes) {
        // A text result ends in the string's NUL, so C callers may also
        // read it as a C string.
        value.data = data_.c_str();
        value.size = static_cast<std::int64_t>(data_.size());
    }
    return value;
}

}  // namespace quorvex::webcom
