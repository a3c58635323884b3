// Unscrambling a stored message body: ScrambleBytes in place and as a
// copy, beside a plain byte-by-byte loop for comparison, over buffers from
// one line to one body read.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "common/ByteScramble.h"

namespace quorvex {
namespace {

constexpr std::uint8_t kKey = 0x73;

using Variant = void (*)(const char* from, char* to, std::size_t size);

void ByteLoop(const char*, char* to, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) to[i] = static_cast<char>(to[i] ^ static_cast<char>(kKey));
}
void InPlace(const char*, char* to, std::size_t size) { ScrambleBytes(to, size, kKey); }
void Copy(const char* from, char* to, std::size_t size) { ScrambleBytes(from, to, size, kKey); }

void BM_Unscramble(benchmark::State& state, Variant variant) {
    const std::vector<char> from(static_cast<std::size_t>(state.range(0)), 'x');
    std::vector<char> to(from);
    for (auto _ : state) {
        variant(from.data(), to.data(), to.size());
        benchmark::DoNotOptimize(to.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK_CAPTURE(BM_Unscramble, byte_loop, &ByteLoop)->Arg(78)->Arg(4096)->Arg(256 * 1024);
BENCHMARK_CAPTURE(BM_Unscramble, in_place, &InPlace)->Arg(78)->Arg(4096)->Arg(256 * 1024);
BENCHMARK_CAPTURE(BM_Unscramble, copy, &Copy)->Arg(78)->Arg(4096)->Arg(256 * 1024);

}  // namespace
}  // namespace quorvex

BENCHMARK_MAIN();
