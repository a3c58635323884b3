// Column widths of a sortable list, kept across runs in config.ini
// [ColumnWidths] under the list's name as "w0,w1,...," (each width followed
// by a comma). A stored width below kMinStoredWidth (or a missing one)
// means: size the column to its contents, within kAutoWidthMin..Max.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvex::gui {

inline constexpr std::string_view kColumnWidthsSection = "ColumnWidths";
inline constexpr int kMinStoredWidth = 20;
inline constexpr int kAutoWidthMin = 20;
inline constexpr int kAutoWidthMax = 70;

// The column-th comma-separated field as an integer; 0 when missing or not
// a number.
int StoredColumnWidth(std::string_view value, int column);

std::string FormatColumnWidths(const std::vector<int>& widths);

// The width an auto-sized column gets for its contents and header.
int AutoColumnWidth(int contents_width, int header_width);

// The width of a column fitted to the rows it shows: wide enough for its
// contents and its title, at most kFitWidthMax.
inline constexpr int kFitWidthMax = 320;
int FittedColumnWidth(int contents_width, int header_width);

}  // namespace quorvex::gui
