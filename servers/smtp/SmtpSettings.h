// The settings the SMTP server, its access rules and local delivery read.
// A snapshot: each command takes the one current when it starts, so a
// settings change by the administrator applies from the next command on
// and a command never sees half of a change.
#pragma once

#include <string>
#include <vector>

namespace quorvex::smtp {

struct SmtpSettings {
    // [System]
    int mail_server_model = 1;  // 0 LAN only, 1 Internet with relay rules, 2 every sender local
    int esmtp = 0;              // a local sender must authenticate or come from a permitted address
    int from_equal_esmtp_user = 1;
    int mail_proxy = 0;
    int open_relay = 0;
    int send_out_if_absent = 0;
    int max_password_tries = 3;
    int max_rcpts = 20;
    int domain_name_type = 0;  // 1 several mail domains, 0 one
    std::string domain_name;   // "Dominame"
    int local_abbrv = 0;
    int enable_mails_copy_to = 0;
    int enable_out_mails_copy_to = 1;
    int enable_in_mails_copy_to = 1;
    std::string mails_copy_to;  // ";"-separated
    int enable_catch_all = 0;
    std::string account_catch_all = "admin";
    long long max_mail_size = -1;  // bytes, -1 no limit
    std::string welcome_message;
    int hide_welcome_message = 0;
    std::string permitted_ip_smtp;  // ";"-separated, compared without case
    std::string anonymous_account;

    // [AntiVirus] Enable
    int anti_virus = 0;
    // [EmailFilter] Enable: sender block list; [IPBlock] Enable: address block list
    int from_block_enabled = 0;
    int ip_block_enabled = 0;
    // The two lists of the program folder's EmailFilter.ini.
    std::vector<std::string> blocked_froms;
    std::vector<std::string> blocked_ips;

    bool MultiDomain() const { return domain_name_type == 1; }
};

}  // namespace quorvex::smtp
