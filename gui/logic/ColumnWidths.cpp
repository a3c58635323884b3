#include "gui/logic/ColumnWidths.h"

#include <algorithm>

#include "common/IniDocument.h"

namespace quorvex::gui {

int StoredColumnWidth(std::string_view value, int column) {
    for (int index = 0; index < column; ++index) {
        const auto comma = value.find(',');
        if (comma == std::string_view::npos) return 0;
        value.remove_prefix(comma + 1);
    }
    value = value.substr(0, value.find(','));
    // As atoi reads it: digits after optional blanks and a sign.
    return ParseProfileInt(value, 0);
}

std::string FormatColumnWidths(const std::vector<int>& widths) {
    std::string text;
    for (int width : widths) {
        text += std::to_string(width);
        text += ',';
    }
    return text;
}

int AutoColumnWidth(int contents_width, int header_width) {
    return std::clamp(std::max(contents_width, header_width), kAutoWidthMin, kAutoWidthMax);
}

int FittedColumnWidth(int contents_width, int header_width) {
    return std::clamp(std::max(contents_width, header_width), kAutoWidthMin, kFitWidthMax);
}

}  // namespace quorvex::gui
