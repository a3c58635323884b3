// Files the program ships beside itself (the database schema, language
// files, the demo folder): looked for in the program folder first, then
// where `cmake --install` put them, then in the source tree the program
// was built from.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvex::app {

// The folders searched, in order.
std::vector<std::string> DataFolders();

// The first existing file of that name; empty when there is none.
std::string FindDataFile(std::string_view name);

}  // namespace quorvex::app
