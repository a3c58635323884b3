#include "app/NtService.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/AtomicFile.h"
#include "common/ErrorLog.h"
#include "common/HostInfo.h"
#include "common/Paths.h"
#include "common/ServiceControl.h"
#include "common/TextHelpers.h"

namespace quorvex::app {

namespace {

std::string EnvironmentOr(const char* name, std::string_view fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : std::string(fallback);
}

// "the command "a b" failed (exit status n): <its answer>", the answer's
// line breaks made blanks.
std::string CommandFailure(const std::vector<std::string>& argv, const CommandResult& result) {
    const std::string command = JoinTexts(argv, " ");
    std::string answer = result.output;
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r' || answer.back() == ' ')) answer.pop_back();
    for (char& c : answer) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return "the command \"" + command + "\" " +
           (result.exit_status < 0 ? std::string("could not be run or did not end normally")
                                   : "failed (exit status " + std::to_string(result.exit_status) + ")") +
           (answer.empty() ? std::string(", with no answer") : ": " + answer);
}

// True when `folder` is `base` or below it.
bool IsBelow(std::string_view folder, std::string_view base) {
    return folder == base || (folder.starts_with(base) && folder.size() > base.size() && folder[base.size()] == '/');
}

}  // namespace

ServiceOptions DefaultServiceOptions() {
    ServiceOptions options;
    options.unit_folder = EnvironmentOr("QUORVEX_SYSTEMD_UNIT_DIR", kDefaultUnitFolder);
    const std::string systemctl = EnvironmentOr("QUORVEX_SYSTEMCTL", "systemctl");
    options.runner = [systemctl](const std::vector<std::string>& argv) {
        std::vector<std::string> command = argv;
        if (!command.empty() && command[0] == "systemctl") command[0] = systemctl;
        // systemctl says why a change failed on standard error: it is kept
        // for the message. The answers of the state queries are read as
        // they are, standard output alone.
        const bool query = argv.size() > 1 && (argv[1] == "show" || argv[1] == "is-active");
        return RunCommand(command, "", !query);
    };
    options.program_path = ExecutablePath();
    options.program_folder = ProgramFolder();
    return options;
}

std::string QuoteUnitValue(std::string_view value) {
    std::string out = "\"";
    for (char c : value) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '%') out += '%';
        out += c;
    }
    out += '"';
    return out;
}

std::string FormatServiceUnit(std::string_view program_path, std::string_view program_folder) {
    std::string unit;
    unit += "[Unit]\n";
    unit += "Description=QuorvexServer mail server (SMTP, POP3 and account server)\n";
    unit += "After=network-online.target\n";
    unit += "Wants=network-online.target\n";
    unit += "\n[Service]\n";
    unit += "Type=notify\n";
    unit += "ExecStart=" + QuoteUnitValue(program_path) + " -service\n";
    unit += "Environment=" + QuoteUnitValue("QUORVEX_HOME=" + std::string(program_folder)) + "\n";
    unit += "TimeoutStopSec=30\n";
    // The hardening of the installed unit template, as far as it fits a
    // program folder anywhere: it runs as root (set-up gives files to the web
    // server's group), the system is read-only but for the program folder
    // (its ODBC data source is there too) and the web server's
    // configuration, which set-up writes; home folders are read-only (a
    // program folder below one stays writable) and a private /tmp hides a
    // folder below /tmp.
    unit += "NoNewPrivileges=yes\n";
    unit += "ProtectSystem=strict\n";
    unit += "ReadWritePaths=" + QuoteUnitValue(program_folder) + " -/etc/apache2\n";
    unit += "ProtectHome=read-only\n";
    if (!IsBelow(program_folder, "/tmp") && !IsBelow(program_folder, "/var/tmp")) unit += "PrivateTmp=yes\n";
    unit += "UMask=0077\n";
    unit += "\n[Install]\n";
    unit += "WantedBy=multi-user.target\n";
    return unit;
}

std::string CNtService::UnitPath() const { return JoinPath(options_.unit_folder, kServiceUnitName); }

CommandResult CNtService::Systemctl(std::initializer_list<std::string_view> arguments) const {
    std::vector<std::string> argv{"systemctl"};
    for (std::string_view argument : arguments) argv.emplace_back(argument);
    return options_.runner(argv);
}

int CNtService::Install(bool* started) {
    if (!InstallUnit()) return 0;
    const bool running = StartServiceAndWait(kServiceUnitName, options_.runner);
    if (started != nullptr) *started = running;
    return 1;
}

int CNtService::InstallUnit() {
    last_failure_.clear();
    Uninstall();
    if (options_.program_path.empty() || options_.program_path.find_first_of("\r\n") != std::string::npos ||
        options_.program_folder.find_first_of("\r\n") != std::string::npos) {
        last_failure_ = "the program path is unknown or holds a line break";
        QUORVEX_ERROR_LOG("the service cannot be installed: " + last_failure_);
        return 0;
    }
    const std::string path = UnitPath();
    errno = 0;
    if (!AtomicWriteFile(path, FormatServiceUnit(options_.program_path, options_.program_folder), 0644)) {
        const int error = errno;
        last_failure_ = "the unit file " + path + " could not be written" +
                        (error != 0 ? " (" + std::string(std::strerror(error)) + ")" : std::string());
        QUORVEX_ERROR_LOG(last_failure_);
        return 0;
    }
    Systemctl({"daemon-reload"});
    const std::vector<std::string> enable{"systemctl", "enable", std::string(kServiceUnitName)};
    if (const CommandResult enabled = options_.runner(enable); enabled.exit_status != 0) {
        last_failure_ = CommandFailure(enable, enabled);
        QUORVEX_ERROR_LOG(last_failure_ + "; the unit is removed again");
        ::unlink(path.c_str());
        Systemctl({"daemon-reload"});
        return 0;
    }
    return 1;
}

int CNtService::Uninstall() {
    const std::string path = UnitPath();
    if (!FileExists(path)) return 1;
    StopServiceAndWait(kServiceUnitName, options_.runner);
    Systemctl({"disable", kServiceUnitName});
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        QUORVEX_ERROR_LOG("cannot remove the service unit " + path + ": " + std::strerror(errno));
        return 0;
    }
    Systemctl({"daemon-reload"});
    return 1;
}

}  // namespace quorvex::app
