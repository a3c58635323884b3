// The web side of set-up. The web server (Apache, running PHP pages that
// load the web-mail component) needs: the component's configuration
// QuorvexCOM.ini, the work folders it writes into ("maildata" for fetched
// messages, published read-only, and "websmtp" for mail being composed),
// the pages' folder "WebMail" with the include file naming their language,
// and the two web directories. Everything it reads or writes belongs to the
// web server's group ([WebMail] "Group", default "www-data"); nothing is
// ever writable by everybody.
#pragma once

#include <string>

namespace quorvex {
struct CServerSettings;
}

namespace quorvex::app {

// QuorvexCOM.ini: the three server addresses (127.0.0.1), the ports of the
// settings, the two work folders, the mail domain and the language (a
// plain name, SafeLanguageName); readable by the web server's group. Also
// makes the component's log file "comlog.txt" beside it, which the web
// server may write. True when QuorvexCOM.ini was written.
bool WriteWebComponentConfig();

// The ports the listeners use (0: not known). A changed port takes effect
// when the listeners next start, and only then may the web component
// connect to it.
struct ComponentPorts {
    int smtp = 0;
    int pop3 = 0;
    int admin = 0;
};

// Brings "Port" of an existing QuorvexCOM.ini to the ports in use (a 0
// leaves its key as it is); a missing file is left to set-up. True when
// the file holds them afterwards, or there is none.
bool WriteWebComponentPorts(const ComponentPorts& ports);

// Brings the language the web side keeps to that of `settings`: [system]
// Language of QuorvexCOM.ini and WebMail/Language.txt, where set-up made
// them (nothing is made here). True when both hold it afterwards.
bool WriteWebLanguage(const CServerSettings& settings);

// "WebMail" with "Language.txt" (the pages' include line naming the
// language of the settings), for the web server to read.
bool WriteWebMailPagesFolder();

// Lets the web server's group pass through the program folder to the
// files above (search only, no listing) when nobody else may.
void OpenProgramFolderToWebServer();

// Empties "maildata" and "websmtp" (made anew, setgid, the web server's
// group) and publishes the pages as "mail" and the fetched messages as
// "maildata" through the installer library. 1 when both were published
// and the web server's group has both folders; 0 when a folder could not
// be given to that group, the library or its export is missing, or either
// call failed; then `reason`, when given, gets a sentence on each of these
// (the installer's may name a module the web server lacks), or stays
// empty when the installer could say no more than that it failed.
int SetupWebMailDirectory(std::string* reason = nullptr);

// Whether the web directory "mail" is published now (false without the
// installer library).
bool WebMailPublished();

}  // namespace quorvex::app
