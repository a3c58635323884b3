// The 32-bit status codes of the component's C interface, with the values
// scripting hosts know from COM: success (S_OK), the "did not work" success
// some methods return (S_FALSE), and the failures for calls that cannot be
// matched or objects that cannot be made.
#pragma once

#include <cstdint>

namespace quorvex::webcom {

using Status = std::int32_t;

inline constexpr Status kOk = 0;     // S_OK
inline constexpr Status kFalse = 1;  // S_FALSE

constexpr Status FailureStatus(std::uint32_t code) { return static_cast<Status>(code); }

inline constexpr Status kUnexpected = FailureStatus(0x8000FFFFu);        // E_UNEXPECTED
inline constexpr Status kNullPointer = FailureStatus(0x80004003u);       // E_POINTER
inline constexpr Status kFailed = FailureStatus(0x80004005u);            // E_FAIL
inline constexpr Status kOutOfMemory = FailureStatus(0x8007000Eu);       // E_OUTOFMEMORY
inline constexpr Status kInvalidArgument = FailureStatus(0x80070057u);   // E_INVALIDARG
inline constexpr Status kMemberNotFound = FailureStatus(0x80020003u);    // DISP_E_MEMBERNOTFOUND
inline constexpr Status kTypeMismatch = FailureStatus(0x80020005u);      // DISP_E_TYPEMISMATCH
inline constexpr Status kUnknownName = FailureStatus(0x80020006u);       // DISP_E_UNKNOWNNAME
inline constexpr Status kBadParamCount = FailureStatus(0x8002000Eu);     // DISP_E_BADPARAMCOUNT
inline constexpr Status kClassNotAvailable = FailureStatus(0x80040111u); // CLASS_E_CLASSNOTAVAILABLE
inline constexpr Status kClassNotRegistered = FailureStatus(0x80040154u);// REGDB_E_CLASSNOTREG
inline constexpr Status kRegisterClassFailed = FailureStatus(0x80040201u);// SELFREG_E_CLASS

}  // namespace quorvex::webcom
