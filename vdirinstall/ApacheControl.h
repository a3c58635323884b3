// The local Apache as the installer sees it: the folder its configuration
// files go into and the control program that checks the configuration
// and reloads a running server. Both come from the environment so that
// packaging and tests can point them at another instance.
#pragma once

#include <string>
#include <string_view>

#include "common/CommandRunner.h"

namespace quorvex::vdir {

inline constexpr std::string_view kConfFolderVariable = "QUORVEX_APACHE_CONF_DIR";
inline constexpr std::string_view kApachectlVariable = "QUORVEX_APACHECTL";
inline constexpr std::string_view kDefaultConfFolder = "/etc/apache2/conf-available";
inline constexpr std::string_view kDefaultApachectl = "apachectl";

// $QUORVEX_APACHE_CONF_DIR, else /etc/apache2/conf-available.
std::string ApacheConfFolder();

// The folder where a2enconf would link a file of `conf_folder`: the
// sibling "conf-enabled" of a folder named "conf-available", when it
// exists; else empty (the folder is included directly).
std::string ApacheEnabledFolder(const std::string& conf_folder);

class ApacheControl {
public:
    // $QUORVEX_APACHECTL, else "apachectl", looked up on PATH.
    ApacheControl();
    explicit ApacheControl(const std::string& program);

    // False when the control program is not installed: nothing can be
    // checked or reloaded then.
    bool available() const { return !program_.empty(); }

    // "-t -D DUMP_RUN_CFG": exit status 0 when the whole configuration is
    // valid, and the output lists its run settings; otherwise the output
    // holds the server's complaint.
    CommandResult CheckConfiguration() const;

    // True when the server of a checked configuration runs: the PidFile of
    // its run settings names a live process.
    static bool IsRunning(std::string_view run_settings);

    // "-k graceful": the running server rereads its configuration and
    // serves the requests in hand to their end. Never called for a server
    // that does not run, which "-k graceful" would start.
    CommandResult GracefulReload() const;

private:
    CommandResult Run(std::initializer_list<std::string_view> arguments) const;
    std::string program_;
};

// The PidFile of a "-t -D DUMP_RUN_CFG" listing, relative paths taken
// from its ServerRoot; empty when it names none.
std::string PidFileOfRunConfig(std::string_view listing);

// When Apache refused a web directory's configuration because a module
// that it needs is not loaded ("Invalid command 'Header'"): a sentence
// naming the module and how Debian enables it. Empty otherwise.
std::string MissingModuleAdvice(std::string_view check_output);

}  // namespace quorvex::vdir
