// Lists the entries of a folder (without "." and ".."), for the scans of
// the mail folder and of an account's "back" folder.
#pragma once

#include <string>
#include <vector>

namespace quorvex {

// Empty when the folder cannot be read.
std::vector<std::string> ListFolder(const std::string& path);

}  // namespace quorvex
