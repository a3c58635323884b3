// The table session and the command grammar shared by every table.
#include "accountserver/TableSession.h"

#include <array>

#include "accountserver/AccountProtocol.h"
#include "common/AccountName.h"
#include "common/AsciiCase.h"
#include "common/RunFlag.h"
#include "common/ServerSettings.h"
#include "mailmodel/account/AccountList.h"

namespace quorvex::accountserver {

namespace {

const std::array<TableKind, 7> kTables{{
    {"EmailPOP3RemoteInfo", "POP3Info", TableRights::kAccount, MakePop3InfoTable},
    {"EmailForwardInfo", "ForwardInfo", TableRights::kAccount, MakeForwardInfoTable},
    {"EmailFilterInfo", "FilterInfo", TableRights::kAccount, MakeFilterInfoTable},
    {"EmailAutoReplyInfo", "AutoReplyInfo", TableRights::kAccount, MakeAutoReplyInfoTable},
    {"AccountInfo", "", TableRights::kAccount, MakeAccountInfoTable},
    {"AccountListInfo", "", TableRights::kDomainList, MakeAccountListInfoTable},
    {"DomainInfo", "", TableRights::kDomainTable, MakeDomainInfoTable},
}};

std::string_view Outcome(bool ok, std::string_view failure) { return ok ? kReplyOkBlank : failure; }

// The commands that change a table: their success is the session's progress.
bool ChangesTable(TableVerb verb) {
    switch (verb) {
        case TableVerb::kAddNew: case TableVerb::kUpdate: case TableVerb::kDelete: case TableVerb::kMoveUp:
        case TableVerb::kMoveDown: case TableVerb::kValueSet:
            return true;
        default:
            return false;
    }
}

}  // namespace

const TableKind* FindTableKind(std::string_view name) {
    for (const TableKind& kind : kTables)
        if (SameName(name, kind.name) || (!kind.synonym.empty() && SameName(name, kind.synonym))) return &kind;
    return nullptr;
}

void TableSession::Run(std::string_view text) {
    const auto account = context_.CheckCredentials(text, "ACCOUNT CONFIG");
    if (!account) return;
    login_ = AsciiLowerCase(*account);
    if (!context_.Reply(kReplyOk)) return;

    std::string line;
    if (!context_.Read(line)) return;
    for (;;) {
        if (!IsOpenLine(line)) {
            if (EqualsNoCase(line, "QUIT")) context_.Reply(kReplyOkBlank);
            else context_.Reply("-ERR command 'open' should be loaded first.");
            return;
        }
        const auto open = ParseOpenLine(line);
        if (!open) {
            context_.Reply("-ERR unknow parameters");
            return;
        }
        const TableKind* kind = FindTableKind(open->table);
        if (!kind) {
            context_.Reply("-ERR unknown parameters");
            return;
        }
        switch (ServeTable(*kind, open->argument, line)) {
            case TABLE_END:
                return;
            case TABLE_CLOSED:
                if (!context_.Read(line)) return;
                break;
            case TABLE_REOPEN:
                break;
        }
    }
}

TableResult TableSession::ServeTable(const TableKind& kind, const std::string& argument, std::string& line) {
    const auto settings = Settings();
    TableLogin login{login_, PermissionLevel(Accounts().GetPermission(login_)), context_.notices()};
    RightsQuestion question;
    question.permission = login.permission;
    question.login = login_;
    question.argument = argument;
    question.target_permission = Accounts().GetPermission(argument);
    question.multi_domain = settings->DomainNameType == 1;
    question.single_domain = settings->Dominame;
    if (!MayOpenTable(kind.rights, question)) {
        context_.Log("ACCOUNT TABLE REFUSED " + context_.client() + " " + login_ + " " + std::string(kind.name) + " " +
                     argument);
        context_.Reply("-ERR illegal user operation");
        return TABLE_END;
    }
    std::unique_ptr<Table> table = kind.make(login);
    // Account tables name an account: only a listed, valid name reaches a
    // path, and in its stored spelling.
    std::string target = argument;
    if (kind.rights == TableRights::kAccount) {
        if (!IsValidAccountName(argument) || !Accounts().Exists(argument)) target.clear();
        else target = Accounts().StoredName(argument);
    }
    if ((kind.rights == TableRights::kAccount && target.empty()) || !table->Open(target)) {
        context_.Reply("-ERR open database failed");
        return TABLE_END;
    }
    if (!context_.Reply(kReplyOkBlank)) return TABLE_END;

    while (ServersRunning()) {
        if (!context_.ReadCommand(line)) return TABLE_END;
        if (const auto ended = HandleCommand(*table, line)) return *ended;
    }
    return TABLE_END;
}

std::optional<TableResult> TableSession::HandleCommand(Table& table, std::string& line) {
    const TableCommand command = ParseTableCommand(line);
    const int index = command.number > 0 ? command.number - 1 : -1;
    std::optional<std::string> reply;
    const auto outcome = [&](std::optional<bool> done, std::string_view failure) {
        if (done) reply = std::string(Outcome(*done, failure));
    };
    switch (command.verb) {
        case TableVerb::kOpen:
            return TABLE_REOPEN;
        case TableVerb::kQuit:
            context_.Reply(kReplyBye);
            return TABLE_END;
        case TableVerb::kClose:
            if (!context_.Reply("+OK closed")) return TABLE_END;
            return TABLE_CLOSED;
        case TableVerb::kAddNew:
            outcome(table.AddNew(), kReplyAddNewFailed);
            break;
        case TableVerb::kUpdate:
            outcome(table.Update(), kReplyUpdateFailed);
            break;
        case TableVerb::kDelete:
            outcome(table.Delete(index), kReplyDeleteFailed);
            break;
        case TableVerb::kEdit:
            outcome(table.Edit(index), "-ERR Edit failed");
            break;
        case TableVerb::kGetData:
            outcome(table.GetData(index), "-ERR Getdata failed");
            break;
        case TableVerb::kMoveUp:
            outcome(table.MoveUp(index), "-ERR Move up failed");
            break;
        case TableVerb::kMoveDown:
            outcome(table.MoveDown(index), "-ERR Move down failed");
            break;
        case TableVerb::kGetCount:
            if (const auto count = table.GetCount()) reply = "+OK " + std::to_string(*count);
            break;
        case TableVerb::kFind:
            if (const auto found = table.Find(command.text)) reply = "+OK " + std::to_string(*found);
            break;
        case TableVerb::kValueGet:
            if (const auto value = table.GetValue(command.text)) reply = "+OK " + *value;
            else reply = "-ERR invalid value name";
            break;
        case TableVerb::kValueSet:
            reply = table.SetValue(command.text, command.value) ? "+OK " : "-ERR invalid value name ";
            break;
        case TableVerb::kUnknown:
            break;
    }
    if (reply && reply->starts_with("+OK") && ChangesTable(command.verb)) context_.Progress();
    if (!context_.Reply(reply ? *reply : std::string(kReplyUnknownCommand))) return TABLE_END;
    return std::nullopt;
}

}  // namespace quorvex::accountserver
