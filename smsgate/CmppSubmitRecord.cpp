// Filling a SUBMIT record: defaults and one setter per field. Every text is
// cut to its field's width and read no further than its NUL or the given
// length, whichever comes first; the content is binary and cut at 140 bytes.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "smsgate/Tellarin.h"
#include "smsgate/detail/CmppTime.h"
#include "smsgate/detail/WireFormat.h"

using namespace quorvex::smsgate;

static_assert(sizeof(CmppSubmitRecord) == kSubmitFixedSize + CMPP_MAX_CONTENT + kReserveSize);
static_assert(offsetof(CmppSubmitRecord, service_id) == 12);
static_assert(offsetof(CmppSubmitRecord, fee_terminal_id) == 23);
static_assert(offsetof(CmppSubmitRecord, tp_pid) == 44);
static_assert(offsetof(CmppSubmitRecord, msg_src) == 47);
static_assert(offsetof(CmppSubmitRecord, fee_type) == 53);
static_assert(offsetof(CmppSubmitRecord, valid_time) == 61);
static_assert(offsetof(CmppSubmitRecord, src_id) == 95);
static_assert(offsetof(CmppSubmitRecord, dest_usr_tl) == 116);
static_assert(offsetof(CmppSubmitRecord, msg_length) == kSubmitFixedSize - 1);
static_assert(offsetof(CmppSubmitRecord, msg_content) == kSubmitFixedSize);

namespace {

// Clears a fixed-width text field and copies at most its width of `text`.
template <std::size_t N>
void SetText(char (&field)[N], const char* text, std::size_t length) {
    std::memset(field, 0, N);
    std::memcpy(field, text, ::strnlen(text, std::min(length, N)));
}

template <std::size_t N>
void SetText(char (&field)[N], const char* text) {
    SetText(field, text, std::strlen(text));
}

int SetByte(CmppSubmitRecord* record, unsigned char CmppSubmitRecord::*field, unsigned char value) {
    if (record == nullptr) return CMPP_E_MISSING_ARGUMENT;
    record->*field = value;
    return 0;
}

}  // namespace

extern "C" TELLARIN_API int cmpp_submit_sm_init(CmppSubmitRecord* record) {
    if (record == nullptr) return CMPP_E_MISSING_ARGUMENT;
    std::memset(record, 0, sizeof *record);
    record->pk_total = 1;
    record->pk_number = 1;
    record->msg_level = 9;
    SetText(record->service_id, "9999");
    SetText(record->fee_type, "02");
    SetText(record->fee_code, "10");
    record->dest_usr_tl = 1;
    return 0;
}

extern "C" TELLARIN_API int cmpp_submit_sm_set_regdelivery(CmppSubmitRecord* record, unsigned char value) {
    return SetByte(record, &CmppSubmitRecord::registered_delivery, value);
}

extern "C" TELLARIN_API int cmpp_submit_sm_set_msglevel(CmppSubmitRecord* record, unsigned char value) {
    return SetByte(record, &CmppSubmitRecord::msg_level, value);
}

extern "C" TELLARIN_API int cmpp_submit_sm_set_svc_type(CmppSubmitRecord* record, const char* text,
                                                        unsigned int length) {
    if (record == nullptr || (text == nullptr && length != 0)) return CMPP_E_MISSING_ARGUMENT;
    SetText(record->service_id, length == 0 ? "" : text, length);
    return 0;
}

extern "C" TELLARIN_API int cmpp_submit_sm_set_protoid(CmppSubmitRecord* record, unsigned char pid,
                                                       unsigned char udhi) {
    if (record == nullptr) return CMPP_E_MISSING_ARGUMENT;
    record->tp_pid = pid;
    record->tp_udhi = udhi;
    return 0;
}

extern "C" TELLARIN_API int cmpp_submit_sm_set_msgformat(CmppSubmitRecord* record, unsigned char value) {
    return SetByte(record, &CmppSubmitRecord::msg_fmt, value);
}

extern "C" TELLARIN_API int cmpp_submit_sm_set_validate(CmppSubmitRecord* record, unsigned int minutes) {
    if (record == nullptr) return CMPP_E_MISSING_ARGUMENT;
    const auto text = FormatValidityTime(LocalNow(), minutes);
    std::memcpy(record->valid_time, text.data(), sizeof record->valid_time);
    return 0;
}

// Msg_src holds the SP's six-character code; Src_Id, though wider, gets the
// same text so that replies come back to the same number.
extern "C" TELLARIN_API int cmpp_submit_sm_set_srcaddr(CmppSubmitRecord* record, const char* text,
                                                       unsigned int length) {
    if (record == nullptr || text == nullptr || length == 0) return CMPP_E_MISSING_ARGUMENT;
    const std::size_t kept = std::min<std::size_t>(length, sizeof record->msg_src);
    SetText(record->msg_src, text, kept);
    SetText(record->src_id, text, kept);
    return 0;
}

extern "C" TELLARIN_API int cmpp_submit_sm_set_dstaddr(CmppSubmitRecord* record, const char* text,
                                                       unsigned int length) {
    if (record == nullptr || text == nullptr || length == 0) return CMPP_E_MISSING_ARGUMENT;
    SetText(record->dest_terminal_id, text, length);
    return 0;
}

extern "C" TELLARIN_API int cmpp_submit_sm_set_shortmsg(CmppSubmitRecord* record, const unsigned char* bytes,
                                                        unsigned int length) {
    if (record == nullptr || bytes == nullptr || length == 0) return CMPP_E_MISSING_ARGUMENT;
    const std::size_t kept = std::min<std::size_t>(length, CMPP_MAX_CONTENT);
    std::memset(record->msg_content, 0, sizeof record->msg_content);
    std::memcpy(record->msg_content, bytes, kept);
    record->msg_length = static_cast<unsigned char>(kept);
    return 0;
}
