// The SMTP class: the compose folder, the form upload, the field putters
// with their limits, and the member table.
#include "webcom/smtp/CSMTP.h"

#include <unistd.h>

#include <atomic>
#include <chrono>

#include "common/AccountName.h"
#include "common/FolderTree.h"
#include "common/Paths.h"
#include "common/RandomText.h"
#include "webcom/module/ComConfig.h"
#include "webcom/module/ComModule.h"
#include "webcom/net/ReplyText.h"
#include "webcom/smtp/SmtpTexts.h"

namespace quorvex::webcom {

using namespace smtp;

namespace {

// What each text field holds at most, what a longer value is refused
// with, and whether line breaks belong in it (only the body's do: the
// others become header fields or command lines).
struct TextRule {
    std::size_t max_length;
    std::string_view refusal;
    bool multiline;
};

constexpr TextRule RuleOf(CSMTP::TextField field) {
    switch (field) {
        case CSMTP::TextField::kFrom:
        case CSMTP::TextField::kFromUid: return {kMaxText, kFromTooLong, false};
        case CSMTP::TextField::kSubject: return {kMaxText, kSubjectTooLong, false};
        case CSMTP::TextField::kTo: return {kMaxText, kToTooLong, false};
        case CSMTP::TextField::kCc: return {kMaxText, kCcTooLong, false};
        case CSMTP::TextField::kBcc: return {kMaxText, kBccTooLong, false};
        case CSMTP::TextField::kBody: return {kMaxBody, kBodyTooLong, true};
        case CSMTP::TextField::kContentType: return {kMaxText, kContentTypeTooLong, false};
        case CSMTP::TextField::kReply: return {kMaxText, kReplyTooLong, false};
        case CSMTP::TextField::kAttachment: return {kMaxText, kAttachmentTooLong, false};
    }
    return {kMaxText, kFromTooLong, false};
}

// The name of an object's folder and message file in the compose folder:
// 128 random bits, so that no two pages of an account ever share one.
std::string NewObjectName() {
    static std::atomic<unsigned> counter{0};
    std::string name = RandomHexText(16);
    // Without random bytes: the process, a count and the time still differ.
    if (name.empty())
        name = std::to_string(::getpid()) + "-" + std::to_string(++counter) + "-" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    return name;
}

}  // namespace

CSMTP::CSMTP(const LibraryLocation& library, const AccountLogins& logins)
    : library_(library), logins_(logins), last_response_(kInitialResponse), object_name_(NewObjectName()), content_type_("text/plain") {
    PrepareComponent(library_);
}

bool CSMTP::Gated() const { return !IsPositiveReply(last_response_); }

std::string& CSMTP::FieldOf(TextField field) {
    switch (field) {
        case TextField::kFrom: return from_;
        case TextField::kFromUid: return from_uid_;
        case TextField::kSubject: return subject_;
        case TextField::kTo: return to_;
        case TextField::kCc: return cc_;
        case TextField::kBcc: return bcc_;
        case TextField::kBody: return body_;
        case TextField::kContentType: return content_type_;
        case TextField::kReply: return reply_;
        case TextField::kAttachment: return attachment_;
    }
    return from_;
}

void CSMTP::StoreText(TextField field, std::string_view value) {
    const TextRule rule = RuleOf(field);
    if (value.size() > rule.max_length) {
        last_response_ = std::string(rule.refusal);
        return;
    }
    // A line break would end a command line or a header field early and
    // start another one of the page's choosing; the composer reads texts up
    // to a NUL.
    LineProblem problem = CheckCommandText(value);
    if (rule.multiline && problem == LineProblem::kLineBreak)
        problem = value.find('\0') == std::string_view::npos ? LineProblem::kNone : LineProblem::kNul;
    if (problem != LineProblem::kNone) {
        last_response_ = std::string(ProblemReply(problem));
        return;
    }
    FieldOf(field).assign(value);
}

template <CSMTP::TextField field>
Status CSMTP::PutText(const Arguments& args, Result&) {
    StoreText(field, args.Text(0));
    return kOk;
}

template <CSMTP::TextField field>
Status CSMTP::SetFromForm(const Arguments& args, Result&) {
    // One byte beyond the limit is enough to refuse the value.
    StoreText(field, upload_.ReadFieldValue(args.Text(0), RuleOf(field).max_length + 1));
    return kOk;
}

template <std::int32_t CSMTP::*field>
Status CSMTP::PutInteger(const Arguments& args, Result&) {
    this->*field = args.Integer(0);
    return kOk;
}

// ---------------------------------------------------------------------------
// The compose folder and the form.

Status CSMTP::CreateUserPath(const Arguments& args, Result&) {
    const std::string_view user = args.Text(0);
    // The whole text goes into the HELO line; its account part names a
    // folder that SendMail empties, so it must be an account name and
    // nothing that could lead out of the compose root.
    if (const LineProblem problem = CheckCommandText(user); problem != LineProblem::kNone) {
        last_response_ = std::string(ProblemReply(problem));
        return kOk;
    }
    const std::string_view account = user.substr(0, user.find(':'));
    if (!IsValidAccountName(account)) {
        last_response_ = std::string(kIllegalAccount);
        return kOk;
    }
    user_text_ = std::string(user);
    compose_folder_ = JoinPath(ComConfig::FixedOf(library_).WebWorkPath(), account);
    MakeFolders(compose_folder_, kSharedFolderMode);
    upload_.SetUploadPath(JoinPath(compose_folder_, object_name_));
    return kOk;
}

Status CSMTP::StartUpload(const Arguments& args, Result&) {
    attachment_.clear();
    const auto request = RequestFromValue(args.Raw(0));
    if (!request) return kOk;
    // Without CreateUserPath the form has nowhere to go.
    if (upload_.UploadPath().empty()) return kFalse;
    const CFormUpload::Outcome outcome = upload_.ParseUploadRequest(*request);
    if (outcome.failed) last_response_ = std::string(kUploadFailed);
    return outcome.status;
}

Status CSMTP::AddAttach(const Arguments& args, Result&) {
    const std::string path = upload_.FindUploadedFile(args.Text(0));
    if (path.empty() || path.size() + attachment_.size() + 1 >= kAttachmentCapacity) return kOk;
    attachment_ += path;
    attachment_ += ';';
    return kOk;
}

Status CSMTP::SetMaxFileSize(const Arguments& args, Result&) {
    upload_.SetSizeLimit(args.Integer(0));
    return kOk;
}

Status CSMTP::GetFieldValue(const Arguments& args, Result& result) {
    result.SetText(upload_.ReadFieldValue(args.Text(0)));
    return kOk;
}

// ---------------------------------------------------------------------------
// The member table: names and dispatch ids of the ISMTP interface.

std::span<const Member<CSMTP>> CSMTP::Members() {
    using S = CSMTP;
    using F = TextField;
    static const Member<CSMTP> kMembers[] = {
        {"From", 2, kPropertyPut, "t", &S::PutText<F::kFrom>},
        {"LastResponse", 3, kPropertyGet, "", &S::FieldText<&S::last_response_>},
        {"SendMail", 6, kMethod, "", &S::SendMail},
        {"SMTPUserPath", 10, kPropertyGet, "", &S::FieldText<&S::compose_folder_>},
        {"CreateUserPath", 11, kMethod, "t", &S::CreateUserPath},
        {"StartUpload", 12, kMethod, "o", &S::StartUpload},
        {"AddAttach", 13, kMethod, "t", &S::AddAttach},
        {"SetMaxFileSize", 14, kMethod, "i", &S::SetMaxFileSize},
        {"SetSubject", 15, kMethod, "t", &S::SetFromForm<F::kSubject>},
        {"SetBcc", 16, kMethod, "t", &S::SetFromForm<F::kBcc>},
        {"SetBody", 17, kMethod, "t", &S::SetFromForm<F::kBody>},
        {"SetCc", 18, kMethod, "t", &S::SetFromForm<F::kCc>},
        {"SetFrom", 19, kMethod, "t", &S::SetFromForm<F::kFrom>},
        {"SetTo", 20, kMethod, "t", &S::SetFromForm<F::kTo>},
        {"Bcc", 21, kPropertyGet, "", &S::FieldText<&S::bcc_>},
        {"Bcc", 21, kPropertyPut, "t", &S::PutText<F::kBcc>},
        {"Cc", 22, kPropertyGet, "", &S::FieldText<&S::cc_>},
        {"Cc", 22, kPropertyPut, "t", &S::PutText<F::kCc>},
        {"To", 23, kPropertyGet, "", &S::FieldText<&S::to_>},
        {"To", 23, kPropertyPut, "t", &S::PutText<F::kTo>},
        {"UID", 24, kPropertyGet, "", &S::FieldText<&S::uid_>},
        {"Body", 25, kPropertyGet, "", &S::FieldText<&S::body_>},
        {"Body", 25, kPropertyPut, "t", &S::PutText<F::kBody>},
        {"Subject", 26, kPropertyGet, "", &S::FieldText<&S::subject_>},
        {"Subject", 26, kPropertyPut, "t", &S::PutText<F::kSubject>},
        {"ContentType", 27, kPropertyPut, "t", &S::PutText<F::kContentType>},
        {"Reply", 28, kPropertyPut, "t", &S::PutText<F::kReply>},
        {"SaveMessage", 29, kPropertyPut, "i", &S::PutInteger<&S::save_message_>},
        {"Attachment", 30, kPropertyGet, "", &S::FieldText<&S::attachment_>},
        {"Attachment", 30, kPropertyPut, "t", &S::PutText<F::kAttachment>},
        {"SaveDraft", 31, kPropertyGet, "", &S::FieldInteger<&S::save_draft_>},
        {"SaveDraft", 31, kPropertyPut, "i", &S::PutInteger<&S::save_draft_>},
        {"GetFieldValue", 32, kPropertyGet, "t", &S::GetFieldValue},
        {"Size", 35, kPropertyGet, "", &S::FieldInteger<&S::size_>},
        {"MessageID", 36, kPropertyGet, "", &S::FieldText<&S::message_id_>},
        {"FromUID", 37, kPropertyGet, "", &S::FieldText<&S::from_uid_>},
        {"FromUID", 37, kPropertyPut, "t", &S::PutText<F::kFromUid>},
        {"SetFromUID", 38, kMethod, "t", &S::SetFromForm<F::kFromUid>},
    };
    return kMembers;
}

}  // namespace quorvex::webcom
