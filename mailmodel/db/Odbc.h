// The one database layer of the system: ODBC handles owned by RAII objects,
// a connection, statements prepared with bound parameters, fetched rows,
// and errors returned as values. The mailfolder table, the database
// filter, the receipts table and the upgrade scripts all go through it, on
// SQLite (the default) or PostgreSQL alike. No statement is ever built by
// pasting a value into SQL text.
#pragma once

#include <sql.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace quorvex::db {

// A bound parameter: an integer or a text (8-bit bytes, passed unchanged).
using Param = std::variant<std::int64_t, std::string>;
// A fetched row: one entry per column, nothing for SQL NULL.
using Row = std::vector<std::optional<std::string>>;

// The outcome of a database call: empty error text means success.
struct Status {
    std::string error;  // "SQLSTATE: message" lines from the driver
    std::string state;  // the first SQLSTATE, e.g. "IM002"
    bool ok() const { return error.empty(); }
    explicit operator bool() const { return ok(); }
};

// One ODBC handle and its SQLFreeHandle.
class Handle {
public:
    Handle() = default;
    Handle(SQLSMALLINT type, SQLHANDLE handle) : type_(type), handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : type_(other.type_), handle_(std::exchange(other.handle_, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept;
    ~Handle() { reset(); }

    SQLHANDLE get() const { return handle_; }
    SQLSMALLINT type() const { return type_; }
    void reset();

private:
    SQLSMALLINT type_ = 0;
    SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

class Connection {
public:
    Connection() = default;
    Connection(Connection&&) noexcept;
    Connection& operator=(Connection&&) noexcept;
    ~Connection();

    // Opens a connection ("DSN=...;UID=...;PWD=..." or "DRIVER=...;...").
    Status Open(const std::string& connection_string);
    bool is_open() const { return connected_; }
    void Close();

    // Prepares and runs one statement with its parameters bound in order.
    Status Execute(std::string_view sql, const std::vector<Param>& params = {});
    // The same, collecting every row of the result.
    Status Query(std::string_view sql, const std::vector<Param>& params, std::vector<Row>& rows);
    // Runs each statement of a script (statements end with ";" at the end
    // of a line; lines starting with "--" are comments).
    Status ExecuteScript(std::string_view script);

    // The engine's name as the driver reports it ("SQLite", "PostgreSQL").
    std::string EngineName();

private:
    Status Run(std::string_view sql, const std::vector<Param>& params, std::vector<Row>* rows);

    Handle env_;
    Handle dbc_;
    bool connected_ = false;
};

// The statements of a script, in order (see Connection::ExecuteScript).
std::vector<std::string> SplitSqlScript(std::string_view script);

}  // namespace quorvex::db
