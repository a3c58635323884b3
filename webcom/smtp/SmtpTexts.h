// The texts the SMTP class puts in LastResponse itself; a reply of the
// SMTP server with the wrong code goes there as "-ERR " and the reply.
#pragma once

#include <cstddef>
#include <string_view>

namespace quorvex::webcom::smtp {

inline constexpr std::string_view kInitialResponse = "+OK ";
inline constexpr std::string_view kSendSuccessful = "+OK send mail successful";
inline constexpr std::string_view kFromTooLong = "-ERR from too long";
inline constexpr std::string_view kSubjectTooLong = "-ERR subject too long";
inline constexpr std::string_view kBccTooLong = "-ERR bcc too long";
inline constexpr std::string_view kBodyTooLong = "-ERR body too long";
inline constexpr std::string_view kCcTooLong = "-ERR cc too long";
inline constexpr std::string_view kToTooLong = "-ERR to too long";
inline constexpr std::string_view kContentTypeTooLong = "-ERR ContentType too long";
inline constexpr std::string_view kReplyTooLong = "-ERR reply address is too long";
inline constexpr std::string_view kAttachmentTooLong = "-ERR attachment too long";
inline constexpr std::string_view kConnectFailed = "-ERR connect smtp server failed";
inline constexpr std::string_view kSocketError = "-ERR socket error";
inline constexpr std::string_view kGenerateError = "-ERR generate email error:";  // then the path in quotes
inline constexpr std::string_view kFileOpenError = "-ERR file open error";
inline constexpr std::string_view kWrongCodePrefix = "-ERR ";
// A user text whose account part cannot name a compose folder (or no user
// text at all when the message is sent).
inline constexpr std::string_view kIllegalAccount = "-ERR illegal account";
// An attachment that is not a regular file inside the work roots.
inline constexpr std::string_view kAttachmentNotAllowed = "-ERR attachment not allowed";
// An upload the parser could not take in whole.
inline constexpr std::string_view kUploadFailed = "-ERR upload failed";

// Field limits: texts hold up to 4095 characters, the body 2,097,151.
inline constexpr std::size_t kMaxText = 4095;
inline constexpr std::size_t kMaxBody = 2097151;
// AddAttach adds nothing once the list would reach this length.
inline constexpr std::size_t kAttachmentCapacity = 4096;

// The mailer text handed to the composer.
inline constexpr const char* kMailer = "Tarnvale QuorvexServer WebMail 5.3";

}  // namespace quorvex::webcom::smtp
