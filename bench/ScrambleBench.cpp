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

void ByteByByte(char* data, std::size_t size, std::uint8_t key) {
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>(data[i] ^ static_cast<char>(key));
}

void BM_ByteLoop(benchmark::State& state) {
    std::vector<char> data(static_cast<std::size_t>(state.range(0)), 'x');
    for (auto _ : state) {
        ByteByByte(data.data(), data.size(), kKey);
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_ScrambleInPlace(benchmark::State& state) {
    std::vector<char> data(static_cast<std::size_t>(state.range(0)), 'x');
    for (auto _ : state) {
        ScrambleBytes(data.data(), data.size(), kKey);
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_ScrambleCopy(benchmark::State& state) {
    const std::vector<char> from(static_cast<std::size_t>(state.range(0)), 'x');
    std::vector<char> to(from.size());
    for (auto _ : state) {
        ScrambleBytes(from.data(), to.data(), from.size(), kKey);
        benchmark::DoNotOptimize(to.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_ByteLoop)->Arg(78)->Arg(4096)->Arg(256 * 1024);
BENCHMARK(BM_ScrambleInPlace)->Arg(78)->Arg(4096)->Arg(256 * 1024);
BENCHMARK(BM_ScrambleCopy)->Arg(78)->Arg(4096)->Arg(256 * 1024);

}  // namespace
}  // namespace quorvex

BENCHMARK_MAIN();
