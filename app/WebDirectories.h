// The web directory installer library, "Vendrel.so" in the program folder,
// loaded for one set-up or removal and unloaded again. A missing file or
// export is an expected case: the caller reports it and goes on.
#pragma once

#include <optional>
#include <string>

#include "common/SharedLibrary.h"

namespace quorvex::app {

inline constexpr const char* kWebDirectoryLibrary = "Vendrel.so";

class WebDirectoryInstaller {
public:
    // Nothing when the library or its export is missing; then `why`, when
    // given, gets one sentence that names the file and what is wrong.
    static std::optional<WebDirectoryInstaller> Load(const std::string& program_folder, std::string* why = nullptr);

    // Publishes `folder` as the web directory `name` (PHP pages run there
    // when `script`). True when the web server took it.
    bool Publish(const std::string& name, const std::string& folder, const std::string& document, bool script);
    // Takes the directory away. True when it is gone.
    bool Remove(const std::string& name);
    // Whether the web directory `name` is published now (false where the
    // installer cannot tell).
    bool Published(const std::string& name) const;
    // Why the last call failed, in one sentence, when the installer can
    // say more than that it failed (its export "VendrelLastError").
    std::string LastError() const;

private:
    using Function = int (*)(const char* name, const char* folder, const char* document, int script);
    using ErrorFunction = const char* (*)();
    using QueryFunction = int (*)(const char* name);

    WebDirectoryInstaller(SharedLibrary library, Function function, ErrorFunction last_error, QueryFunction published)
        : library_(std::move(library)), function_(function), last_error_(last_error), published_(published) {}

    SharedLibrary library_;
    Function function_;
    ErrorFunction last_error_;  // may be null
    QueryFunction published_;   // may be null
};

}  // namespace quorvex::app
