#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "cipher.h"
#include "keystream.h"
#include "support/cipher_model.h"

namespace {

using testing_support::CipherModel;
using testing_support::model_convert;

std::string random_bytes(std::mt19937 &rng, std::size_t n)
{
    std::string s(n, '\0');
    for (auto &c : s)
        c = static_cast<char>(rng());
    return s;
}

// A key never holds a zero byte: it comes from a command-line argument.
std::string random_key(std::mt19937 &rng, std::size_t n)
{
    std::string key(n, 'k');
    for (auto &c : key)
        c = static_cast<char>(1 + rng() % 255);
    return key;
}

// A block is text when no byte is a control character other than tab, line
// feed and carriage return.
bool model_is_text(const std::string &block)
{
    for (unsigned char c : block)
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
            return false;
    return true;
}

// The file through cipher_block, block by block, as the tool feeds it.
std::string tool_convert(const std::string &key, std::string data, std::int64_t limit = -1,
                         int text_mode = 0, int *result = nullptr)
{
    lumtar::key_text = key.c_str();
    std::size_t done = 0;
    do {
        int length = static_cast<int>(std::min<std::size_t>(2048, data.size() - done));
        int r = lumtar::cipher_block("f", done == 0, text_mode, reinterpret_cast<unsigned char *>(&data[done]),
                                     length, static_cast<std::int64_t>(done), limit);
        if (result != nullptr && done == 0)
            *result = r;
        done += static_cast<std::size_t>(length);
    } while (done < data.size());
    return data;
}

TEST(CipherModelTest, GeneratorSeededWithOneGivesTheKnownDraws)
{
    CipherModel model("\x01");
    std::vector<int> draws;
    for (int i = 0; i < 5; ++i)
        draws.push_back(model.draw());
    EXPECT_EQ(draws, (std::vector<int>{346, 130, 10982, 1090, 11656}));
}

TEST(CipherTest, KeyOfOneByteOneGivesTheKnownKeystream)
{
    // Seed 1; the running key is the single byte 1, bumped at every use.
    std::string zeros(5, '\0');
    std::string out = tool_convert("\x01", zeros);
    const int draws[] = {346, 130, 10982, 1090, 11656};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(static_cast<unsigned char>(out[i]), ((draws[i] & 0xFF) ^ (1 + i)) & 0xFF) << i;
}

TEST(CipherTest, RunningKeyRestartsAtEveryBlock)
{
    // With a 3-byte key the first block ends at key position 2; the second
    // block starts over at key_buf[0], which the first block used 683 times.
    std::string key = "abc";
    std::string zeros(4096, '\0');
    std::string out = tool_convert(key, zeros);
    CipherModel generator(key);
    int r = 0;
    for (int i = 0; i <= 2048; ++i)
        r = generator.draw();
    unsigned char expected = static_cast<unsigned char>((r & 0xFF) ^ static_cast<unsigned char>('a' + 683));
    EXPECT_EQ(static_cast<unsigned char>(out[2048]), expected);
}

TEST(CipherTest, EmptyKeyRunsOnItsTerminator)
{
    // Seed 0 and a single running byte that counts the bytes converted.
    std::string zeros(5000, '\0');
    std::string out = tool_convert("", zeros);
    CipherModel generator("");
    for (std::size_t p = 0; p < out.size(); ++p) {
        int r = generator.draw();
        ASSERT_EQ(static_cast<unsigned char>(out[p]), static_cast<unsigned char>((r & 0xFF) ^ (p & 0xFF))) << p;
    }
}

TEST(CipherTest, KeyByteWrapsPastFF)
{
    std::string out = tool_convert("\xff", std::string(3, '\0'));
    CipherModel generator("\xff");
    const unsigned char key_bytes[] = {0xFF, 0x00, 0x01};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(static_cast<unsigned char>(out[i]), static_cast<unsigned char>((generator.draw() & 0xFF) ^ key_bytes[i]));
}

// The fast path against the model over the key lengths, sizes and limits
// where a closed form is most likely to slip.
TEST(CipherTest, MatchesTheModelForKeysSizesAndLimits)
{
    std::mt19937 rng(2026);
    const std::size_t key_lengths[] = {0, 1, 3, 4, 127, 128, 300, 2047, 2048, 2049};
    const std::size_t sizes[] = {0, 1, 2047, 2048, 2049, 4095, 4096, 6143, 20000, 256 * 2048 + 7};
    for (std::size_t key_length : key_lengths) {
        std::string key = random_key(rng, key_length);
        for (std::size_t size : sizes) {
            std::string data = random_bytes(rng, size);
            std::int64_t limits[] = {-1, 1, 2047, 2048, 2049, static_cast<std::int64_t>(1 + rng() % (size + 1)),
                                     static_cast<std::int64_t>(size + 1000)};
            for (std::int64_t limit : limits) {
                std::string expected = model_convert(key, data, limit);
                int result = -2;
                ASSERT_EQ(tool_convert(key, data, limit, 0, &result), expected)
                    << "key length " << key_length << ", size " << size << ", limit " << limit;
                ASSERT_EQ(result, 0) << "binary mode never refuses a block";
                // Text mode transforms the same and fails exactly when the
                // first block keeps its class.
                testing::internal::CaptureStderr();
                std::string text_mode_output = tool_convert(key, data, limit, 1, &result);
                testing::internal::GetCapturedStderr();
                ASSERT_EQ(text_mode_output, expected);
                bool kept = model_is_text(data.substr(0, 2048)) == model_is_text(expected.substr(0, 2048));
                ASSERT_EQ(result, kept ? -1 : 0) << "key length " << key_length << ", size " << size;
            }
        }
    }
}

// Ranges that start anywhere, as parallel or resumed work would ask for
// them, give the keystream of their position.
TEST(KeystreamTest, RandomAccessMatchesTheModel)
{
    std::mt19937 rng(11);
    std::string key = random_key(rng, 5);
    const std::size_t size = 600 * 2048 + 123;
    std::string zeros(size, '\0');
    std::string expected = model_convert(key, zeros);
    lumtar::Keystream keystream(key);
    for (int trial = 0; trial < 200; ++trial) {
        std::size_t pos = rng() % size;
        std::size_t n = std::min<std::size_t>(rng() % 5000, size - pos);
        std::string got(n, '\0');
        keystream.apply(reinterpret_cast<unsigned char *>(got.data()), n, pos);
        ASSERT_EQ(got, expected.substr(pos, n)) << "at " << pos << ", " << n << " bytes";
    }
}

TEST(KeystreamTest, GeneratorJumpEqualsStepping)
{
    std::uint32_t x = 12345;
    for (std::uint64_t n = 0; n < 5000; ++n) {
        ASSERT_EQ(lumtar::generator_jump(12345, n), x) << n;
        x = x * 22695477u + 1u;
    }
    // The generator has period 2^32: the keystream repeats with it.
    EXPECT_EQ(lumtar::generator_jump(99, std::uint64_t{1} << 32), 99u);
}

#if defined(__x86_64__)
TEST(KeystreamTest, KernelsAgreeBitForBit)
{
    if (!__builtin_cpu_supports("avx2"))
        GTEST_SKIP() << "no AVX2 on this processor";
    std::mt19937 rng(3);
    auto bytes = [](std::string &s) { return reinterpret_cast<unsigned char *>(s.data()); };
    for (int trial = 0; trial < 1000; ++trial) {
        std::size_t offset = rng() % lumtar::kBlockSize;
        std::size_t n = rng() % (lumtar::kBlockSize - offset + 1);
        std::string key = random_bytes(rng, n), data = random_bytes(rng, n), growth = random_bytes(rng, n);
        std::string portable = data, avx2 = data, portable_key = key, avx2_key = key;
        std::uint32_t state = rng();
        // Half the calls also move the running key on.
        const unsigned char *grow = trial % 2 ? bytes(growth) : nullptr;
        lumtar::xor_keystream_portable(bytes(portable), bytes(portable_key), grow, offset, n, state);
        lumtar::xor_keystream_avx2(bytes(avx2), bytes(avx2_key), grow, offset, n, state);
        ASSERT_EQ(portable, avx2) << "offset " << offset << ", " << n << " bytes";
        ASSERT_EQ(portable_key, avx2_key) << "offset " << offset << ", " << n << " bytes";
    }
}
#endif

struct TextCase {
    std::string bytes;
    bool text;
};

TEST(TextTest, ClassifiesBlocks)
{
    const TextCase cases[] = {
        {"", true},          {"plain\r\n\ttext", true}, {"\x7f\x80\xff", true}, {" ", true},
        {"a\x1f", false},    {std::string("\0", 1), false}, {"\x0b", false}, {"\x1b[0m", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(lumtar::is_text(reinterpret_cast<const unsigned char *>(c.bytes.data()), c.bytes.size()), c.text)
            << testing::PrintToString(c.bytes);
}

TEST(TextTest, MismatchIsReportedAndTheBlockStillTransformed)
{
    // An empty file is text before and after: a mismatch.
    testing::internal::CaptureStderr();
    int result = 0;
    tool_convert("key", "", -1, 1, &result);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\"f\": not a text file or mistaken keycode.\n");

    // Text that turns binary passes.
    testing::internal::CaptureStderr();
    std::string text(3000, 'a');
    std::string out = tool_convert("key", text, -1, 1, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(out, model_convert("key", text));
}

}  // namespace
