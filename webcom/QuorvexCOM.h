/* QuorvexCOM.h: the C interface of the web-mail component QuorvexCOM.so.
 *
 * Plain C declarations without includes or preprocessor lines, so that PHP's
 * FFI::cdef can read the file as it stands. A C or C++ program includes
 * <stdint.h> first.
 *
 * Objects are created by ProgID ("QuorvexCOM.POP3", "QuorvexCOM.SMTP",
 * "QuorvexCOM.Admin", each also with ".1") or by braced CLSID, reference-
 * counted, and called by member: QvxGetIDOfName gives the dispatch id of a
 * member name (compared without regard to case), QvxInvoke calls it.
 * Arguments are given in their natural order; a property put takes the new
 * value as its last argument. Results of QvxInvoke: 0 (S_OK), 1 (S_FALSE)
 * or a negative status for a call the member table cannot match:
 * 0x80020003 unknown member, 0x8002000E wrong argument count, 0x80020005
 * wrong argument type, 0x80004003 a null pointer. An object is used by one
 * thread at a time ("Apartment").
 *
 * Value types: 0 empty, 3 integer (i4), 8 text (data, size), 17 bytes
 * (data, size), 100 request (host points to a QvxRequest), 101 response
 * (host points to a QvxResponse). Texts are bytes passed through unchanged.
 * Text and bytes returned in a result point into storage owned by the
 * object, valid until its next QvxInvoke or its release.
 */

typedef struct QvxObject QvxObject;

typedef struct {
    int32_t type;
    int32_t i4;
    const char* data;
    int64_t size;
    const void* host;
} QvxValue;

/* The web server's request object (form uploads). Each returns a negative
 * status on failure. BinaryRead reads up to *count bytes and sets *count to
 * the number read. */
typedef struct {
    void* ctx;
    int32_t (*TotalBytes)(void* ctx, int64_t* total);
    int32_t (*BinaryRead)(void* ctx, void* buffer, int64_t* count);
} QvxRequest;

/* The web server's response object (downloads). */
typedef struct {
    void* ctx;
    int32_t (*SetContentType)(void* ctx, const char* type);
    int32_t (*AddHeader)(void* ctx, const char* name, const char* value);
    int32_t (*BinaryWrite)(void* ctx, const void* data, int64_t size);
} QvxResponse;

/* A class factory as DllGetClassObject hands it out: CreateInstance makes a
 * new object, LockServer(1) and LockServer(0) keep the library loaded. */
typedef struct QvxClassFactory QvxClassFactory;
struct QvxClassFactory {
    int32_t (*CreateInstance)(const QvxClassFactory* factory, QvxObject** out);
    int32_t (*LockServer)(const QvxClassFactory* factory, int32_t lock);
};

/* 1 (S_FALSE) while any object or server lock lives, else 0 (S_OK). */
int32_t DllCanUnloadNow(void);
/* The factory of a class named by its braced CLSID; 0x80040111 when the
 * library has no such class. */
int32_t DllGetClassObject(const char* clsid, const QvxClassFactory** factory);
/* Write and remove the classes' entries in the registration file
 * "ComRegistry.ini" beside the library; negative on failure. */
int32_t DllRegisterServer(void);
int32_t DllUnregisterServer(void);

/* 0x80040154 for an unknown ProgID or CLSID, 0x80040111 for a class this
 * build of the library does not contain. */
int32_t QvxCreateObject(const char* progid_or_clsid, QvxObject** out);
uint32_t QvxAddRef(QvxObject* object);
/* The last release destroys the object (the POP3 object ends its session
 * with QUIT, the Admin object its record-set session). */
uint32_t QvxRelease(QvxObject* object);
/* 0x80020006 for a name the object does not have. */
int32_t QvxGetIDOfName(QvxObject* object, const char* name, int32_t* dispid);
/* flags: 1 method, 2 property get, 4 property put (1|2 for a call that may
 * be either, as scripts make). */
int32_t QvxInvoke(QvxObject* object, int32_t dispid, int32_t flags, const QvxValue* args, int32_t argc,
                  QvxValue* result);
