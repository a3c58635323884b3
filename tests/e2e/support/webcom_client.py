"""The web-mail component QuorvexCOM.so through its C interface, with ctypes.

`Component(path)` loads a copy of the library; `create(progid)` makes an
object; objects are called by member name: `call` (a method, or a
property get with arguments), `get` and `put`. Texts go in as bytes
(a str is encoded as Latin-1, so any byte passes) and come back as str
decoded the same way. `Request` and `Response` are the web server's host
objects, built from Python callables.
"""
import ctypes
from ctypes import CFUNCTYPE, POINTER, Structure, c_char_p, c_int32, c_int64, c_uint32, c_void_p

S_OK, S_FALSE = 0, 1
METHOD, GET, PUT = 1, 2, 4
EMPTY, INTEGER, TEXT, BYTES, REQUEST, RESPONSE = 0, 3, 8, 17, 100, 101

DISP_E_MEMBERNOTFOUND = -0x7FFDFFFD  # 0x80020003
DISP_E_TYPEMISMATCH = -0x7FFDFFFB    # 0x80020005
DISP_E_UNKNOWNNAME = -0x7FFDFFFA     # 0x80020006
DISP_E_BADPARAMCOUNT = -0x7FFDFFF2   # 0x8002000E
CLASS_E_CLASSNOTAVAILABLE = -0x7FFBFEEF  # 0x80040111
REGDB_E_CLASSNOTREG = -0x7FFBFEAC        # 0x80040154

EXPORTS = ["DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer",
           "QvxAddRef", "QvxCreateObject", "QvxGetIDOfName", "QvxInvoke", "QvxRelease"]


class QvxValue(Structure):
    _fields_ = [("type", c_int32), ("i4", c_int32), ("data", c_void_p), ("size", c_int64), ("host", c_void_p)]


TOTAL_BYTES = CFUNCTYPE(c_int32, c_void_p, POINTER(c_int64))
BINARY_READ = CFUNCTYPE(c_int32, c_void_p, c_void_p, POINTER(c_int64))
SET_CONTENT_TYPE = CFUNCTYPE(c_int32, c_void_p, c_char_p)
ADD_HEADER = CFUNCTYPE(c_int32, c_void_p, c_char_p, c_char_p)
BINARY_WRITE = CFUNCTYPE(c_int32, c_void_p, c_void_p, c_int64)


class QvxRequest(Structure):
    _fields_ = [("ctx", c_void_p), ("TotalBytes", TOTAL_BYTES), ("BinaryRead", BINARY_READ)]


class QvxResponse(Structure):
    _fields_ = [("ctx", c_void_p), ("SetContentType", SET_CONTENT_TYPE), ("AddHeader", ADD_HEADER),
                ("BinaryWrite", BINARY_WRITE)]


class QvxClassFactory(Structure):
    pass


CREATE_INSTANCE = CFUNCTYPE(c_int32, POINTER(QvxClassFactory), POINTER(c_void_p))
LOCK_SERVER = CFUNCTYPE(c_int32, POINTER(QvxClassFactory), c_int32)
QvxClassFactory._fields_ = [("CreateInstance", CREATE_INSTANCE), ("LockServer", LOCK_SERVER)]


class ComError(Exception):
    def __init__(self, status, what):
        super().__init__("%s: status 0x%08X" % (what, status & 0xFFFFFFFF))
        self.status = status


class Response:
    """A response object that records what the component writes."""

    def __init__(self, fail_header=False, fail_write_after=None):
        self.content_type = None
        self.headers = []
        self.writes = []
        self.fail_header = fail_header
        self.fail_write_after = fail_write_after
        self._set = SET_CONTENT_TYPE(self._set_content_type)
        self._add = ADD_HEADER(self._add_header)
        self._write = BINARY_WRITE(self._binary_write)
        self.struct = QvxResponse(None, self._set, self._add, self._write)

    def _set_content_type(self, _ctx, text):
        self.content_type = text.decode("latin-1")
        return 0

    def _add_header(self, _ctx, name, value):
        if self.fail_header:
            return -1
        self.headers.append((name.decode("latin-1"), value.decode("latin-1")))
        return 0

    def _binary_write(self, _ctx, data, size):
        if self.fail_write_after is not None and len(self.writes) >= self.fail_write_after:
            return -1
        self.writes.append(ctypes.string_at(data, size))
        return 0

    @property
    def body(self):
        return b"".join(self.writes)

    def value(self):
        return QvxValue(RESPONSE, 0, None, 0, ctypes.cast(ctypes.pointer(self.struct), c_void_p))


class Request:
    """A request object whose body is the given bytes."""

    def __init__(self, body):
        self.body = body
        self.offset = 0
        self._total = TOTAL_BYTES(self._total_bytes)
        self._read = BINARY_READ(self._binary_read)
        self.struct = QvxRequest(None, self._total, self._read)

    def _total_bytes(self, _ctx, total):
        total[0] = len(self.body)
        return 0

    def _binary_read(self, _ctx, buffer, count):
        chunk = self.body[self.offset:self.offset + count[0]]
        ctypes.memmove(buffer, chunk, len(chunk))
        self.offset += len(chunk)
        count[0] = len(chunk)
        return 0

    def value(self):
        return QvxValue(REQUEST, 0, None, 0, ctypes.cast(ctypes.pointer(self.struct), c_void_p))


class Component:
    """One loaded copy of the library."""

    def __init__(self, path):
        self.path = path
        lib = self.lib = ctypes.CDLL(path)
        lib.DllCanUnloadNow.restype = c_int32
        lib.DllRegisterServer.restype = c_int32
        lib.DllUnregisterServer.restype = c_int32
        lib.DllGetClassObject.argtypes = [c_char_p, POINTER(POINTER(QvxClassFactory))]
        lib.DllGetClassObject.restype = c_int32
        lib.QvxCreateObject.argtypes = [c_char_p, POINTER(c_void_p)]
        lib.QvxCreateObject.restype = c_int32
        lib.QvxAddRef.argtypes = [c_void_p]
        lib.QvxAddRef.restype = c_uint32
        lib.QvxRelease.argtypes = [c_void_p]
        lib.QvxRelease.restype = c_uint32
        lib.QvxGetIDOfName.argtypes = [c_void_p, c_char_p, POINTER(c_int32)]
        lib.QvxGetIDOfName.restype = c_int32
        lib.QvxInvoke.argtypes = [c_void_p, c_int32, c_int32, POINTER(QvxValue), c_int32, POINTER(QvxValue)]
        lib.QvxInvoke.restype = c_int32

    def create_status(self, progid):
        handle = c_void_p()
        status = self.lib.QvxCreateObject(progid.encode("latin-1"), ctypes.byref(handle))
        return status, handle

    def create(self, progid):
        status, handle = self.create_status(progid)
        if status != S_OK:
            raise ComError(status, "QvxCreateObject(%s)" % progid)
        return ComObject(self, handle)

    def can_unload(self):
        return self.lib.DllCanUnloadNow()

    def register(self):
        return self.lib.DllRegisterServer()

    def unregister(self):
        return self.lib.DllUnregisterServer()


def _argument(value, keep):
    if value is None:
        return QvxValue(EMPTY, 0, None, 0, None)
    if isinstance(value, (Response, Request)):
        keep.append(value)
        return value.value()
    if isinstance(value, bool) or isinstance(value, int):
        return QvxValue(INTEGER, int(value), None, 0, None)
    if isinstance(value, QvxValue):
        return value
    data = value.encode("latin-1") if isinstance(value, str) else bytes(value)
    buffer = ctypes.create_string_buffer(data, len(data) + 1)
    keep.append(buffer)
    return QvxValue(TEXT, 0, ctypes.cast(buffer, c_void_p), len(data), None)


def _result(value):
    if value.type == INTEGER:
        return value.i4
    if value.type == TEXT:
        return ctypes.string_at(value.data, value.size).decode("latin-1") if value.size else ""
    if value.type == BYTES:
        return ctypes.string_at(value.data, value.size) if value.size else b""
    return None


class ComObject:
    def __init__(self, component, handle):
        self.component = component
        self.handle = handle
        self.last_status = None

    def dispid(self, name):
        dispid = c_int32()
        status = self.component.lib.QvxGetIDOfName(self.handle, name.encode("latin-1"), ctypes.byref(dispid))
        if status != S_OK:
            raise ComError(status, "QvxGetIDOfName(%s)" % name)
        return dispid.value

    def invoke_raw(self, dispid, flags, *args):
        """(status, result) of one call by dispatch id."""
        keep = []
        values = (QvxValue * max(1, len(args)))(*[_argument(a, keep) for a in args])
        result = QvxValue()
        status = self.component.lib.QvxInvoke(self.handle, dispid, flags, values, len(args), ctypes.byref(result))
        return status, _result(result)

    def invoke(self, name, flags, *args):
        status, value = self.invoke_raw(self.dispid(name), flags, *args)
        self.last_status = status
        if status < 0:
            raise ComError(status, "QvxInvoke(%s)" % name)
        return value

    def call(self, name, *args):
        return self.invoke(name, METHOD | GET, *args)

    def get(self, name, *args):
        return self.invoke(name, GET, *args)

    def put(self, name, *args):
        return self.invoke(name, PUT, *args)

    def add_ref(self):
        return self.component.lib.QvxAddRef(self.handle)

    def release(self):
        left = self.component.lib.QvxRelease(self.handle) if self.handle else 0
        if left == 0:
            self.handle = None
        return left

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        while self.handle:
            self.release()


def form_data(fields=(), files=(), boundary="----QuorvexTestBoundary8Kx3"):
    """A multipart/form-data body as browsers send it: `fields` are (name,
    value) pairs, `files` (field, file name, bytes) triples."""
    def text(value):
        return value.encode("latin-1") if isinstance(value, str) else bytes(value)
    out = b""
    for name, value in fields:
        out += b"--%s\r\nContent-Disposition: form-data; name=\"%s\"\r\n\r\n%s\r\n" % (
            text(boundary), text(name), text(value))
    for name, file_name, content in files:
        out += (b"--%s\r\nContent-Disposition: form-data; name=\"%s\"; filename=\"%s\"\r\n"
                b"Content-Type: application/octet-stream\r\n\r\n%s\r\n" % (
                    text(boundary), text(name), text(file_name), content))
    return out + b"--%s--\r\n" % text(boundary)
