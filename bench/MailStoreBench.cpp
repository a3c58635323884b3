// Mailbox store throughput: storing one message, loading the index for a
// listing and committing one deletion, each against mailboxes of 0 to
// 10,000 messages, on the disk of the temporary folder. Every store and
// commit is durable (body fsync, index rewrite with fsync and rename).
#include <benchmark/benchmark.h>

#include <fstream>

#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "mailmodel/account/AccountList.h"
#include "mailmodel/store/MailStore.h"
#include "support/TempFolder.h"

namespace quorvex {
namespace {

class BenchMailbox {
public:
    explicit BenchMailbox(int messages) {
        SetProgramFolder(home_.path());
        folder_ = JoinPath(home_.path(), "mail", "bench");
        MakeFolders(folder_);
        Accounts().Load();
        message_ = JoinPath(home_.path(), "message.eml");
        std::ofstream(message_, std::ios::binary) << "Subject: bench\r\n\r\n" << std::string(4096, 'x') << "\r\n";
        MailboxIndexFile index;
        for (int i = 0; i < messages; ++i) {
            MailboxRecord r;
            r.Slot = r.Position = i;
            r.FileNumber = i + 1;
            r.Uid = static_cast<std::uint32_t>(i + 1);
            r.Size = 4114;
            index.slots.push_back(r);
        }
        index.header.SetRecordCount(messages);
        index.header.SetLastUid(messages);
        index.header.SetLastFileNumber(messages);
        index.header.SetMessageCount(0, messages);
        index.header.SetTotalBytes(0, messages * 4114);
        prefilled_ = index.Encode();
        Reset();
    }
    void Reset() { AtomicWriteFile(JoinPath(folder_, "mailinfo.dat"), prefilled_); }
    const std::string& message() const { return message_; }

private:
    testing::TempFolder home_;
    std::string folder_;
    std::string message_;
    std::string prefilled_;
};

void BM_StoreMessage(benchmark::State& state) {
    BenchMailbox mailbox(static_cast<int>(state.range(0)));
    int stored = 0;
    for (auto _ : state) {
        if (!AddMessageToMailbox("bench", mailbox.message(), nullptr, 0, true, false)) state.SkipWithError("store failed");
        if (++stored % 64 == 0) {
            state.PauseTiming();
            mailbox.Reset();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_LoadIndex(benchmark::State& state) {
    BenchMailbox mailbox(static_cast<int>(state.range(0)));
    MailboxSnapshot snapshot;
    for (auto _ : state) {
        if (!LoadMailboxIndexLocked("bench", snapshot)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(snapshot.Records.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_CommitOneDeletion(benchmark::State& state) {
    BenchMailbox mailbox(static_cast<int>(state.range(0)));
    MailboxSnapshot snapshot;
    for (auto _ : state) {
        state.PauseTiming();
        mailbox.Reset();
        LoadMailboxIndexLocked("bench", snapshot);
        snapshot.Records.front().Changes = kChangeDelete;
        state.ResumeTiming();
        if (!ApplyMailboxChanges("bench", snapshot)) state.SkipWithError("commit failed");
    }
}

BENCHMARK(BM_StoreMessage)->Arg(0)->Arg(1000)->Arg(5000)->Arg(9990)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_LoadIndex)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CommitOneDeletion)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace quorvex

BENCHMARK_MAIN();
