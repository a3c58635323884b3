// ODBC handles, connections and statements with bound parameters.
#include "mailmodel/db/Odbc.h"

#include <sqlext.h>

#include <algorithm>
#include <cstring>

namespace quorvex::db {

namespace {

bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

Status Diagnostics(SQLSMALLINT type, SQLHANDLE handle, std::string_view what) {
    Status status;
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[1024];
    SQLSMALLINT length = 0;
    for (SQLSMALLINT i = 1;
         handle != SQL_NULL_HANDLE &&
         Succeeded(SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message, &length));
         ++i) {
        if (status.state.empty()) status.state = reinterpret_cast<const char*>(state);
        if (!status.error.empty()) status.error.append("\n");
        status.error.append(reinterpret_cast<const char*>(state)).append(": ");
        status.error.append(reinterpret_cast<const char*>(message));
    }
    if (status.error.empty()) status.error = std::string(what) + " failed";
    return status;
}

}  // namespace

Handle& Handle::operator=(Handle&& other) noexcept {
    if (this != &other) {
        reset();
        type_ = other.type_;
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

void Handle::reset() {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, std::exchange(handle_, nullptr));
}

Connection::Connection(Connection&& other) noexcept
    : env_(std::move(other.env_)), dbc_(std::move(other.dbc_)), connected_(std::exchange(other.connected_, false)) {}

Connection& Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        Close();
        env_ = std::move(other.env_);
        dbc_ = std::move(other.dbc_);
        connected_ = std::exchange(other.connected_, false);
    }
    return *this;
}

Connection::~Connection() { Close(); }

void Connection::Close() {
    if (connected_) SQLDisconnect(dbc_.get());
    connected_ = false;
    dbc_.reset();
    env_.reset();
}

Status Connection::Open(const std::string& connection_string) {
    Close();
    SQLHANDLE env = SQL_NULL_HANDLE;
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return Status{"cannot allocate ODBC environment", ""};
    env_ = Handle(SQL_HANDLE_ENV, env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLHANDLE dbc = SQL_NULL_HANDLE;
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) return Diagnostics(SQL_HANDLE_ENV, env, "SQLAllocHandle");
    dbc_ = Handle(SQL_HANDLE_DBC, dbc);
    std::string text = connection_string;
    SQLSMALLINT out_length = 0;
    const SQLRETURN rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                          static_cast<SQLSMALLINT>(text.size()), nullptr, 0, &out_length,
                                          SQL_DRIVER_NOPROMPT);
    if (!Succeeded(rc)) {
        Status status = Diagnostics(SQL_HANDLE_DBC, dbc, "SQLDriverConnect");
        dbc_.reset();
        env_.reset();
        return status;
    }
    connected_ = true;
    return {};
}

Status Connection::Execute(std::string_view sql, const std::vector<Param>& params) { return Run(sql, params, nullptr); }

Status Connection::Query(std::string_view sql, const std::vector<Param>& params, std::vector<Row>& rows) {
    rows.clear();
    return Run(sql, params, &rows);
}

Status Connection::Run(std::string_view sql, const std::vector<Param>& params, std::vector<Row>* rows) {
    if (!connected_) return Status{"not connected", ""};
    SQLHANDLE raw = SQL_NULL_HANDLE;
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_STMT, dbc_.get(), &raw)))
        return Diagnostics(SQL_HANDLE_DBC, dbc_.get(), "SQLAllocHandle");
    const Handle statement(SQL_HANDLE_STMT, raw);
    std::string text(sql);
    if (!Succeeded(SQLPrepare(raw, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size()))))
        return Diagnostics(SQL_HANDLE_STMT, raw, "SQLPrepare");

    // The bound buffers must stay where they are until the statement ran.
    std::vector<SQLBIGINT> numbers(params.size());
    std::vector<SQLLEN> lengths(params.size());
    for (std::size_t i = 0; i < params.size(); ++i) {
        const auto number = static_cast<SQLUSMALLINT>(i + 1);
        SQLRETURN rc;
        if (const auto* value = std::get_if<std::int64_t>(&params[i])) {
            numbers[i] = *value;
            lengths[i] = 0;
            rc = SQLBindParameter(raw, number, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &numbers[i], 0,
                                  &lengths[i]);
        } else {
            const std::string& text = std::get<std::string>(params[i]);
            lengths[i] = static_cast<SQLLEN>(text.size());
            rc = SQLBindParameter(raw, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                                  std::max<SQLULEN>(text.size(), 1), 0,
                                  const_cast<char*>(text.data()), lengths[i], &lengths[i]);
        }
        if (!Succeeded(rc)) return Diagnostics(SQL_HANDLE_STMT, raw, "SQLBindParameter");
    }
    const SQLRETURN rc = SQLExecute(raw);
    if (!Succeeded(rc) && rc != SQL_NO_DATA) return Diagnostics(SQL_HANDLE_STMT, raw, "SQLExecute");
    if (!rows) return {};

    SQLSMALLINT columns = 0;
    if (!Succeeded(SQLNumResultCols(raw, &columns))) return Diagnostics(SQL_HANDLE_STMT, raw, "SQLNumResultCols");
    for (;;) {
        const SQLRETURN fetched = SQLFetch(raw);
        if (fetched == SQL_NO_DATA) break;
        if (!Succeeded(fetched)) return Diagnostics(SQL_HANDLE_STMT, raw, "SQLFetch");
        Row row;
        for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
            std::string value;
            bool is_null = false;
            char chunk[4096];
            for (;;) {
                SQLLEN indicator = 0;
                const SQLRETURN got = SQLGetData(raw, c, SQL_C_CHAR, chunk, sizeof chunk, &indicator);
                if (got == SQL_NO_DATA) break;
                if (!Succeeded(got)) return Diagnostics(SQL_HANDLE_STMT, raw, "SQLGetData");
                if (indicator == SQL_NULL_DATA) {
                    is_null = true;
                    break;
                }
                // A truncated chunk fills the buffer less its terminating NUL.
                const std::size_t part = (indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof chunk))
                                             ? sizeof chunk - 1
                                             : static_cast<std::size_t>(indicator);
                value.append(chunk, part);
                if (got == SQL_SUCCESS) break;
            }
            row.push_back(is_null ? std::nullopt : std::optional<std::string>(std::move(value)));
        }
        rows->push_back(std::move(row));
    }
    return {};
}

Status Connection::ExecuteScript(std::string_view script) {
    for (const std::string& statement : SplitSqlScript(script))
        if (Status status = Execute(statement); !status) return status;
    return {};
}

std::string Connection::EngineName() {
    char name[256] = {};
    SQLSMALLINT length = 0;
    if (!connected_ || !Succeeded(SQLGetInfo(dbc_.get(), SQL_DBMS_NAME, name, sizeof name, &length))) return {};
    return name;
}

std::vector<std::string> SplitSqlScript(std::string_view script) {
    std::vector<std::string> statements;
    std::string current;
    while (!script.empty()) {
        const auto eol = script.find('\n');
        std::string_view line = script.substr(0, eol);
        script = eol == std::string_view::npos ? std::string_view() : script.substr(eol + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line.substr(first, 2) == "--") continue;
        if (!current.empty()) current.push_back('\n');
        current.append(line);
        if (current.back() == ';') {
            current.pop_back();
            statements.push_back(std::move(current));
            current.clear();
        }
    }
    if (current.find_first_not_of(" \t\n") != std::string::npos) statements.push_back(std::move(current));
    return statements;
}

}  // namespace quorvex::db
