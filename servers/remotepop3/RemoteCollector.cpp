// A collection run against remote POP3 boxes.
#include "servers/remotepop3/RemoteCollector.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "common/FileSteps.h"
#include "common/TemporaryFile.h"
#include "common/UniqueFd.h"
#include "servers/remotepop3/UidlRecordFile.h"

namespace quorvex::remotepop3 {
namespace {

std::string WithoutSecret(std::string text, const std::string& secret) {
    if (secret.empty()) return text;
    for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 4)) {
        text.replace(at, secret.size(), "****");
    }
    return text;
}

}  // namespace

bool IsPositive(std::string_view reply) {
    return reply.size() >= 3 && (reply[0] == '+') && (reply[1] == 'O' || reply[1] == 'o') &&
           (reply[2] == 'K' || reply[2] == 'k');
}

int ParseStatCount(std::string_view reply) {
    int count = 0;
    int size = 0;
    const std::string text(reply.substr(0, 256));
    if (std::sscanf(text.c_str() + (text.size() >= 3 ? 3 : text.size()), " %d %d", &count, &size) < 1) return 0;
    return count < 0 ? 0 : count;
}

std::string ParseUidlReply(std::string_view reply) {
    if (!IsPositive(reply)) return {};
    std::string_view rest = reply.substr(3);
    std::size_t i = 0;
    while (i < rest.size() && rest[i] == ' ') ++i;
    const std::size_t number_start = i;
    while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9') ++i;
    if (i == number_start) return {};
    while (i < rest.size() && rest[i] == ' ') ++i;
    std::size_t end = i;
    while (end < rest.size() && rest[end] != ' ' && rest[end] != '\t' && rest[end] != '\r') ++end;
    return std::string(rest.substr(i, end - i));
}

void RemoteCollector::LogBox(std::string_view account, const RemoteBox& box, std::string_view what) {
    if (!settings_.ShowPOP3Remote) return;
    services_.Log(std::string(account) + " REMOTE POP3 " + box.Server + " " + std::string(what));
}

void RemoteCollector::CollectRemoteMail(std::string_view account) {
    for (const RemoteBox& box : services_.LoadBoxes(account)) {
        if (!box.Enable) continue;
        if (CollectBox(account, box) == BoxEnd::kStopRun) return;
    }
}

RemoteCollector::BoxEnd RemoteCollector::CollectBox(std::string_view account, const RemoteBox& box) {
    if (box.Server.empty() || box.Account.empty()) return BoxEnd::kStopRun;
    if (const auto address = services_.Resolve(box.Server); address && services_.IsOwnAddress(*address)) {
        return BoxEnd::kStopRun;
    }
    std::unique_ptr<RemoteConnection> connection = services_.Connect(box.Server, box.Port);
    if (!connection) return BoxEnd::kNext;  // unreachable: skipped without a word
    LogBox(account, box, "Start");

    std::string last;
    bool whole = true;
    auto read = [&] { return connection->ReadLine(last, whole); };
    auto error = [&](const std::string& text) {
        LogBox(account, box, "Error " + WithoutSecret(text, box.Password));
        return BoxEnd::kNext;
    };
    auto command = [&](const std::string& line) { return connection->SendLine(line) && read(); };

    if (!read() || !IsPositive(last)) return error(last);
    if (!command("USER " + box.Account) || !IsPositive(last)) return error(last);
    if (!command("PASS " + box.Password) || !IsPositive(last)) return error(last);
    if (!command("STAT") || !IsPositive(last)) return error(last);
    const int count = ParseStatCount(last);

    UidlRecordFile records(services_.UidlFilePath(account).value_or(""));
    const bool can_record = !records.path().empty();
    if (can_record) records.Load();

    for (int i = 1; i <= count; ++i) {
        const std::string number = std::to_string(i);
        if (!command("UIDL " + number)) return error(last);
        if (!IsPositive(last)) continue;
        const std::string uid = ParseUidlReply(last);
        // Without an id the message could not be told apart next time.
        if (uid.empty() || !can_record) continue;

        if (!records.Contains(uid)) {
            if (!command("RETR " + number)) return error(last);
            if (!IsPositive(last)) continue;
            std::string local_id;
            std::string fetch_error;
            if (!FetchRemoteMessage(account, box, *connection, local_id, fetch_error)) {
                // A broken transfer leaves the connection out of step.
                if (fetch_error == "-ERR read line error") return error(fetch_error);
                continue;
            }
            // Delivered: deleting it remotely is safe from here on. A record
            // that cannot be written only means it may be fetched again.
            if (!records.Record(uid, local_id, services_.Now())) {
                services_.Log(std::string(account) + " REMOTE POP3 " + box.Server + " cannot record " + uid +
                              " in " + records.path());
            }
        }
        if (box.LeaveCopy) continue;
        if (!command("DELE " + number)) return error(last);
    }
    if (!command("QUIT") || !IsPositive(last)) return error(last);
    LogBox(account, box, "END");
    return BoxEnd::kNext;
}

bool RemoteCollector::FetchRemoteMessage(std::string_view account, const RemoteBox& box,
                                         RemoteConnection& connection, std::string& local_id,
                                         std::string& error) {
    TemporaryFile file(services_.NewTemporaryFile());
    {
        UniqueFd fd(::open(file.path().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (!fd) {
            error = "-ERR open file " + file.path() + " failed";
            // The message text is still coming: read past it.
            std::string line;
            bool whole = true;
            while (connection.ReadLine(line, whole) && !(whole && line == ".")) {
            }
            return false;
        }
        // Lines are kept as they come, still dot-stuffed: stored messages
        // hold the stuffed form. A piece of an over-long line is written
        // without a line end, so long lines arrive unbroken. After a failed
        // write the rest of the message is still read to its end line, so
        // the next reply is matched to the next command.
        std::string line;
        bool whole = true;
        std::string chunk;
        bool written = true;
        for (;;) {
            if (!connection.ReadLine(line, whole)) {
                error = "-ERR read line error";
                return false;
            }
            if (whole && line == ".") break;
            if (!written) continue;
            chunk += line;
            if (whole) chunk += "\r\n";
            if (chunk.size() >= 64 * 1024) {
                written = fs::WriteAll(fd.get(), chunk, file.path());
                chunk.clear();
            }
        }
        if (!written || !fs::WriteAll(fd.get(), chunk, file.path()) || !fs::Sync(fd.get(), file.path()) ||
            !fs::Close(fd, file.path())) {
            error = "-ERR write file " + file.path() + " failed";
            return false;
        }
    }
    services_.ScanForViruses(file.path());

    const std::string recipient =
        account.find('@') != std::string_view::npos ? std::string(account) : std::string(account) + "@" + settings_.Domain;
    if (!services_.Deliver("POP3Remote", recipient, box.Server, file.path(), &local_id)) {
        error = "-ERR deliver to " + recipient + " failed";
        return false;
    }
    for (const std::string& copy : settings_.CopyTo) {
        if (!copy.empty()) services_.Deliver("MailCopy", copy, recipient, file.path(), nullptr);
    }
    return true;
}

}  // namespace quorvex::remotepop3
