// The Admin class ("QuorvexCOM.Admin"): web pages sign up, log in, change
// and delete accounts through the account server, each in a one-shot
// dialogue on its own connection, and edit account data table by table in
// a record-set session kept on one connection (opened by AuthLogin or
// Connect). Every outcome is reported in LastResponse; methods return
// S_OK or S_FALSE, never a failure.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "webcom/dispatch/ComObject.h"
#include "webcom/module/ComModule.h"
#include "webcom/net/ServerConnection.h"

namespace quorvex::webcom {

class CAdmin final : public DispatchObject<CAdmin> {
public:
    // `library` names the folder of the configuration and the error log.
    explicit CAdmin(const LibraryLocation& library);
    ~CAdmin() override;

    static std::span<const Member<CAdmin>> Members();

    // One-shot dialogues.
    Status Login(const Arguments& args, Result& result);
    Status Destroy(const Arguments& args, Result& result);
    Status Modify(const Arguments& args, Result& result);
    Status Signup(const Arguments& args, Result& result);
    Status AuthLogin(const Arguments& args, Result& result);

    // The record-set session.
    Status Connect(const Arguments& args, Result& result);
    Status SendCommand(const Arguments& args, Result& result);
    Status Close(const Arguments& args, Result& result);
    Status RecvResponse(const Arguments& args, Result& result);
    Status Open(const Arguments& args, Result& result);
    Status AddNew(const Arguments& args, Result& result);
    Status Delete(const Arguments& args, Result& result);
    Status Edit(const Arguments& args, Result& result);
    Status GetData(const Arguments& args, Result& result);
    Status Update(const Arguments& args, Result& result);
    Status Count(const Arguments& args, Result& result);
    Status GetValue(const Arguments& args, Result& result);
    Status PutValue(const Arguments& args, Result& result);
    Status MoveUp(const Arguments& args, Result& result);
    Status MoveDown(const Arguments& args, Result& result);
    Status Find(const Arguments& args, Result& result);

    // Properties (plain fields are read with FieldText and FieldInteger).
    Status PutLeaveCopy(const Arguments& args, Result& result);
    Status PutPassword(const Arguments& args, Result& result);
    // The text fields share one putter, picked by the field's member pointer.
    template <std::string CAdmin::*field>
    Status PutField(const Arguments& args, Result& result);

private:
    const LibraryLocation library_;
    // The account field lines of Modify and Signup, with the reply text of
    // each line's refusal.
    struct FieldLine {
        std::string line;
        std::string_view refusal;
    };
    enum class Dialogue { kModify, kSignup };

    // Checks of the account and password arguments (the first two steps
    // every one-shot dialogue shares); the refusal reply or empty.
    std::string_view CheckCredentials(std::string_view account, std::string_view password, std::size_t limit,
                                      bool check_password) const;
    // The steps every one-shot dialogue begins with: the refusal of the
    // argument checks (if any), every line of the dialogue checked before
    // the connection opens, LoginSuccess reset where the dialogue does it,
    // the connection, and the first line answered exactly "+OK". False when
    // the call ends there, with LastResponse set and `status` its result.
    bool OpenDialogue(std::string_view refusal, const std::string& first_line, const std::vector<FieldLine>& fields,
                      bool resets_login, ServerConnection& connection, Status& status);
    // The closing "QUIT": "+OK" gives "+OK "; another reply is copied or
    // turned into "-ERR quit error".
    Status Quit(ServerConnection& connection, bool copy_refusal);
    // Sends a line and reads the reply; false (LastResponse "-ERR sock
    // error") on failure.
    bool Exchange(ServerConnection& connection, std::string_view line, std::string& reply);
    std::vector<FieldLine> FieldLines(Dialogue dialogue, std::string_view password) const;
    Status SendFields(ServerConnection& connection, const std::vector<FieldLine>& lines);
    // Sends one line on the session and puts the reply in LastResponse.
    Status SessionCommand(std::string_view line, std::string* reply = nullptr);
    Status IndexCommand(std::string_view word, const Arguments& args);
    void CloseConnection();
    // Refuses a line that may not be sent; true when it may.
    bool LineAllowed(std::string_view line);

    std::string user_name_;
    std::string last_response_;
    std::string comment_;
    std::string pop3_server_;
    std::string pop3_mail_;
    std::string pop3_account_;
    std::string pop3_password_;
    std::string password_;
    std::int32_t leave_copy_ = 1;
    std::int32_t login_success_ = 0;
    ServerConnection session_;  // the record-set session; closed means none

    // Login fills Password with the stored digest; as long as no page put
    // a new one, Modify must not send that digest as the new password.
    bool password_from_login_ = false;
    std::string login_account_;
    std::string login_password_;
};

}  // namespace quorvex::webcom
