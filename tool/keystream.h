// The keystream of the enciphered-file format.
//
// Byte p of a file (p counted from 0) is XORed with
//     low byte of draw p + 1 of the generator  ^  running-key byte at p.
// The generator is x' = x * 22695477 + 1 (mod 2^32), seeded from the first
// four key bytes; a draw is bits 16-30 of the new state. The running key is
// a copy of the key (with its terminating zero) whose position restarts at
// every 2048-byte block of the file and whose bytes go up by one each time
// they are used. Both parts have closed forms in p, so any range of a file
// is computed without stepping through what comes before it.
#ifndef LUMTAR_KEYSTREAM_H
#define LUMTAR_KEYSTREAM_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace lumtar {

constexpr std::size_t kBlockSize = 2048;

class Keystream {
public:
    explicit Keystream(std::string_view key);

    // XORs the keystream of file positions [pos, pos + n) into data. Fastest
    // when called for consecutive ranges, as a file is read.
    void apply(unsigned char *data, std::size_t n, std::uint64_t pos);

private:
    void go_to_block(std::uint64_t block);

    // The running key at block 0, and what every block adds to it: each
    // key byte is used the same number of times in every full block.
    std::array<unsigned char, kBlockSize> base_{};
    std::array<unsigned char, kBlockSize> growth_{};
    // The running key and generator state at the start of block_.
    alignas(64) std::array<unsigned char, kBlockSize> running_{};
    std::uint64_t block_ = 0;
    std::uint32_t state_ = 0;
    std::uint32_t seed_ = 0;
};

// The generator state after n draws from the given state.
std::uint32_t generator_jump(std::uint32_t state, std::uint64_t n);

// data[i] ^= key[i] ^ low byte of (draw offset + i + 1 from state), for
// i < n, where state is the generator at the start of a block and
// offset + n <= kBlockSize. Unless growth is null, key[i] += growth[i]
// afterwards, which moves a whole block's running key on to the next
// block's. The portable kernel, and on x86-64 one for AVX2; xor_keystream
// picks the best that the processor runs.
using KeystreamKernel = void (*)(unsigned char *data, unsigned char *key, const unsigned char *growth,
                                 std::size_t offset, std::size_t n, std::uint32_t state);
void xor_keystream_portable(unsigned char *data, unsigned char *key, const unsigned char *growth,
                            std::size_t offset, std::size_t n, std::uint32_t state);
#if defined(__x86_64__)
void xor_keystream_avx2(unsigned char *data, unsigned char *key, const unsigned char *growth,
                        std::size_t offset, std::size_t n, std::uint32_t state);
#endif
extern const KeystreamKernel xor_keystream;

}  // namespace lumtar

#endif
