// The C interface of QuorvexCOM.so: the four registration and class-object
// exports and the Qvx* object functions. Nothing thrown inside the
// library ever crosses this boundary: each export turns it into a status.
#include <new>
#include <span>
#include <string_view>
#include <vector>

#include "common/ErrorLog.h"
#include "webcom/dispatch/CInterface.h"
#include "webcom/dispatch/ComObject.h"
#include "webcom/registry/ComClasses.h"
#include "webcom/module/ComModule.h"
#include "webcom/registry/ComRegistrationFile.h"

using namespace quorvex::webcom;

namespace {

template <typename Call>
Status Guarded(Call&& call) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    } catch (const std::exception& e) {
        QUORVEX_ERROR_LOG(e.what());
        return kUnexpected;
    } catch (...) {
        return kUnexpected;
    }
}

// The logins of this process, which the objects of every class share.
AccountLogins& ProcessLogins() {
    static AccountLogins logins;
    return logins;
}

Status CreateOf(const ComClass& cls, QvxObject** out) {
    if (cls.create == nullptr) return kClassNotAvailable;
    *out = cls.create(ThisLibrary(), ProcessLogins())->Handle();
    return kOk;
}

// One factory per class, handed out by DllGetClassObject. The structure
// is the factory's function table, so its address tells the class.
struct ClassFactory {
    QvxClassFactory table;
    const ComClass* cls;
};

int32_t FactoryCreate(const QvxClassFactory* factory, QvxObject** out) {
    if (factory == nullptr || out == nullptr) return kNullPointer;
    *out = nullptr;
    const auto* self = reinterpret_cast<const ClassFactory*>(factory);
    return Guarded([&] { return CreateOf(*self->cls, out); });
}

int32_t FactoryLock(const QvxClassFactory*, int32_t lock) {
    LockModule(lock != 0);
    return kOk;
}

const ClassFactory* FactoryOf(const ComClass& cls) {
    static const std::vector<ClassFactory> factories = [] {
        std::vector<ClassFactory> made;
        for (const ComClass& each : ComClasses()) made.push_back({{&FactoryCreate, &FactoryLock}, &each});
        return made;
    }();
    return &factories[static_cast<std::size_t>(&cls - ComClasses().data())];
}

}  // namespace

extern "C" {

int32_t DllCanUnloadNow(void) { return CanUnloadModule() ? kOk : kFalse; }

int32_t DllGetClassObject(const char* clsid, const QvxClassFactory** factory) {
    if (clsid == nullptr || factory == nullptr) return kNullPointer;
    *factory = nullptr;
    return Guarded([&] {
        const ComClass* cls = FindComClassById(clsid);
        if (cls == nullptr || cls->create == nullptr) return kClassNotAvailable;
        *factory = &FactoryOf(*cls)->table;
        return kOk;
    });
}

int32_t DllRegisterServer(void) {
    return Guarded([] { return RegisterLibrary(ThisLibrary().path) ? kOk : kRegisterClassFailed; });
}

int32_t DllUnregisterServer(void) {
    return Guarded([] { return UnregisterLibrary(ThisLibrary().path) ? kOk : kRegisterClassFailed; });
}

int32_t QvxCreateObject(const char* progid_or_clsid, QvxObject** out) {
    if (progid_or_clsid == nullptr || out == nullptr) return kNullPointer;
    *out = nullptr;
    return Guarded([&] {
        const ComClass* cls = FindComClass(progid_or_clsid);
        if (cls == nullptr) return kClassNotRegistered;
        return CreateOf(*cls, out);
    });
}

uint32_t QvxAddRef(QvxObject* object) { return object == nullptr ? 0 : ComObject::FromHandle(object)->AddRef(); }

uint32_t QvxRelease(QvxObject* object) {
    if (object == nullptr) return 0;
    uint32_t left = 0;
    Guarded([&] {
        left = ComObject::FromHandle(object)->Release();
        return kOk;
    });
    return left;
}

int32_t QvxGetIDOfName(QvxObject* object, const char* name, int32_t* dispid) {
    if (object == nullptr || name == nullptr || dispid == nullptr) return kNullPointer;
    return Guarded([&] { return ComObject::FromHandle(object)->IdOfName(name, *dispid); });
}

int32_t QvxInvoke(QvxObject* object, int32_t dispid, int32_t flags, const QvxValue* args, int32_t argc,
                  QvxValue* result) {
    if (object == nullptr || (argc > 0 && args == nullptr)) return kNullPointer;
    if (argc < 0) return kInvalidArgument;
    QvxValue ignored{};
    QvxValue& out = result != nullptr ? *result : ignored;
    out = QvxValue{};
    return Guarded([&] {
        return ComObject::FromHandle(object)->Invoke(
            dispid, flags, std::span<const QvxValue>(args, static_cast<std::size_t>(argc)), out);
    });
}

}  // extern "C"
