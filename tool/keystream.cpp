#include "keystream.h"

#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace lumtar {
namespace {

constexpr std::uint32_t kMultiplier = 22695477;

// x(n + k) = mul[k] * x(n) + add[k]: the generator's k-step jumps for every
// offset inside a block, so the draws of a block are independent of each
// other and the loop over them vectorises.
struct JumpTable {
    std::uint32_t mul[kBlockSize + 1];
    std::uint32_t add[kBlockSize + 1];
};

constexpr JumpTable make_jump_table()
{
    JumpTable table{};
    table.mul[0] = 1;
    table.add[0] = 0;
    for (std::size_t k = 1; k <= kBlockSize; ++k) {
        table.mul[k] = table.mul[k - 1] * kMultiplier;
        table.add[k] = table.add[k - 1] * kMultiplier + 1;
    }
    return table;
}

constexpr JumpTable kJump = make_jump_table();

std::uint32_t seed_of(std::string_view key)
{
    std::uint32_t seed = 0;
    for (unsigned char c : key.substr(0, 4))
        seed = seed << 8 | c;
    return seed;
}

[[gnu::always_inline]] inline void xor_keystream_loop(unsigned char *data, unsigned char *key,
                                                      const unsigned char *growth, std::size_t offset,
                                                      std::size_t n, std::uint32_t state)
{
    const std::uint32_t *mul = kJump.mul + offset + 1;
    const std::uint32_t *add = kJump.add + offset + 1;
    for (std::size_t i = 0; i < n; ++i)
        data[i] ^= key[i] ^ static_cast<unsigned char>((mul[i] * state + add[i]) >> 16);
    if (growth != nullptr)
        for (std::size_t i = 0; i < n; ++i)
            key[i] = static_cast<unsigned char>(key[i] + growth[i]);
}

KeystreamKernel best_kernel()
{
#if defined(__x86_64__)
    // This runs during static initialisation, possibly before the
    // processor's features have been read.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        return xor_keystream_avx2;
#endif
    return xor_keystream_portable;
}

}  // namespace

void xor_keystream_portable(unsigned char *data, unsigned char *key, const unsigned char *growth,
                            std::size_t offset, std::size_t n, std::uint32_t state)
{
    xor_keystream_loop(data, key, growth, offset, n, state);
}

#if defined(__x86_64__)
namespace {

// Byte shuffles that take bits 16-23 of the four states in each half of a
// stream to bytes 4k..4k+3 of that half, and zero the rest.
struct PickMasks {
    alignas(32) signed char bytes[4][32];
};

constexpr PickMasks make_pick_masks()
{
    PickMasks masks{};
    for (int k = 0; k < 4; ++k)
        for (int b = 0; b < 32; ++b)
            masks.bytes[k][b] = static_cast<signed char>(b % 16 / 4 == k ? 4 * (b % 4) + 2 : -128);
    return masks;
}

constexpr PickMasks kPick = make_pick_masks();

// Table entries p..p+3 in the low half, p+16..p+19 in the high half: the
// positions of one stream.
[[gnu::target("avx2")]] __m256i halves(const std::uint32_t *table, std::size_t p)
{
    return _mm256_set_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i *>(table + p + 16)),
                            _mm_loadu_si128(reinterpret_cast<const __m128i *>(table + p)));
}

}  // namespace

// Eight interleaved generator streams, each stepping 64 draws at a time, so
// that no multiply waits for the one before it and no jump table is read in
// the loop. Stream k < 4 holds, in its low half, positions 4k..4k+3 and in
// its high half positions 16+4k..16+4k+3 of a 32-byte group; streams 4-7
// the same for the second group. One byte shuffle per stream then drops
// bits 16-23 of each state straight into their place in the group.
[[gnu::target("avx2")]] void xor_keystream_avx2(unsigned char *data, unsigned char *key,
                                                const unsigned char *growth, std::size_t offset,
                                                std::size_t n, std::uint32_t state)
{
    constexpr std::size_t kStep = 64;
    std::size_t i = 0;
    if (n >= kStep) {
        const std::uint32_t *mul = kJump.mul + offset + 1;
        const std::uint32_t *add = kJump.add + offset + 1;
        const __m256i start = _mm256_set1_epi32(static_cast<int>(state));
        __m256i x[8], pick[4];
        for (std::size_t k = 0; k < 8; ++k) {
            std::size_t p = 32 * (k / 4) + 4 * (k % 4);
            x[k] = _mm256_add_epi32(_mm256_mullo_epi32(halves(mul, p), start), halves(add, p));
        }
        for (int k = 0; k < 4; ++k)
            pick[k] = _mm256_load_si256(reinterpret_cast<const __m256i *>(kPick.bytes[k]));
        const __m256i step_mul = _mm256_set1_epi32(static_cast<int>(kJump.mul[kStep]));
        const __m256i step_add = _mm256_set1_epi32(static_cast<int>(kJump.add[kStep]));
        for (; i + kStep <= n; i += kStep) {
            for (int g = 0; g < 2; ++g) {
                const __m256i *s = x + 4 * g;
                __m256i bytes = _mm256_or_si256(
                    _mm256_or_si256(_mm256_shuffle_epi8(s[0], pick[0]), _mm256_shuffle_epi8(s[1], pick[1])),
                    _mm256_or_si256(_mm256_shuffle_epi8(s[2], pick[2]), _mm256_shuffle_epi8(s[3], pick[3])));
                auto *d = reinterpret_cast<__m256i *>(data + i + 32 * g);
                auto *kb = reinterpret_cast<__m256i *>(key + i + 32 * g);
                __m256i running = _mm256_loadu_si256(kb);
                _mm256_storeu_si256(d, _mm256_xor_si256(_mm256_loadu_si256(d), _mm256_xor_si256(bytes, running)));
                if (growth != nullptr) {
                    auto *gb = reinterpret_cast<const __m256i *>(growth + i + 32 * g);
                    _mm256_storeu_si256(kb, _mm256_add_epi8(running, _mm256_loadu_si256(gb)));
                }
            }
            for (auto &v : x)
                v = _mm256_add_epi32(_mm256_mullo_epi32(v, step_mul), step_add);
        }
    }
    xor_keystream_loop(data + i, key + i, growth != nullptr ? growth + i : nullptr, offset + i, n - i, state);
}
#endif

const KeystreamKernel xor_keystream = best_kernel();

std::uint32_t generator_jump(std::uint32_t state, std::uint64_t n)
{
    // Square the one-step map x -> m*x + a until n is used up.
    std::uint32_t m = kMultiplier, a = 1;
    for (; n != 0; n >>= 1) {
        if (n & 1)
            state = state * m + a;
        a = a * m + a;
        m = m * m;
    }
    return state;
}

Keystream::Keystream(std::string_view key)
    : seed_(seed_of(key))
{
    // An empty key runs on its copied terminator: one running byte.
    if (key.empty())
        key = std::string_view("", 1);
    std::size_t len = key.size();
    for (std::size_t i = 0; i < kBlockSize; ++i) {
        std::size_t j = i % len;
        base_[i] = static_cast<unsigned char>(static_cast<unsigned char>(key[j]) + i / len);
        growth_[i] = static_cast<unsigned char>((kBlockSize - 1 - j) / len + 1);
    }
    running_ = base_;
    state_ = seed_;
}

void Keystream::go_to_block(std::uint64_t block)
{
    // Only block mod 256 matters to bytes that grow by a fixed step.
    auto times = static_cast<unsigned char>(block);
    for (std::size_t i = 0; i < kBlockSize; ++i)
        running_[i] = static_cast<unsigned char>(base_[i] + times * growth_[i]);
    state_ = generator_jump(seed_, block * kBlockSize);
    block_ = block;
}

void Keystream::apply(unsigned char *data, std::size_t n, std::uint64_t pos)
{
    while (n > 0) {
        std::uint64_t block = pos / kBlockSize;
        std::size_t offset = pos % kBlockSize;
        std::size_t len = std::min(n, kBlockSize - offset);
        if (block != block_)
            go_to_block(block);
        // A whole block moves the key state on to the next one in the same
        // pass, as a file is read; a part of one leaves it where it is.
        bool whole = len == kBlockSize;
        xor_keystream(data, running_.data() + offset, whole ? growth_.data() : nullptr, offset, len, state_);
        if (whole) {
            state_ = state_ * kJump.mul[kBlockSize] + kJump.add[kBlockSize];
            ++block_;
        }
        data += len;
        pos += len;
        n -= len;
    }
}

}  // namespace lumtar
