/* Tellarin: a CMPP 2.0 client for sending short messages through an ISMG
 * gateway, plus the gateway side of a few exchanges. Plain C exports over
 * caller-owned records; the library keeps no state of its own. Every export
 * returns 0 on success or one of the codes below. */
#ifndef QUORVEX_SMSGATE_TELLARIN_H
#define QUORVEX_SMSGATE_TELLARIN_H

#include <stdint.h>

#if defined(TELLARIN_BUILDING)
#define TELLARIN_API __attribute__((visibility("default")))
#else
#define TELLARIN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. */
#define CMPP_E_MISSING_ARGUMENT 0x40000190 /* null pointer, zero port or zero length */
#define CMPP_E_NO_SOCKET 0x40000001        /* the socket value is 0 */
#define CMPP_E_NO_BUFFER 0x400001F4        /* no buffer or no address text for a socket routine */
#define CMPP_E_SOCKET_CREATE 0x40000064    /* the socket cannot be created */
#define CMPP_E_CONNECT 0x40000065          /* the connection fails (also: not a dotted IPv4 address) */
#define CMPP_E_SEND_TIMEOUT 0x40000066     /* no room to send within the send wait */
#define CMPP_E_SUBMIT_RESP_SEND 0x40000067 /* sending a SUBMIT_RESP failed */
#define CMPP_E_PEER_CLOSED 0x40000068      /* the peer closed the connection */
#define CMPP_E_RECV_TIMEOUT 0x40000069     /* nothing arrived within the receive wait */
#define CMPP_E_CLOSE 0x4000006B            /* closing the socket failed */
#define CMPP_E_UNEXPECTED 0x4000006E       /* unexpected Command_Id or malformed PDU */
#define CMPP_E_LOGIN_BUILD 0x400000C8      /* the login record could not be built */
#define CMPP_E_VERSION 0x40000009          /* gateway side: the client's version is above 0x20 */
/* A failing socket call returns CMPP_SOCKET_ERROR_BASE + errno, so platform
 * errors never collide with a gateway's Status or Result (1 to 255). */
#define CMPP_SOCKET_ERROR_BASE 10000

/* Command_Id values. */
#define CMPP_CONNECT 0x00000001u
#define CMPP_CONNECT_RESP 0x80000001u
#define CMPP_TERMINATE 0x00000002u
#define CMPP_TERMINATE_RESP 0x80000002u
#define CMPP_SUBMIT 0x00000004u
#define CMPP_SUBMIT_RESP 0x80000004u
#define CMPP_DELIVER 0x00000005u
#define CMPP_DELIVER_RESP 0x80000005u
#define CMPP_ACTIVE_TEST 0x00000008u
#define CMPP_ACTIVE_TEST_RESP 0x80000008u

/* Sizes. cmpp_recv refuses any PDU longer than CMPP_RECV_BUFFER_SIZE (a
 * DELIVER with 140 content bytes); cmpp_recv_icp refuses any longer than
 * CMPP_ICP_BUFFER_SIZE (a SUBMIT with 140 content bytes). */
#define CMPP_HEADER_SIZE 12
#define CMPP_MAX_CONTENT 140
#define CMPP_RECV_BUFFER_SIZE 225
#define CMPP_ICP_BUFFER_SIZE 299

/* One connection: zero it before first use. socket 0 means none. Every PDU
 * sent from the counter takes its value as Sequence_Id and increments it. */
typedef struct CmppHandle {
    uint32_t socket;
    uint32_t sequence_id;
} CmppHandle;

/* Exactly the 27-byte CONNECT body. timestamp is MMDDHHMMSS as a number,
 * big-endian. */
typedef struct CmppLoginRecord {
    unsigned char source_addr[6];
    unsigned char authenticator_source[16];
    unsigned char version;
    unsigned char timestamp[4];
} CmppLoginRecord;

/* The SUBMIT body with room for the longest content (287 bytes). Text fields
 * are NUL-padded and not necessarily NUL-terminated. */
typedef struct CmppSubmitRecord {
    unsigned char msg_id[8];
    unsigned char pk_total;
    unsigned char pk_number;
    unsigned char registered_delivery;
    unsigned char msg_level;
    char service_id[10];
    unsigned char fee_user_type;
    char fee_terminal_id[21];
    unsigned char tp_pid;
    unsigned char tp_udhi;
    unsigned char msg_fmt;
    char msg_src[6];
    char fee_type[2];
    char fee_code[6];
    char valid_time[17];
    char at_time[17];
    char src_id[21];
    unsigned char dest_usr_tl;
    char dest_terminal_id[21];
    unsigned char msg_length;
    unsigned char msg_content[CMPP_MAX_CONTENT];
    unsigned char reserve[8];
} CmppSubmitRecord;

/* Client side, in the order of use. */

/* Connects to a dotted IPv4 address (no name lookup), closing the handle's
 * previous socket first. */
TELLARIN_API int cmpp_connect_to_ismg(const char* address, unsigned short port, CmppHandle* handle);

/* Fills the CONNECT body: Source_Addr from the SP identifier, the MD5
 * authenticator from the login name, the shared secret and the local time. */
TELLARIN_API int cmpp_login_value_set(CmppLoginRecord* login, const char* sp_id, const char* login_name,
                                      const char* secret, unsigned char version);

/* Sends CONNECT and reads CONNECT_RESP. Returns its Status (0 = accepted,
 * 1 to 255 = refused) or an error code. */
TELLARIN_API int cmpp_login(CmppHandle* handle, const CmppLoginRecord* login);

TELLARIN_API int cmpp_submit_sm_init(CmppSubmitRecord* record);
TELLARIN_API int cmpp_submit_sm_set_regdelivery(CmppSubmitRecord* record, unsigned char value);
TELLARIN_API int cmpp_submit_sm_set_msglevel(CmppSubmitRecord* record, unsigned char value);
TELLARIN_API int cmpp_submit_sm_set_svc_type(CmppSubmitRecord* record, const char* text, unsigned int length);
TELLARIN_API int cmpp_submit_sm_set_protoid(CmppSubmitRecord* record, unsigned char pid, unsigned char udhi);
TELLARIN_API int cmpp_submit_sm_set_msgformat(CmppSubmitRecord* record, unsigned char value);
/* ValId_Time = local time + minutes, "YYMMDDhhmmss032+". */
TELLARIN_API int cmpp_submit_sm_set_validate(CmppSubmitRecord* record, unsigned int minutes);
TELLARIN_API int cmpp_submit_sm_set_srcaddr(CmppSubmitRecord* record, const char* text, unsigned int length);
TELLARIN_API int cmpp_submit_sm_set_dstaddr(CmppSubmitRecord* record, const char* text, unsigned int length);
/* At most CMPP_MAX_CONTENT bytes are kept; the rest is cut. */
TELLARIN_API int cmpp_submit_sm_set_shortmsg(CmppSubmitRecord* record, const unsigned char* bytes,
                                             unsigned int length);

TELLARIN_API int cmpp_submit(CmppHandle* handle, const CmppSubmitRecord* record);

/* Reads one PDU into buffer (at least CMPP_RECV_BUFFER_SIZE bytes), header
 * left in network byte order. DELIVER, SUBMIT_RESP and ACTIVE_TEST_RESP are
 * read whole; ACTIVE_TEST is only a header. A SUBMIT_RESP whose Result is not
 * 0 returns that Result: the gateway refused the message. */
TELLARIN_API int cmpp_recv(CmppHandle* handle, unsigned char* buffer);

TELLARIN_API int cmpp_active_test(CmppHandle* handle);
/* sequence in host order. */
TELLARIN_API int cmpp_active_test_resp(CmppHandle* handle, uint32_t sequence);
/* sequence exactly as it lies in the received header (network order). */
TELLARIN_API int cmpp_deliver_resp(CmppHandle* handle, uint32_t sequence, const unsigned char* msg_id,
                                   unsigned char result);
TELLARIN_API int cmpp_cancel(CmppHandle* handle, const unsigned char* msg_id);
TELLARIN_API int cmpp_logout(CmppHandle* handle);
/* Closes the socket and sets the handle's socket to 0. */
TELLARIN_API int cmpp_disconnect_from_ismg(CmppHandle* handle);

/* Gateway side. */

/* Reads a CONNECT from socket, copies its 6-byte Source_Addr and answers
 * CONNECT_RESP (Status 0, 4 for a version above 0x20, 5 for anything else). */
TELLARIN_API int cmpp_waitfor_login(int socket, unsigned char* source_addr);
/* Reads one PDU into buffer (at least CMPP_ICP_BUFFER_SIZE bytes), header
 * converted to host order, and answers a SUBMIT (Result 0, or 1 when
 * malformed) or an unknown command (Result 2). */
TELLARIN_API int cmpp_recv_icp(int socket, unsigned char* buffer);
TELLARIN_API int cmpp_submit_resp(int socket, uint32_t sequence, unsigned char result);
/* body: 64 bytes up to Msg_Length, Msg_Length at offset 64, the content and
 * 8 reserved bytes. */
TELLARIN_API int cmpp_deliver(CmppHandle* handle, const unsigned char* body);

#ifdef __cplusplus
}
#endif

#endif /* QUORVEX_SMSGATE_TELLARIN_H */
