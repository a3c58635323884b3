// The POP3 job entry.
#include "servers/pop3/Pop3Server.h"

#include "common/ServerSettings.h"
#include "servers/pop3/Pop3Receipts.h"
#include "servers/pop3/Pop3ServerServices.h"

namespace quorvex::pop3 {

Pop3Server::Pop3Server(JobTable& jobs, NoticeSink* notices)
    : jobs_(jobs),
      notices_(notices),
      log_([notices] { return Pop3LogConfigFrom(*Settings(), notices); }) {}

void Pop3Server::InstallHandler() {
    jobs_.SetHandler(JOB_POP3, [this](Job& job) { RunConnection(job); });
}

void Pop3Server::RunConnection(Job& job) {
    const std::shared_ptr<const CServerSettings> settings = Settings();
    Pop3ServerHooks hooks;
    hooks.log = &log_;
    hooks.notices = notices_;
    hooks.queue_collection = [this](std::string_view account) {
        JobRequest request;
        request.kind = JOB_REMOTE_POP3;
        request.account = std::string(account);
        // With every slot running a job (this session's among them) the
        // enqueue would wait for a slot that sessions like this one hold:
        // answer at once that the collection is not queued instead.
        if (jobs_.ActiveJobCount() >= kJobSlotCount) return -1;
        return jobs_.EnqueueJob(request);
    };
    hooks.mark_receipt = [settings](std::string_view account, const std::string& path, std::uint8_t key) {
        MarkReceiptRead(*settings, account, path, key);
    };
    Pop3ServerServices services(settings, std::move(hooks));

    Pop3ConnectionOptions options = base_options_;
    options.proxy = OutgoingProxy(*settings);
    if (!options.idle_limit) options.idle_limit = job.idle_limit;
    options.activity = job.activity;
    RunPop3Connection(job.socket.get(), ConnectionClient(job.client.HostText(), job.from_web_mail), services,
                      SessionSettingsFrom(*settings), options);
}

}  // namespace quorvex::pop3
