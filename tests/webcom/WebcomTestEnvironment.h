// The component code of these tests runs linked into the test program, so
// the objects are given a "library" of a path in a temporary folder, the
// same for the whole run; tests that read the library folder's files write
// them there.
#pragma once

#include <string>

#include "webcom/module/ComModule.h"

namespace quorvex::testing {

// The library location the tests' objects are made with.
const webcom::LibraryLocation& TestLibrary();

// The folder of the test's library path (QuorvexCOM.so inside it).
const std::string& WebcomLibraryFolder();

}  // namespace quorvex::testing
