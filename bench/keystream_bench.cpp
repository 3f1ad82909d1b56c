#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "keystream.h"
#include "support/cipher_model.h"

namespace {

constexpr std::size_t kBufferSize = 1 << 20;
const std::string kKey = "benchmark key";

void BM_Reference(benchmark::State &state)
{
    std::vector<unsigned char> buf(kBufferSize);
    for (auto _ : state) {
        testing_support::CipherModel model(kKey);
        for (std::size_t at = 0; at < buf.size(); at += lumtar::kBlockSize)
            model.block(buf.data() + at, lumtar::kBlockSize, static_cast<std::int64_t>(at), -1);
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBufferSize);
}

// A whole buffer through the keystream, with the given kernel for each block.
void run_kernel(benchmark::State &state, lumtar::KeystreamKernel kernel)
{
    std::vector<unsigned char> buf(kBufferSize), key(lumtar::kBlockSize, 0x5A);
    for (auto _ : state) {
        for (std::size_t at = 0; at < buf.size(); at += lumtar::kBlockSize)
            kernel(buf.data() + at, key.data(), 0, lumtar::kBlockSize, static_cast<std::uint32_t>(at));
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBufferSize);
}

void BM_KernelPortable(benchmark::State &state)
{
    run_kernel(state, lumtar::xor_keystream_portable);
}

#if defined(__x86_64__)
void BM_KernelAvx2(benchmark::State &state)
{
    if (!__builtin_cpu_supports("avx2")) {
        state.SkipWithError("no AVX2 on this processor");
        return;
    }
    run_kernel(state, lumtar::xor_keystream_avx2);
}
BENCHMARK(BM_KernelAvx2);
#endif

// What the tool does per chunk: the kernel plus the running key's update.
void BM_KeystreamApply(benchmark::State &state)
{
    std::vector<unsigned char> buf(kBufferSize);
    lumtar::Keystream keystream(kKey);
    std::uint64_t pos = 0;
    for (auto _ : state) {
        keystream.apply(buf.data(), buf.size(), pos);
        pos += buf.size();
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBufferSize);
}

BENCHMARK(BM_Reference);
BENCHMARK(BM_KernelPortable);
BENCHMARK(BM_KeystreamApply);

}  // namespace

BENCHMARK_MAIN();
