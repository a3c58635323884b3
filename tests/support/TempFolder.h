// A fresh temporary folder for one test, removed with everything in it when
// the test ends. Tests that need a program folder point QUORVEX_HOME at it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/Paths.h"

namespace quorvex::testing {

class TempFolder {
public:
    TempFolder() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "quorvex-test-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return JoinPath(path_, name); }

private:
    std::string path_;
};

}  // namespace quorvex::testing
