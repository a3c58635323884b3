// One collection run for one account: log in to each enabled remote POP3
// box of the account, fetch every message not fetched before, hand it to
// local delivery, remember its unique id, and delete it on the remote
// server unless the box leaves a copy there. A message is deleted remotely
// only after it was delivered (on disk) and its id recorded, so a crash can
// make a message come twice but never lose it.
#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::remotepop3 {

// One remote box of an account.
struct RemoteBox {
    bool Enable = true;
    bool LeaveCopy = false;
    std::string Server;
    std::string Account;
    std::string Password;
    int Port = 110;
};

// A connection to a remote server, line by line.
class RemoteConnection {
public:
    virtual ~RemoteConnection() = default;
    // Reads one line. `line` gets its text without the line end; `whole` is
    // false when the line was longer than the reader takes at once and this
    // is a piece of it (the rest follows in the next calls). False when the
    // connection failed, closed or went silent too long.
    virtual bool ReadLine(std::string& line, bool& whole) = 0;
    // Sends the text followed by CR LF.
    virtual bool SendLine(std::string_view text) = 0;
};

// What a run needs of the rest of the server.
class CollectionServices {
public:
    virtual ~CollectionServices() = default;

    virtual std::vector<RemoteBox> LoadBoxes(std::string_view account) = 0;
    // The first IPv4 address of a host (dotted), nothing when unresolved.
    virtual std::optional<std::string> Resolve(std::string_view host) = 0;
    // True for an address of this machine: the server never collects from
    // itself.
    virtual bool IsOwnAddress(std::string_view dotted_address) = 0;
    virtual std::unique_ptr<RemoteConnection> Connect(const std::string& host, int port) = 0;

    // A new temporary file name in the program's "smtp" folder.
    virtual std::string NewTemporaryFile() = 0;
    // The anti-virus hand-off (does nothing when it is switched off).
    virtual void ScanForViruses(const std::string& path) = 0;
    // Delivers the file to one recipient with a log tag. For the main
    // delivery the identifier of the stored copy comes back in `local_id`.
    virtual bool Deliver(std::string_view tag, const std::string& recipient, const std::string& sender,
                         const std::string& path, std::string* local_id) = 0;

    // Where the account's record file lives; nothing when no safe path can
    // be formed (ids are then not recorded, and messages not deleted).
    virtual std::optional<std::string> UidlFilePath(std::string_view account) = 0;
    virtual void Log(std::string_view text) = 0;
    virtual std::time_t Now() = 0;
};

struct CollectionSettings {
    bool ShowPOP3Remote = true;
    std::string Domain;                   // [System] Dominame
    std::vector<std::string> CopyTo;      // copies of collected mail, when switched on
};

class RemoteCollector {
public:
    RemoteCollector(CollectionServices& services, CollectionSettings settings)
        : services_(services), settings_(std::move(settings)) {}

    // Collects from every enabled box of the account, in order.
    void CollectRemoteMail(std::string_view account);

private:
    enum class BoxEnd { kNext, kStopRun };
    BoxEnd CollectBox(std::string_view account, const RemoteBox& box);
    // Receives one message after a positive RETR reply and delivers it.
    bool FetchRemoteMessage(std::string_view account, const RemoteBox& box, RemoteConnection& connection,
                            std::string& local_id, std::string& error);
    void LogBox(std::string_view account, const RemoteBox& box, std::string_view what);

    CollectionServices& services_;
    CollectionSettings settings_;
};

// "+OK" at the start, in any case.
bool IsPositive(std::string_view reply);
// The message count of a "+OK count size" STAT reply, 0 when it does not parse.
int ParseStatCount(std::string_view reply);
// The unique id of a "+OK n uid" UIDL reply, empty when there is none.
std::string ParseUidlReply(std::string_view reply);

}  // namespace quorvex::remotepop3
