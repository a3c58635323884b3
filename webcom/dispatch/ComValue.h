// Marshalling between the C interface's QvxValue and the member handlers:
// arguments converted to the types a member's table row declares (with the
// conversions scripting hosts make between numbers and texts), and results
// held in storage owned by the object until its next call.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "webcom/dispatch/CInterface.h"
#include "webcom/module/ComStatus.h"

namespace quorvex::webcom {

// One letter per argument in a member's row.
inline constexpr char kParamInteger = 'i';
inline constexpr char kParamText = 't';
inline constexpr char kParamAny = 'o';  // any value: a host object, or something that is not one

class Arguments {
public:
    // Converts `values` to the types of `params`. kTypeMismatch when one
    // cannot be converted, kNullPointer for a text without its bytes.
    Status Convert(std::string_view params, std::span<const QvxValue> values);

    std::size_t size() const { return values_.size(); }
    std::int32_t Integer(std::size_t index) const { return values_[index].integer; }
    std::string_view Text(std::size_t index) const { return values_[index].text; }
    const QvxValue& Raw(std::size_t index) const { return *values_[index].raw; }

private:
    struct Converted {
        const QvxValue* raw = nullptr;
        std::int32_t integer = 0;
        std::string_view text;
        std::string owned;  // a number given where a text is declared
    };
    std::vector<Converted> values_;
};

// What a member call hands back: nothing, an integer, a text or bytes.
class Result {
public:
    void Clear();
    void SetInteger(std::int32_t value);
    void SetText(std::string text);
    void SetBytes(std::string bytes);

    std::int32_t type() const { return type_; }
    std::int32_t integer() const { return integer_; }
    const std::string& data() const { return data_; }

    // The C value pointing into this result's storage.
    QvxValue AsValue() const;

private:
    std::int32_t type_ = kValueEmpty;
    std::int32_t integer_ = 0;
    std::string data_;
};

// A decimal integer as scripting hosts convert a text: blanks around it
// allowed, an optional sign, digits, within the 32-bit range.
bool ParseIntegerText(std::string_view text, std::int32_t& out);

}  // namespace quorvex::webcom
