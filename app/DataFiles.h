// Files the program ships beside itself (the database schema, language
// files, the demo folder): looked for in the program folder first, then in
// the installed data folder found from the executable (share/quorvex, made
// by `cmake --install` and in the build tree alike).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvex::app {

// The folders searched, in order.
std::vector<std::string> DataFolders();

// The folders looked in, for a message about a file found in none: the
// program folder and the installed data folder, or every place the
// installed data folder was looked for when none was found.
std::vector<std::string> SearchedDataFolders();

// The first existing file of that name; empty when there is none.
std::string FindDataFile(std::string_view name);

}  // namespace quorvex::app
