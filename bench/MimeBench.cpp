// Throughput of the MIME library: loading a 10 MB message with attachments
// and a batch of small messages into entity trees, the stored-message
// parser on the same large file, and base64 and quoted-printable decoding.
// The part-count and header-line series report their complexity, which
// must come out linear.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "mailmodel/mime/MimeMessageParser.h"
#include "mailmodel/mime/Rfc822Message.h"
#include "mailmodel/mime/TransferCoder.h"

namespace {

using namespace quorvex::mime;

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(n, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

std::string Text(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    static const char kWords[][8] = {"mail ", "server ", "caf\xE9 ", "line\r\n", "= ", "quorum "};
    std::string text;
    while (text.size() < n) text += kWords[random() % 6];
    return text;
}

// A message of a text part, an HTML part and attachments, about `size` bytes.
std::string BuildMessage(std::size_t size, int attachments) {
    CRfc822Message message;
    message.SetFrom("Ann <ann@example.com>");
    message.SetTo("bob@example.com");
    message.SetSubject("benchmark");
    message.SetVersion();
    message.SetBoundary(nullptr);
    CMimeEntity* text = message.CreatePart();
    text->SetContentType("text/plain; charset=\"iso-8859-1\"");
    text->SetTransferEncoding("quoted-printable");
    text->SetText(Text(size / 20, 1));
    CMimeEntity* html = message.CreatePart();
    html->SetContentType("text/html");
    html->SetTransferEncoding("base64");
    html->SetText("<p>" + Text(size / 20, 2) + "</p>");
    for (int i = 0; i < attachments; ++i) {
        CMimeEntity* part = message.CreatePart();
        part->SetTransferEncoding("base64");
        part->SetContentType("application/octet-stream");
        part->SetName("file" + std::to_string(i) + ".bin");
        part->SetDisposition("attachment; filename=\"file" + std::to_string(i) + ".bin\"");
        part->SetText(RandomBytes(size * 6 / 10 / static_cast<std::size_t>(attachments), 10 + i));
    }
    return message.StoreToString();
}

void BM_LoadLargeMessage(benchmark::State& state) {
    const std::string message = BuildMessage(10 << 20, 4);
    for (auto _ : state) {
        CRfc822Message loaded;
        benchmark::DoNotOptimize(loaded.Load(message.data(), message.size()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
}
BENCHMARK(BM_LoadLargeMessage)->Unit(benchmark::kMillisecond);

void BM_LoadSmallMessages(benchmark::State& state) {
    std::vector<std::string> batch;
    std::size_t bytes = 0;
    for (int i = 0; i < 1000; ++i) {
        batch.push_back(BuildMessage(4096, 1));
        bytes += batch.back().size();
    }
    for (auto _ : state)
        for (const std::string& message : batch) {
            CRfc822Message loaded;
            benchmark::DoNotOptimize(loaded.Load(message.data(), message.size()));
        }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["messages/s"] = benchmark::Counter(static_cast<double>(state.iterations() * batch.size()),
                                                      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoadSmallMessages)->Unit(benchmark::kMillisecond);

void BM_ParseLargeMessageFile(benchmark::State& state) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "quorvex-mime-bench";
    std::filesystem::create_directories(folder);
    const std::string message = BuildMessage(10 << 20, 4);
    {
        std::ofstream out(folder / "mail.eml", std::ios::binary);
        out << message;
    }
    for (auto _ : state) {
        MimeMessageParser parser;
        benchmark::DoNotOptimize(parser.ParseFile(folder.string(), "mail.eml"));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_ParseLargeMessageFile)->Unit(benchmark::kMillisecond);

void Decode(benchmark::State& state, const char* encoding, const std::string& plain) {
    const std::string encoded = TransferEncode(encoding, plain);
    auto coder = CreateTransferCoder(encoding);
    std::string out(encoded.size(), '\0');
    for (auto _ : state) {
        coder->SetInput(encoded.data(), encoded.size(), false);
        benchmark::DoNotOptimize(coder->Convert(out.data(), out.size()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * encoded.size()));
}

void BM_Base64Decode(benchmark::State& state) { Decode(state, "base64", RandomBytes(10 << 20, 3)); }
BENCHMARK(BM_Base64Decode)->Unit(benchmark::kMillisecond);

void BM_QuotedPrintableDecode(benchmark::State& state) { Decode(state, "quoted-printable", Text(10 << 20, 4)); }
BENCHMARK(BM_QuotedPrintableDecode)->Unit(benchmark::kMillisecond);

void BM_LoadManyParts(benchmark::State& state) {
    std::string message = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    for (std::int64_t i = 0; i < state.range(0); ++i) message += "--b\r\nContent-Type: text/plain\r\n\r\npart\r\n";
    message += "--b--\r\n";
    for (auto _ : state) {
        CRfc822Message loaded;
        benchmark::DoNotOptimize(loaded.Load(message.data(), message.size()));
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_LoadManyParts)->RangeMultiplier(4)->Range(256, 8192)->Complexity()->Unit(benchmark::kMicrosecond);

void BM_LoadManyHeaderLines(benchmark::State& state) {
    std::string message;
    for (std::int64_t i = 0; i < state.range(0); ++i) message += "X-Trace-" + std::to_string(i) + ": value\r\n";
    message += "\r\nbody\r\n";
    for (auto _ : state) {
        CRfc822Message loaded;
        benchmark::DoNotOptimize(loaded.Load(message.data(), message.size()));
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_LoadManyHeaderLines)->RangeMultiplier(4)->Range(256, 8192)->Complexity()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
