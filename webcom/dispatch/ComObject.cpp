// Object counting for DllCanUnloadNow and the last release.
#include "webcom/dispatch/ComObject.h"

#include "webcom/module/ComModule.h"

namespace quorvex::webcom {

ComObject::ComObject() { ObjectCreated(); }

ComObject::~ComObject() { ObjectDestroyed(); }

std::uint32_t ComObject::Release() {
    const std::uint32_t left = --references_;
    if (left == 0) delete this;
    return left;
}

}  // namespace quorvex::webcom
