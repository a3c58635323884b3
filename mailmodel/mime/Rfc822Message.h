// A whole Internet message (RFC 822/5322): a MIME entity with the
// message-level setters for the date, addresses, subject and MIME version.
#pragma once

#include <string_view>

#include "mailmodel/mime/MimeEntity.h"

namespace quorvex::mime {

class CRfc822Message : public CMimeEntity {
public:
    explicit CRfc822Message(MimeFlavour flavour = MimeFlavour::Server) : CMimeEntity(flavour) {}

    // "Date" from the current local time, or from the given local time
    // (normalised; an impossible date sets nothing). The zone offset
    // includes daylight saving time.
    void SetDate();
    void SetDate(int year, int month, int day, int hour, int minute, int second);
    void SetFrom(std::string_view value, const char* charset = nullptr) { SetFieldValue("From", value, charset); }
    void SetTo(std::string_view value, const char* charset = nullptr) { SetFieldValue("To", value, charset); }
    void SetCc(std::string_view value, const char* charset = nullptr) { SetFieldValue("CC", value, charset); }
    void SetSubject(std::string_view value, const char* charset = nullptr) {
        SetFieldValue("Subject", value, charset);
    }
    void SetVersion() { SetFieldValue("MIME-Version", "1.0"); }
};

// "Tue, 8 Dec 2026 00:25:19 +0800" for a broken-down local time whose
// offset from UTC is the given number of seconds.
std::string FormatMessageDate(const struct tm& local, long offsetSeconds);

}  // namespace quorvex::mime
