// The Admin class: the one-shot account dialogues and the record-set
// session. Every line is checked before the connection opens, so a refused
// value never leaves half a dialogue on the server.
#include "webcom/admin/CAdmin.h"

#include <array>

#include "common/AccountName.h"
#include "common/AccountServerTags.h"
#include "common/IniDocument.h"
#include "common/TextHelpers.h"
#include "webcom/admin/AdminTexts.h"
#include "webcom/module/ComConfig.h"
#include "webcom/module/ComModule.h"
#include "webcom/net/ReplyText.h"

namespace quorvex::webcom {

using namespace admin;

namespace {

namespace tags = account_tags;

std::string Cut(std::string_view text, std::size_t limit) { return std::string(text.substr(0, limit)); }

std::string Join(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (const std::string_view part : parts) out.append(part);
    return out;
}

// "#" splits the server's "account#password" argument, and a line break or
// NUL would end or corrupt the line: such an account is never sent.
bool AccountTextAllowed(std::string_view account) {
    return account.find_first_of(std::string_view("#\r\n\0", 4)) == std::string_view::npos;
}

// The account part the server takes (the pages append ":" and the client
// address).
std::string_view AccountPart(std::string_view account) { return tags::CutColonSuffix(account); }

// A name for a new account must be one the mail folder can hold. An empty
// one is left to the server, which answers it with its own text.
bool NewAccountAllowed(std::string_view account) {
    const std::string_view name = AccountPart(account);
    return name.empty() || IsValidAccountName(name);
}

// A record-set value: lone CR or LF become CR LF (a textarea's line
// breaks), then every CR LF becomes the four characters the server turns
// back into one.
std::string EscapeValueLine(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\r') {
            if (i + 1 < line.size() && line[i + 1] == '\n') ++i;
            out += "\\r\\n";
        } else if (c == '\n') {
            out += "\\r\\n";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

CAdmin::CAdmin(const LibraryLocation& library) : library_(library) { PrepareComponent(library_); }

CAdmin::~CAdmin() { CloseConnection(); }

// ---------------------------------------------------------------------------
// Shared steps of the one-shot dialogues.

std::string_view CAdmin::CheckCredentials(std::string_view account, std::string_view password, std::size_t limit,
                                          bool check_password) const {
    if (account.size() > limit) return kAccountTooLong;
    if (check_password && password.size() > limit) return kPasswordTooLong;
    if (!AccountTextAllowed(account)) return kIllegalLetter;
    return {};
}

bool CAdmin::LineAllowed(std::string_view line) {
    const LineProblem problem = CheckCommandLine(line);
    if (problem == LineProblem::kNone) return true;
    last_response_ = std::string(ProblemReply(problem));
    return false;
}

bool CAdmin::OpenDialogue(std::string_view refusal, const std::string& first_line,
                          const std::vector<FieldLine>& fields, bool resets_login, ServerConnection& connection,
                          Status& status) {
    status = kFalse;
    if (!refusal.empty()) {
        last_response_ = std::string(refusal);
        return false;
    }
    if (!LineAllowed(first_line)) return false;
    for (const FieldLine& field : fields)
        if (!LineAllowed(field.line)) return false;
    if (resets_login) login_success_ = 0;
    last_response_ = std::string(kReplyOkBlank);
    const ServerAddress server = ComConfig::Of(library_).AdminServer();
    switch (connection.Open(server.host, server.port)) {
        case ServerConnection::OpenResult::kConnected:
            break;
        case ServerConnection::OpenResult::kUnresolved:
            last_response_ = std::string(kSockError);
            status = kOk;
            return false;
        case ServerConnection::OpenResult::kFailed:
            last_response_ = std::string(kConnectFailed);
            return false;
    }
    std::string reply;
    if (!Exchange(connection, first_line, reply)) return false;
    if (reply != kReplyOk) {
        last_response_ = reply;
        return false;
    }
    status = kOk;
    return true;
}

bool CAdmin::Exchange(ServerConnection& connection, std::string_view line, std::string& reply) {
    if (connection.SendCommand(line) && connection.ReadLine(reply)) return true;
    last_response_ = std::string(kSockError);
    return false;
}

Status CAdmin::Quit(ServerConnection& connection, bool copy_refusal) {
    std::string reply;
    if (!Exchange(connection, tags::kQuit, reply)) return kFalse;
    if (reply == kReplyOk) {
        last_response_ = std::string(kReplyOkBlank);
        return kOk;
    }
    last_response_ = copy_refusal ? reply : std::string(kQuitError);
    return kFalse;
}

std::vector<CAdmin::FieldLine> CAdmin::FieldLines(Dialogue dialogue, std::string_view password) const {
    const bool modify = dialogue == Dialogue::kModify;
    return {
        {Join({tags::kPassword, password}), modify ? "-ERR modify pass error" : "-ERR pass error"},
        {Join({tags::kUserName, user_name_}), modify ? "-ERR modify username error" : "-ERR username error"},
        {Join({tags::kComment, comment_}), modify ? "-ERR modify comment error" : "-ERR comment error"},
        {Join({tags::kPop3Server, pop3_server_}), "-ERR pop3server error"},
        {Join({tags::kPop3Account, pop3_account_}), "-ERR pop3 account error"},
        {Join({tags::kPop3Mail, pop3_mail_}), "-ERR pop3mail error"},
        {Join({tags::kPop3Password, pop3_password_}), "-ERR pop3password error"},
        {Join({tags::kLeaveCopy, std::to_string(leave_copy_)}), kLeaveCopyError},
    };
}

Status CAdmin::SendFields(ServerConnection& connection, const std::vector<FieldLine>& lines) {
    std::string reply;
    for (const FieldLine& field : lines) {
        if (!Exchange(connection, field.line, reply)) return kFalse;
        if (reply != kReplyOk) {
            last_response_ = std::string(field.refusal);
            return kFalse;
        }
    }
    return kOk;
}

// ---------------------------------------------------------------------------
// One-shot dialogues.

Status CAdmin::Login(const Arguments& args, Result&) {
    const std::string_view account = args.Text(0);
    const std::string_view password = args.Text(1);
    ServerConnection connection;
    Status status = kOk;
    if (!OpenDialogue(CheckCredentials(account, password, kMaxOneShotArgument, true),
                      Join({tags::kLogin, account, "#", password}), {}, true, connection, status))
        return status;
    login_success_ = 1;
    // The field of each account line, in the order of the tags (LEAVECOPY# is a number).
    const std::array<std::string*, tags::kAccountLines.size()> fields{
        &password_, &user_name_, &comment_, &pop3_server_, &pop3_account_, &pop3_mail_, &pop3_password_, nullptr,
    };
    for (std::size_t index = 0; index < fields.size(); ++index) {
        const std::string_view tag = tags::kAccountLines[index];
        std::string* const field = fields[index];
        std::string reply;
        if (!connection.ReadLine(reply) || !reply.starts_with(tag)) {
            last_response_ = std::string(kSockError);
            return kFalse;
        }
        const std::string_view value = std::string_view(reply).substr(tag.size());
        if (field == nullptr) {
            leave_copy_ = ParseProfileInt(value, 0);
        } else {
            *field = Cut(value, kMaxFieldText);
        }
        if (field == &password_) {
            password_from_login_ = true;
            login_account_ = std::string(account);
            login_password_ = std::string(password);
        }
    }
    std::string closing;
    connection.ReadLine(closing);  // the closing "+OK"; what it says does not matter
    last_response_ = std::string(kReplyOkBlank);
    return kOk;
}

Status CAdmin::Destroy(const Arguments& args, Result&) {
    const std::string_view account = args.Text(0);
    const std::string_view password = args.Text(1);
    ServerConnection connection;
    Status status = kOk;
    if (!OpenDialogue(CheckCredentials(account, password, kMaxOneShotArgument, true),
                      Join({tags::kDelete, account, "#", password}), {}, false, connection, status))
        return status;
    return Quit(connection, false);
}

Status CAdmin::Modify(const Arguments& args, Result&) {
    const std::string_view account = args.Text(0);
    const std::string_view password = args.Text(1);
    // The digest that Login filled in is not a password: sending it would
    // make the server store the digest of the digest. Unless the page set a
    // new password, the one the caller logged in with is sent, which
    // leaves the stored one as it is.
    std::string new_password = password_;
    if (password_from_login_)
        new_password = SameName(AccountPart(login_account_), AccountPart(account)) ? login_password_
                                                                                   : std::string(password);
    const std::vector<FieldLine> fields = FieldLines(Dialogue::kModify, new_password);
    ServerConnection connection;
    Status status = kOk;
    if (!OpenDialogue(CheckCredentials(account, password, kMaxOneShotArgument, true),
                      Join({tags::kUpdate, account, "#", password}), fields, true, connection, status))
        return status;
    login_success_ = 1;
    if (SendFields(connection, fields) != kOk) return kFalse;
    return Quit(connection, false);
}

Status CAdmin::Signup(const Arguments& args, Result&) {
    const std::string_view account = args.Text(0);
    std::string_view refusal = CheckCredentials(account, {}, kMaxOneShotArgument, false);
    if (refusal.empty() && !NewAccountAllowed(account)) refusal = kIllegalLetter;
    const std::vector<FieldLine> fields = FieldLines(Dialogue::kSignup, password_);
    ServerConnection connection;
    Status status = kOk;
    if (!OpenDialogue(refusal, Join({tags::kSignUp, account}), fields, false, connection, status)) return status;
    if (SendFields(connection, fields) != kOk) return kFalse;
    return Quit(connection, true);
}

Status CAdmin::AuthLogin(const Arguments& args, Result&) {
    const std::string_view account = args.Text(0);
    const std::string_view password = args.Text(1);
    ServerConnection connection;
    Status status = kOk;
    if (!OpenDialogue(CheckCredentials(account, password, kMaxAuthArgument, true),
                      Join({tags::kTableAuth, account, "#", password}), {}, true, connection, status))
        return status;
    login_success_ = 1;
    session_ = std::move(connection);  // an earlier session is closed without QUIT
    return kOk;
}

// ---------------------------------------------------------------------------
// The record-set session.

Status CAdmin::Connect(const Arguments& args, Result&) {
    const std::string_view text = args.Text(0);
    login_success_ = 0;
    if (text.size() > kMaxFieldText) {
        last_response_ = std::string(kCommandStringTooLong);
        return kFalse;
    }
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        last_response_ = std::string(kCommandStringInvalid);
        return kFalse;
    }
    const std::string host(text.substr(0, colon));
    const int port = ParseProfileInt(text.substr(colon + 1), 0);
    last_response_ = std::string(kReplyOkBlank);
    ServerConnection connection;
    switch (connection.Open(host, port)) {
        case ServerConnection::OpenResult::kConnected:
            session_ = std::move(connection);
            return kOk;
        case ServerConnection::OpenResult::kUnresolved:
            last_response_ = std::string(kSockError);
            return kOk;
        case ServerConnection::OpenResult::kFailed:
            break;
    }
    session_.Close();
    last_response_ = std::string(kConnectFailed);
    return kFalse;
}

Status CAdmin::SessionCommand(std::string_view line, std::string* reply) {
    std::string text;
    if (!session_.IsOpen() || !session_.SendCommand(line) || !session_.ReadLine(text)) {
        last_response_ = std::string(kSessionFailed);
        return kFalse;
    }
    last_response_ = Cut(text, kMaxFieldText);
    if (reply != nullptr) *reply = std::move(text);
    return kOk;
}

Status CAdmin::SendCommand(const Arguments& args, Result&) {
    const std::string_view line = args.Text(0);
    if (!LineAllowed(line)) return kOk;
    if (session_.IsOpen()) session_.SendCommand(line);
    return kOk;
}

Status CAdmin::RecvResponse(const Arguments&, Result& result) {
    if (!session_.IsOpen()) return kOk;
    std::string line;
    result.SetText(session_.ReadLine(line) ? Cut(line, kMaxFieldText) : std::string(kSocketError));
    return kOk;
}

Status CAdmin::Close(const Arguments&, Result&) {
    CloseConnection();
    return kOk;
}

void CAdmin::CloseConnection() {
    if (!session_.IsOpen()) return;
    if (session_.SendCommand("QUIT")) {
        std::string line;
        // The second read ends when the server closes the connection.
        if (session_.ReadLine(line)) session_.ReadLine(line);
    }
    session_.Close();
}

Status CAdmin::Open(const Arguments& args, Result&) {
    const std::string_view account = args.Text(0);
    const std::string_view table = args.Text(1);
    if (account.size() + table.size() > kMaxRecordSetText) {
        last_response_ = std::string(kCommandTooLong);
        return kFalse;
    }
    const std::string line = Join({"OPEN ", account, ", ", table});
    if (!LineAllowed(line)) return kFalse;
    return SessionCommand(line);
}

Status CAdmin::AddNew(const Arguments&, Result&) { return SessionCommand("ADDNEW"); }

Status CAdmin::Update(const Arguments&, Result&) { return SessionCommand("UPDATE"); }

Status CAdmin::IndexCommand(std::string_view word, const Arguments& args) {
    return SessionCommand(Join({word, " ", std::to_string(args.Integer(0))}));
}

Status CAdmin::Delete(const Arguments& args, Result&) { return IndexCommand("DELETE", args); }
Status CAdmin::Edit(const Arguments& args, Result&) { return IndexCommand("EDIT", args); }
Status CAdmin::GetData(const Arguments& args, Result&) { return IndexCommand("GETDATA", args); }
Status CAdmin::MoveUp(const Arguments& args, Result&) { return IndexCommand("MOVEUP", args); }
Status CAdmin::MoveDown(const Arguments& args, Result&) { return IndexCommand("MOVEDOWN", args); }

Status CAdmin::Count(const Arguments&, Result& result) {
    std::string reply;
    const Status status = SessionCommand("GETCOUNT", &reply);
    if (status == kOk && StartsWithOkBlank(reply)) result.SetInteger(ParseProfileInt(std::string_view(reply).substr(4), 0));
    return status;
}

Status CAdmin::GetValue(const Arguments& args, Result& result) {
    const std::string_view name = args.Text(0);
    if (name.size() > kMaxRecordSetText) {
        last_response_ = std::string(kCommandTooLong);
        return kFalse;
    }
    const std::string line = Join({"VALUE ", name});
    if (!LineAllowed(line)) return kFalse;
    std::string reply;
    if (const Status status = SessionCommand(line, &reply); status != kOk) return status;
    if (!StartsWithOkBlank(reply)) return kOk;
    std::string value = ReplaceAll(std::string_view(reply).substr(4), "\\r\\n", "\r\n");
    if (value.size() > kMaxValueText) value.resize(kMaxValueText);
    last_response_ = reply.substr(0, 4) + value;
    result.SetText(std::move(value));
    return kOk;
}

Status CAdmin::PutValue(const Arguments& args, Result&) {
    const std::string_view name = args.Text(0);
    const std::string_view value = args.Text(1);
    if (name.size() + value.size() > kMaxRecordSetText) {
        last_response_ = std::string(kCommandTooLong);
        return kFalse;
    }
    const std::string line = EscapeValueLine(Join({"VALUE ", name, ", ", value}));
    if (!LineAllowed(line)) return kFalse;
    return SessionCommand(line);
}

Status CAdmin::Find(const Arguments& args, Result& result) {
    const std::string_view text = args.Text(0);
    if (text.size() > kMaxRecordSetText) {
        last_response_ = std::string(kCommandTooLong);
        return kFalse;
    }
    const std::string line = Join({"FIND ", text});
    if (!LineAllowed(line)) return kFalse;
    std::string reply;
    const Status status = SessionCommand(line, &reply);
    if (status == kOk && StartsWithOkBlank(reply))
        result.SetInteger(ParseProfileInt(std::string_view(reply).substr(4), 0) + 1);
    return status;
}

// ---------------------------------------------------------------------------
// Properties.

Status CAdmin::PutLeaveCopy(const Arguments& args, Result&) {
    leave_copy_ = args.Integer(0);
    return kOk;
}

Status CAdmin::PutPassword(const Arguments& args, Result& result) {
    const Status status = PutField<&CAdmin::password_>(args, result);
    if (args.Text(0).size() <= kMaxFieldText) password_from_login_ = false;
    return status;
}

// A value longer than a field holds leaves the field as it was.
template <std::string CAdmin::*field>
Status CAdmin::PutField(const Arguments& args, Result&) {
    const std::string_view value = args.Text(args.size() - 1);
    if (value.size() > kMaxFieldText) {
        last_response_ = std::string(kTextTooLong);
        return kOk;
    }
    this->*field = std::string(value);
    return kOk;
}

// ---------------------------------------------------------------------------
// The member table: names and dispatch ids of the IAdmin interface.

std::span<const Member<CAdmin>> CAdmin::Members() {
    using A = CAdmin;
    static const Member<CAdmin> kMembers[] = {
        {"Login", 1, kMethod, "tt", &A::Login},
        {"LastResponse", 2, kPropertyGet, "", &A::FieldText<&A::last_response_>},
        {"Destroy", 3, kMethod, "tt", &A::Destroy},
        {"LoginSuccess", 4, kPropertyGet, "", &A::FieldInteger<&A::login_success_>},
        {"LeaveCopy", 5, kPropertyGet, "", &A::FieldInteger<&A::leave_copy_>},
        {"LeaveCopy", 5, kPropertyPut, "i", &A::PutLeaveCopy},
        {"POP3Mail", 6, kPropertyGet, "", &A::FieldText<&A::pop3_mail_>},
        {"POP3Mail", 6, kPropertyPut, "t", &A::PutField<&A::pop3_mail_>},
        {"POP3Password", 7, kPropertyGet, "", &A::FieldText<&A::pop3_password_>},
        {"POP3Password", 7, kPropertyPut, "t", &A::PutField<&A::pop3_password_>},
        {"POP3Server", 8, kPropertyGet, "", &A::FieldText<&A::pop3_server_>},
        {"POP3Server", 8, kPropertyPut, "t", &A::PutField<&A::pop3_server_>},
        {"UserName", 9, kPropertyGet, "", &A::FieldText<&A::user_name_>},
        {"UserName", 9, kPropertyPut, "t", &A::PutField<&A::user_name_>},
        {"Modify", 10, kMethod, "tt", &A::Modify},
        {"Signup", 11, kMethod, "t", &A::Signup},
        {"Comment", 12, kPropertyGet, "", &A::FieldText<&A::comment_>},
        {"Comment", 12, kPropertyPut, "t", &A::PutField<&A::comment_>},
        {"Password", 13, kPropertyPut, "t", &A::PutPassword},
        {"POP3Account", 14, kPropertyGet, "", &A::FieldText<&A::pop3_account_>},
        {"POP3Account", 14, kPropertyPut, "t", &A::PutField<&A::pop3_account_>},
        {"Connect", 15, kMethod, "t", &A::Connect},
        {"SendCommand", 16, kMethod, "t", &A::SendCommand},
        {"Close", 18, kMethod, "", &A::Close},
        {"RecvResponse", 19, kPropertyGet, "", &A::RecvResponse},
        {"Open", 20, kMethod, "tt", &A::Open},
        {"AddNew", 21, kMethod, "", &A::AddNew},
        {"Delete", 22, kMethod, "i", &A::Delete},
        {"Edit", 23, kMethod, "i", &A::Edit},
        {"GetData", 24, kMethod, "i", &A::GetData},
        {"Update", 25, kMethod, "", &A::Update},
        {"Count", 26, kPropertyGet, "", &A::Count},
        {"Value", 27, kPropertyGet, "t", &A::GetValue},
        {"Value", 27, kPropertyPut, "tt", &A::PutValue},
        {"AuthLogin", 28, kMethod, "tt", &A::AuthLogin},
        {"MoveUp", 29, kMethod, "i", &A::MoveUp},
        {"MoveDown", 30, kMethod, "i", &A::MoveDown},
        {"Find", 31, kPropertyGet, "t", &A::Find},
    };
    return kMembers;
}

}  // namespace quorvex::webcom
