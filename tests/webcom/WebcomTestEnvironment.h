// The component code of these tests runs linked into the test program, so
// the "library" it finds itself in is set once, for the whole run, to a
// path in a temporary folder; tests that read the library folder's files
// write them there.
#pragma once

#include <string>

namespace quorvex::testing {

// The folder of the test's library path (QuorvexCOM.so inside it).
const std::string& WebcomLibraryFolder();

}  // namespace quorvex::testing
