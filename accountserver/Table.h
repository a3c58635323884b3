// One open table of a table session: its store, loaded at open, and one
// current record. The session parses the command lines and calls these;
// a command a table does not have answers nothing (std::nullopt) and the
// session replies "-ERR unknown command".
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "accountserver/TableRights.h"

namespace quorvex {
class NoticeSink;
}

namespace quorvex::accountserver {

// Who opened the table, for the tables whose values depend on it.
struct TableLogin {
    std::string account;  // lower-cased
    int permission = 0;   // level at the moment of the open
    NoticeSink* notices = nullptr;
};

class Table {
public:
    virtual ~Table() = default;

    // Loads the store for the "OPEN" argument. False: "open database failed".
    virtual bool Open(const std::string& argument) = 0;

    // Entry numbers are counted from 0 here.
    virtual std::optional<bool> AddNew() { return std::nullopt; }
    virtual std::optional<int> GetCount() { return std::nullopt; }
    virtual std::optional<bool> Update() { return std::nullopt; }
    virtual std::optional<bool> Delete(int) { return std::nullopt; }
    virtual std::optional<bool> Edit(int) { return std::nullopt; }
    virtual std::optional<bool> GetData(int) { return std::nullopt; }
    virtual std::optional<bool> MoveUp(int) { return std::nullopt; }
    virtual std::optional<bool> MoveDown(int) { return std::nullopt; }
    virtual std::optional<int> Find(std::string_view) { return std::nullopt; }

    // The value's text, or nothing for a name the table does not have.
    virtual std::optional<std::string> GetValue(std::string_view name) = 0;
    // False for a name the table does not have (or may not be set).
    virtual bool SetValue(std::string_view name, std::string_view value) = 0;
};

// A table known to the session by one or two names.
struct TableKind {
    std::string_view name;
    std::string_view synonym;  // empty when none
    TableRights rights;
    std::unique_ptr<Table> (*make)(const TableLogin& login);
};

// The tables of the session, looked up without regard to case.
const TableKind* FindTableKind(std::string_view name);

// The tables themselves (one file each group).
std::unique_ptr<Table> MakePop3InfoTable(const TableLogin& login);
std::unique_ptr<Table> MakeForwardInfoTable(const TableLogin& login);
std::unique_ptr<Table> MakeFilterInfoTable(const TableLogin& login);
std::unique_ptr<Table> MakeAutoReplyInfoTable(const TableLogin& login);
std::unique_ptr<Table> MakeAccountInfoTable(const TableLogin& login);
std::unique_ptr<Table> MakeAccountListInfoTable(const TableLogin& login);
std::unique_ptr<Table> MakeDomainInfoTable(const TableLogin& login);

// Cuts a text value at a field's length.
inline std::string CutText(std::string_view value, std::size_t length) { return std::string(value.substr(0, length)); }

}  // namespace quorvex::accountserver
