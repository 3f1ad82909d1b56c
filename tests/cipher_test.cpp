// The cipher and its fast keystream against the independent model.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "cipher.h"
#include "keystream.h"
#include "support/cipher_model.h"
#include "support/temp_dir.h"

namespace {

using testing_support::model_convert;
using testing_support::random_bytes;

const std::string kNotText = "\"f\": not a text file or mistaken keycode.\n";

unsigned char *bytes(std::string &s) { return reinterpret_cast<unsigned char *>(s.data()); }

// The file through cipher_block, block by block, as the tool feeds it: the
// file, the first block's result and the messages written meanwhile.
using Outcome = std::tuple<std::string, int, std::string>;

Outcome tool_convert(const std::string &key, std::string data, std::int64_t limit, int text_mode)
{
    lumtar::key_text = key.c_str();
    testing::internal::CaptureStderr();
    int result = 0;
    for (std::size_t done = 0; done == 0 || done < data.size(); done += 2048) {
        const auto length = static_cast<int>(std::min<std::size_t>(2048, data.size() - done));
        const int r = lumtar::cipher_block("f", done == 0, text_mode, bytes(data) + done, length,
                                           static_cast<std::int64_t>(done), limit);
        result = done == 0 ? r : result;
    }
    return {data, result, testing::internal::GetCapturedStderr()};
}

bool model_is_text(const std::string &block)
{
    return std::all_of(block.begin(), block.end(),
                       [](unsigned char c) { return c >= 0x20 || c == '\t' || c == '\n' || c == '\r'; });
}

// The format, as written down: the generator's draws, and the running
// key's bytes where it restarts, wraps, or is the terminator of an empty
// key. Seeded with 1, the draws are 346, 130, 10982, 1090 and 11656: the
// key "\x01" turns the fifth of five zero bytes into (11656 & 0xFF) ^ 5.
TEST(CipherModelTest, GivesTheFormatsKnownKeystream)
{
    const std::tuple<std::string, std::uint32_t, std::size_t, int> cases[] = {
        {"\x01", 1, 4, 5}, {"abc", 0x616263, 2048, 'a' + 683}, {"", 0, 4999, 4999}, {"\xff", 0xFF, 1, 0},
        {"wxyz!", 0x7778797A, 2052, '!' + 409}};
    for (const auto &[key, seed, pos, key_byte] : cases) {
        std::uint32_t state = seed;
        for (std::size_t i = 0; i <= pos; ++i)
            state = state * 22695477u + 1u;
        EXPECT_EQ(static_cast<unsigned char>(model_convert(key, std::string(pos + 1, '\0'))[pos]),
                  static_cast<int>(((state >> 16) ^ key_byte) & 0xFF)) << testing::PrintToString(key) << " at " << pos;
    }
    EXPECT_EQ(static_cast<unsigned char>(model_convert("\x01", std::string(5, '\0'))[4]), (11656 & 0xFF) ^ 5);
}

// Key lengths, sizes and limits where a closed form is most likely to
// slip; text mode transforms the same and fails exactly when the first
// block keeps its class.
TEST(CipherTest, MatchesTheModelForKeysSizesAndLimits)
{
    std::mt19937 rng(2026);
    for (std::size_t key_length : {0, 1, 3, 4, 127, 128, 300, 2047, 2048, 2049}) {
        std::string key = random_bytes(key_length, rng());
        std::replace(key.begin(), key.end(), '\0', 'k');  // never a zero: the key is an argument
        for (std::size_t size : {0, 1, 2047, 2048, 2049, 4095, 4096, 6143, 20000, 256 * 2048 + 7}) {
            std::string data = random_bytes(size, rng());
            const std::int64_t random_limit = 1 + rng() % (size + 1), past_the_end = size + 1000;
            for (std::int64_t limit : std::vector<std::int64_t>{-1, 1, 2047, 2048, 2049, random_limit, past_the_end}) {
                const std::string want = model_convert(key, data, limit);
                const bool kept = model_is_text(data.substr(0, 2048)) == model_is_text(want.substr(0, 2048));
                for (int text_mode : {0, 1})
                    ASSERT_EQ(tool_convert(key, data, limit, text_mode),
                              Outcome(want, text_mode && kept ? -1 : 0, text_mode && kept ? kNotText : ""))
                        << key_length << " " << size << " " << limit << " " << text_mode;
            }
        }
    }
}

// Ranges that start anywhere, as parallel or resumed work asks for them,
// give the keystream of their position: the generator's jumps to a block
// are checked here against stepping it.
TEST(KeystreamTest, RandomAccessMatchesTheModel)
{
    std::mt19937 rng(11);
    const std::size_t size = 600 * 2048 + 123;
    const std::string expected = model_convert("k3y\xff\x01", std::string(size, '\0'));
    lumtar::Keystream keystream("k3y\xff\x01");
    for (int trial = 0; trial < 200; ++trial) {
        std::size_t pos = rng() % size, n = std::min<std::size_t>(rng() % 5000, size - pos);
        std::string got(n, '\0');
        keystream.apply(bytes(got), n, pos);
        ASSERT_EQ(got, expected.substr(pos, n)) << "at " << pos << ", " << n << " bytes";
    }
}

#if defined(__x86_64__)
TEST(KeystreamTest, KernelsAgreeBitForBit)
{
    if (!__builtin_cpu_supports("avx2"))
        GTEST_SKIP() << "no AVX2 on this processor";
    std::mt19937 rng(3);
    for (int trial = 0; trial < 1000; ++trial) {
        const std::size_t offset = rng() % lumtar::kBlockSize, n = rng() % (lumtar::kBlockSize - offset + 1);
        // Each kernel works on its own copy of the data followed by the running key.
        std::string portable = random_bytes(2 * n, rng()), avx2 = portable, growth = random_bytes(n, rng());
        const std::uint32_t state = rng();
        // Half the calls also move the running key on.
        const unsigned char *grow = trial % 2 ? bytes(growth) : nullptr;
        lumtar::xor_keystream_portable(bytes(portable), bytes(portable) + n, grow, offset, n, state);
        lumtar::xor_keystream_avx2(bytes(avx2), bytes(avx2) + n, grow, offset, n, state);
        ASSERT_EQ(portable, avx2) << "offset " << offset << ", " << n << " bytes";
    }
}
#endif

// Every byte alone, and each before and after a text byte.
TEST(TextTest, ClassifiesEveryByte)
{
    EXPECT_TRUE(lumtar::is_text(nullptr, 0));
    for (int c = 0; c < 256; ++c)
        for (std::string block : {std::string(1, char(c)), "a" + std::string(1, char(c)), char(c) + std::string("a")})
            EXPECT_EQ(lumtar::is_text(bytes(block), block.size()), model_is_text(block)) << c;
}

}  // namespace
