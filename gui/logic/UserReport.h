// The user report: the account list written as an HTML page, an INI file,
// a comma-separated file or a tab-separated text file in the "report"
// folder, with the columns the administrator chose. What users typed
// (user name, description) is written so that it can neither break the
// file's columns nor add markup: CSV values are quoted, text values lose
// their TABs and line breaks, HTML values are escaped.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "gui/logic/AccountRows.h"

namespace quorvex::gui {

enum class ReportFormat { kHtml = 0, kIni = 1, kCsv = 2, kText = 3 };

// The eight cells of one account; cell 6 (the address) is made from the
// name when the report is written.
using ReportRow = std::array<std::string, kAccountColumnCount>;

struct ReportOptions {
    std::array<bool, kAccountColumnCount> columns{};  // include column i
    ReportFormat format = ReportFormat::kHtml;
    std::array<std::string, kAccountColumnCount> titles;
    std::string time_text;  // "%Y/%m/%d %H:%M:%S"
    std::string domain;     // the primary mail domain
    bool multi_domain = false;
    // The page (UTF-8 here) is written in this charset when every character
    // has a place in it, else in UTF-8; it declares which.
    std::string language_charset = "iso-8859-1";
    // The whole page with three "%s": charset, report time, table rows.
    std::string page_template;
};

// "report.htm", "report.ini", "report.csv" or "report.txt".
std::string ReportFileName(ReportFormat format);

// The address cell: "<name@domain>" ("<name>" in multi-domain mode), as a
// mailto link for HTML.
std::string ReportAddress(std::string_view name, const ReportOptions& options);

std::string HtmlEscape(std::string_view text);
// One CSV field: quoted when it holds a comma, quote, line break or edge
// blank; a leading '=', '+', '-', '@', TAB or CR (a spreadsheet formula)
// is preceded by "'".
std::string CsvField(std::string_view value);

// The whole file for these rows.
std::string FormatReport(const ReportOptions& options, const std::vector<ReportRow>& rows);

// The rows of these accounts, in this order, read from their files.
std::vector<ReportRow> LoadReportRows(const std::vector<std::string>& names, const RowTexts& texts,
                                      const AccountList& accounts);

// Writes the report into `folder` (made when missing) by atomic replace;
// the path written, or "" when it could not be written.
std::string WriteReport(const std::string& folder, const ReportOptions& options, const std::vector<ReportRow>& rows);

}  // namespace quorvex::gui
