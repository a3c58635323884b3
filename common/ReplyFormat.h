// Fills the "%s" places of a reply or log format, in order. Arguments are
// client text: they are copied as bytes, never read as formats themselves.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace quorvex {

inline std::string FormatReply(std::string_view format, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(format.size() + 64);
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
            if (next != args.end()) out.append(*next++);
            ++i;
        } else {
            out.push_back(format[i]);
        }
    }
    return out;
}

}  // namespace quorvex
