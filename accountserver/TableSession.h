// The AUTH# request: one login, then tables opened one after another and
// read and changed record by record.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "accountserver/RequestContext.h"
#include "accountserver/Table.h"

namespace quorvex::accountserver {

enum TableResult : int {
    TABLE_CLOSED = 0,  // the client sent "CLOSE"
    TABLE_END = 1,     // the session ends
    TABLE_REOPEN = 2,  // the client sent a new "OPEN" line (now in the buffer)
};

class TableSession {
public:
    explicit TableSession(RequestContext& context) : context_(context) {}

    // `text`: the first line after "AUTH#".
    void Run(std::string_view text);

private:
    // Rights, open and the command loop of one table. `line` holds the
    // "OPEN" line and receives the next one on TABLE_REOPEN.
    TableResult ServeTable(const TableKind& kind, const std::string& argument, std::string& line);
    // Answers one command line of an open table. Nothing when the table
    // stays open; else how it ended.
    std::optional<TableResult> HandleCommand(Table& table, std::string& line);

    RequestContext& context_;
    std::string login_;
};

}  // namespace quorvex::accountserver
