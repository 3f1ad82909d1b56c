#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "keystream.h"
#include "support/cipher_model.h"

namespace {

constexpr std::size_t kBufferSize = 1 << 20;

// Page-aligned, as the tool's chunk buffers are.
struct Buffer {
    std::vector<unsigned char> bytes = std::vector<unsigned char>(kBufferSize + 4096);
    unsigned char *data()
    {
        auto at = reinterpret_cast<std::uintptr_t>(bytes.data());
        return bytes.data() + (4096 - at % 4096) % 4096;
    }
};
const std::string kKey = "benchmark key";

void BM_Reference(benchmark::State &state)
{
    Buffer buf;
    for (auto _ : state) {
        testing_support::CipherModel model(kKey);
        model.apply(buf.data(), kBufferSize);
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBufferSize);
}

// A whole buffer through the keystream, with the given kernel for each block.
void run_kernel(benchmark::State &state, lumtar::KeystreamKernel kernel)
{
    Buffer buf;
    alignas(64) unsigned char key[lumtar::kBlockSize] = {0x5A};
    for (auto _ : state) {
        for (std::size_t at = 0; at < kBufferSize; at += lumtar::kBlockSize)
            kernel(buf.data() + at, key, nullptr, 0, lumtar::kBlockSize, static_cast<std::uint32_t>(at));
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
    Buffer buf;
    lumtar::Keystream keystream(kKey);
    std::uint64_t pos = 0;
    for (auto _ : state) {
        keystream.apply(buf.data(), kBufferSize, pos);
        pos += kBufferSize;
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBufferSize);
}

BENCHMARK(BM_Reference);
BENCHMARK(BM_KernelPortable);
BENCHMARK(BM_KeystreamApply);

}  // namespace

BENCHMARK_MAIN();
