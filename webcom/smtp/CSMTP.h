// The SMTP class ("QuorvexCOM.SMTP"): composes one message for a web-mail
// page and sends it to the mail program's SMTP server with the extended
// HELO that names the account, asking the server to keep a copy in the
// sender's second folder or to store the message as a draft. Header fields
// and the body come from the page or from the fields of an uploaded form;
// attachments are files of the upload, or fetched files in the work folder
// of the account's own login in this process.
//
// LastResponse is a gate: once a call has put a "-ERR" text there, SendMail
// of the same object sends nothing. Each object works in a folder of its
// own inside the account's compose folder, so two pages of one account
// never touch each other's form, upload or message file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "webcom/dispatch/ComObject.h"
#include "webcom/module/AccountLogins.h"
#include "webcom/module/ComModule.h"
#include "webcom/smtp/FormUpload.h"

namespace quorvex::webcom {

class CSMTP final : public DispatchObject<CSMTP> {
public:
    // The text fields a page sets, each with its own limit and refusal.
    enum class TextField { kFrom, kFromUid, kSubject, kTo, kCc, kBcc, kBody, kContentType, kReply, kAttachment };

    // `library` names the folder of the configuration and the error log;
    // `logins` tells which accounts logged in here (attachments of their
    // fetched messages).
    CSMTP(const LibraryLocation& library, const AccountLogins& logins);

    static std::span<const Member<CSMTP>> Members();

    Status CreateUserPath(const Arguments& args, Result& result);
    Status StartUpload(const Arguments& args, Result& result);
    Status AddAttach(const Arguments& args, Result& result);
    Status SetMaxFileSize(const Arguments& args, Result& result);
    Status GetFieldValue(const Arguments& args, Result& result);
    Status SendMail(const Arguments& args, Result& result);

    // A text property's putter, and its Set method (the value of the named
    // form field).
    template <TextField field>
    Status PutText(const Arguments& args, Result& result);
    template <TextField field>
    Status SetFromForm(const Arguments& args, Result& result);

    template <std::int32_t CSMTP::*field>
    Status PutInteger(const Arguments& args, Result& result);

private:
    const LibraryLocation library_;
    const AccountLogins& logins_;
    struct Envelope;

    // Stores a value in a text field, or refuses it (over the field's
    // limit; a line break or NUL in a header field, a NUL in the body) and
    // writes the refusal to LastResponse.
    void StoreText(TextField field, std::string_view value);
    std::string& FieldOf(TextField field);
    bool Gated() const;

    // The steps of SendMail (SmtpSend.cpp). Each returns false when it
    // ended the call with LastResponse set.
    bool BuildEnvelope(Envelope& envelope);
    bool ComposeMessage(const Envelope& envelope);
    bool Transmit(const Envelope& envelope);
    // After the server accepted the message: the message file, this
    // object's form and upload, the uploads named in Attachment, and the
    // compose folder when nothing else is left in it.
    void RemoveSentFiles(const std::string& message_path);

    std::string last_response_;
    std::string user_text_;       // the whole text CreateUserPath was given (the HELO names it)
    std::string compose_folder_;  // SMTPUserPath: <WebWorkPath>/<account>
    std::string object_name_;     // this object's folder and message file in the compose folder

    std::string from_;
    std::string from_uid_;
    std::string subject_;
    std::string to_;
    std::string cc_;
    std::string bcc_;
    std::string body_;
    std::string content_type_;
    std::string reply_;
    std::string attachment_;  // paths, each followed by ";"
    std::int32_t save_message_ = 0;
    std::int32_t save_draft_ = 0;

    std::string uid_;
    std::string message_id_;
    std::int32_t size_ = 0;

    CFormUpload upload_;
};

}  // namespace quorvex::webcom
