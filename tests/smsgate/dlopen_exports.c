/* A C caller of libTellarin.so: loads it with dlopen, resolves every export
 * by name and prints each one found, then calls one through its pointer to
 * check that a C compiler lays the submit record out as the library does.
 * Usage: dlopen_exports LIBRARY. Exit status 0 only when all of it holds. */
#include <dlfcn.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "smsgate/Tellarin.h"

static const char* const kExports[] = {
    "cmpp_connect_to_ismg", "cmpp_login_value_set", "cmpp_login", "cmpp_submit_sm_init",
    "cmpp_submit_sm_set_regdelivery", "cmpp_submit_sm_set_msglevel", "cmpp_submit_sm_set_svc_type",
    "cmpp_submit_sm_set_protoid", "cmpp_submit_sm_set_msgformat", "cmpp_submit_sm_set_validate",
    "cmpp_submit_sm_set_srcaddr", "cmpp_submit_sm_set_dstaddr", "cmpp_submit_sm_set_shortmsg", "cmpp_submit",
    "cmpp_recv", "cmpp_active_test", "cmpp_active_test_resp", "cmpp_deliver_resp", "cmpp_cancel", "cmpp_logout",
    "cmpp_disconnect_from_ismg", "cmpp_waitfor_login", "cmpp_recv_icp", "cmpp_submit_resp", "cmpp_deliver"};

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    int status = 0;
    for (size_t i = 0; i < sizeof kExports / sizeof kExports[0]; ++i) {
        if (dlsym(library, kExports[i]) != NULL) {
            printf("%s\n", kExports[i]);
        } else {
            fprintf(stderr, "missing %s\n", kExports[i]);
            status = 1;
        }
    }

    int (*init)(CmppSubmitRecord*) = (int (*)(CmppSubmitRecord*))dlsym(library, "cmpp_submit_sm_init");
    CmppSubmitRecord record;
    if (sizeof record != 287 || sizeof(CmppLoginRecord) != 27 || offsetof(CmppSubmitRecord, msg_content) != 139 ||
        init == NULL || init(&record) != 0 || record.msg_level != 9 || memcmp(record.service_id, "9999", 5) != 0 ||
        record.dest_usr_tl != 1 || init(NULL) != CMPP_E_MISSING_ARGUMENT) {
        fprintf(stderr, "submit record differs between C and the library\n");
        status = 1;
    }
    dlclose(library);
    return status;
}
