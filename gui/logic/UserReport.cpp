#include "gui/logic/UserReport.h"

#include "common/AtomicFile.h"
#include "common/CharsetText.h"
#include "common/Paths.h"
#include "mailmodel/compose/MailCharset.h"

namespace quorvex::gui {

namespace {

constexpr int kAddressColumn = 6;

// CR, LF and TAB become blanks: one value stays one line and one column.
std::string OneLine(std::string_view value) {
    std::string out(value);
    for (char& c : out) {
        if (c == '\r' || c == '\n' || c == '\t' || c == '\0') c = ' ';
    }
    return out;
}

// The template with its first three "%s" replaced and "%%" made "%".
std::string FillPage(std::string_view page, const std::array<std::string_view, 3>& values) {
    std::string out;
    out.reserve(page.size() + values[2].size() + 64);
    std::size_t used = 0;
    for (std::size_t i = 0; i < page.size(); ++i) {
        if (page[i] == '%' && i + 1 < page.size()) {
            if (page[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (page[i + 1] == 's' && used < values.size()) {
                out += values[used++];
                ++i;
                continue;
            }
        }
        out += page[i];
    }
    return out;
}

std::string CellValue(const ReportRow& row, int column, const ReportOptions& options) {
    return column == kAddressColumn ? ReportAddress(row[0], options) : row[column];
}

}  // namespace

std::string ReportFileName(ReportFormat format) {
    switch (format) {
        case ReportFormat::kHtml: return "report.htm";
        case ReportFormat::kIni: return "report.ini";
        case ReportFormat::kCsv: return "report.csv";
        case ReportFormat::kText: return "report.txt";
    }
    return "report.htm";
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string CsvField(std::string_view value) {
    std::string text(value);
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
        text.insert(text.begin(), '\'');
    }
    const bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
                       (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quote) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

std::string ReportAddress(std::string_view name, const ReportOptions& options) {
    const std::string address = options.multi_domain ? std::string(name) : std::string(name) + "@" + options.domain;
    if (options.format != ReportFormat::kHtml) return "<" + address + ">";
    const std::string escaped = HtmlEscape(address);
    return "<a href=\"mailto:" + escaped + "\">&lt;" + escaped + "&gt; </a>";
}

std::string FormatReport(const ReportOptions& options, const std::vector<ReportRow>& rows) {
    std::string out;
    out.reserve(rows.size() * 96);
    switch (options.format) {
        case ReportFormat::kHtml: {
            std::string table = "<tr>\n";
            for (int c = 0; c < kAccountColumnCount; ++c) {
                if (options.columns[c]) table += "<td><font color=white>" + HtmlEscape(options.titles[c]) + "</font></td>\n";
            }
            table += "</tr>\n";
            for (const ReportRow& row : rows) {
                table += "<tr bgcolor=white>";
                for (int c = 0; c < kAccountColumnCount; ++c) {
                    if (!options.columns[c]) continue;
                    // Account files written before the window wrote UTF-8 hold
                    // their texts in the language's charset.
                    const std::string value = ReadAsUtf8(CellValue(row, c, options), options.language_charset);
                    // The address cell is markup already, made of escaped parts.
                    const std::string cell = c == kAddressColumn ? value : HtmlEscape(value);
                    table += "<td>" + (cell.empty() ? std::string("&nbsp;") : cell) + "</td>\n";
                }
                table += "</tr>\n";
            }
            // The page is UTF-8 here; it goes out in the charset it declares.
            const compose::MailCharset charset(options.language_charset,
                                               {options.page_template, options.time_text, table});
            out = charset.Encode(
                FillPage(options.page_template, {HtmlEscape(charset.Name()), HtmlEscape(options.time_text), table}));
            break;
        }
        case ReportFormat::kIni: {
            int number = 0;
            for (const ReportRow& row : rows) {
                out += "[User" + std::to_string(++number) + "]\r\n";
                for (int c = 0; c < kAccountColumnCount; ++c) {
                    if (options.columns[c]) out += OneLine(options.titles[c]) + "=" + OneLine(CellValue(row, c, options)) + "\r\n";
                }
            }
            break;
        }
        case ReportFormat::kCsv:
        case ReportFormat::kText: {
            const bool csv = options.format == ReportFormat::kCsv;
            for (const ReportRow& row : rows) {
                bool first = true;
                for (int c = 0; c < kAccountColumnCount; ++c) {
                    if (!options.columns[c]) continue;
                    if (!first) out += csv ? ',' : '\t';
                    first = false;
                    const std::string value = CellValue(row, c, options);
                    out += csv ? CsvField(value) : OneLine(value);
                }
                out += "\r\n";
            }
            break;
        }
    }
    return out;
}

std::vector<ReportRow> LoadReportRows(const std::vector<std::string>& names, const RowTexts& texts,
                                      const AccountList& accounts) {
    std::vector<ReportRow> rows;
    rows.reserve(names.size());
    for (const std::string& name : names) {
        const AccountRow account = LoadAccountRow(name, texts, accounts);
        ReportRow row;
        for (int c = 0; c < kAccountColumnCount; ++c) row[c] = account.cells[c];
        row[0] = name;
        row[kAddressColumn].clear();
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string WriteReport(const std::string& folder, const ReportOptions& options, const std::vector<ReportRow>& rows) {
    if (!MakeFolders(folder)) return {};
    const std::string path = JoinPath(folder, ReportFileName(options.format));
    // Owner-only, as everything else the program writes.
    return AtomicWriteFile(path, FormatReport(options, rows), 0600) ? path : std::string();
}

}  // namespace quorvex::gui
