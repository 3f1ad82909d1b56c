// The record of an unfinished conversion: what it keeps, and how exactly it
// tells the pages of its window apart.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "record.h"
#include "support/temp_dir.h"

namespace {

using lumtar::Page;
using lumtar::Record;
using testing_support::random_bytes;

const unsigned char *bytes(const std::string &s)
{
    return reinterpret_cast<const unsigned char *>(s.data());
}

std::string xor_of(std::string a, const std::string &b)
{
    for (std::size_t i = 0; i < a.size(); ++i)
        a[i] = static_cast<char>(a[i] ^ b[i]);
    return a;
}

// The record of a file converted up to converted, with the checks of
// written, which lies at offset.
Record announcing(const std::string &written, std::int64_t offset, std::int64_t converted)
{
    return {true, lumtar::key_check("k"), 123456789012, converted, offset, static_cast<std::uint32_t>(written.size()),
            lumtar::take_checks(bytes(written), written.size(), offset)};
}

// CRC-32C a bit at a time, as it is defined.
std::uint32_t crc_model(const std::string &data)
{
    std::uint32_t crc = ~0u;
    for (unsigned char c : data)
        for (int bit = 0; bit < 8; ++bit, c >>= 1)
            crc = (crc >> 1) ^ ((crc ^ c) & 1 ? 0x82F63B78u : 0);
    return ~crc;
}

// Blocks of every length up to a few words, one to five of them, on every
// kernel, and nothing written past them.
TEST(RecordTest, ChecksAreCrc32cOnEveryKernel)
{
    EXPECT_EQ(lumtar::key_check("123456789"), 0xE3069283u);  // CRC-32C's check value
    std::vector<lumtar::CrcKernel> kernels = {lumtar::crc32c_blocks_portable, lumtar::crc32c_blocks};
#if defined(__x86_64__)
    if (__builtin_cpu_supports("sse4.2"))
        kernels.push_back(lumtar::crc32c_blocks_sse42);
#endif
    std::mt19937 rng(5);
    for (int trial = 0; trial < 300; ++trial) {
        const std::size_t n = rng() % 40, count = 1 + rng() % 5;
        const std::string data = random_bytes(n * count, rng());
        for (auto kernel : kernels) {
            std::vector<std::uint32_t> crcs(count + 1, 7);
            kernel(bytes(data), n, count, crcs.data());
            for (std::size_t block = 0; block < count; ++block)
                EXPECT_EQ(crcs[block], crc_model(data.substr(block * n, n))) << n << " " << count << " " << block;
            EXPECT_EQ(crcs[count], 7u);
        }
    }
}

TEST(RecordTest, KeepsEveryFieldAndRefusesAnyDamage)
{
    const Record record = announcing(random_bytes(9000, 3), 3 * 4096 - 5, 3 * 4096 + 7);
    const std::string encoded = lumtar::encode(record);
    EXPECT_EQ(encoded.substr(0, 5), std::string("LMTR\x02", 5));  // the record moves with the file: version 2
    std::optional<Record> back = lumtar::decode(encoded);
    ASSERT_TRUE(back);
    EXPECT_EQ(std::tie(back->text_mode, back->key_check, back->limit, back->converted, back->window_start,
                       back->window, back->checks),
              std::tie(record.text_mode, record.key_check, record.limit, record.converted, record.window_start,
                       record.window, record.checks));
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        std::string damaged = encoded;
        damaged[i] = static_cast<char>(damaged[i] ^ 0x10);
        EXPECT_FALSE(lumtar::decode(damaged)) << "byte " << i;
        EXPECT_FALSE(lumtar::decode(encoded.substr(0, i))) << "cut at " << i;
    }
    // Whole, but of another version.
    std::string other_version = encoded.substr(0, encoded.size() - 4);
    other_version[4] = 1;
    for (int i = 0, crc = static_cast<int>(crc_model(other_version)); i < 4; ++i)
        other_version += static_cast<char>(crc >> (8 * i));
    EXPECT_FALSE(lumtar::decode(other_version));
    // Whole, but not what this version writes: checks that do not fit the
    // window, a converted part that ends outside it, a window before the
    // file begins.
    using Change = void (*)(Record &);
    for (Change unfit : {Change([](Record &r) { r.checks.pop_back(); }),
                         Change([](Record &r) { r.converted = r.window_start - 1; }),
                         Change([](Record &r) { r.converted = r.window_start + r.window + 1; }),
                         Change([](Record &r) { r.window_start = r.converted = -4096; })}) {
        Record damaged = record;
        unfit(damaged);
        EXPECT_FALSE(lumtar::decode(lumtar::encode(damaged)));
    }
}

// Every mix of converted, unconverted and torn pages (torn: converted up
// to a disk sector inside), in windows that begin and end on and off page
// boundaries, with each page boundary as the end of the part known to be
// converted: each page is told as it is, unless one before that end is
// not converted, which no run leaves.
TEST(RecordTest, TellsEveryPageOfTheWindowAsItIs)
{
    const std::tuple<std::int64_t, std::size_t> windows[] = {
        {0, 3 * 4096}, {4096 - 3, 4096 + 10}, {8190, 5}, {5 * 4096, 2 * 4096 + 1}, {1 << 20, 1}};
    for (auto [offset, length] : windows) {
        const std::string before = random_bytes(length, 5), keystream = random_bytes(length, 6);
        const std::string after = xor_of(before, keystream);
        std::vector<std::pair<std::size_t, std::size_t>> spans;  // each page's place in the window
        for (std::size_t at = 0; at < length; at = spans.back().second)
            spans.emplace_back(at, std::min(length, at + 4096 - (offset + at) % 4096));
        for (int mix = 0; mix < 27; ++mix) {
            std::string now;
            std::vector<Page::State> states;
            for (std::size_t i = 0, code = mix; i < spans.size(); ++i, code /= 3) {
                const auto [from, to] = spans[i];
                const auto state = static_cast<Page::State>(code % 3);
                const std::size_t torn = to - from > 512 ? from + 512 : to;
                states.push_back(state == Page::torn && torn == to ? Page::converted : state);
                now += (state == Page::unconverted ? before : after).substr(from, torn - from) +
                       (state == Page::converted ? after : before).substr(torn, to - torn);
            }
            for (std::size_t known = 0; known < spans.size(); ++known) {
                const Record record = announcing(after, offset, offset + static_cast<std::int64_t>(spans[known].first));
                std::optional<std::vector<Page>> want(std::vector<Page>{});
                for (std::size_t i = 0; i < spans.size(); ++i) {
                    want->push_back({states[i], offset + static_cast<std::int64_t>(spans[i].first),
                                     spans[i].second - spans[i].first});
                    want = i < known && states[i] != Page::converted ? std::nullopt : want;
                    if (!want)
                        break;
                }
                auto got = lumtar::window_pages(record, now, keystream);
                ASSERT_EQ(got.has_value(), want.has_value()) << offset << " " << mix << " " << known;
                for (std::size_t i = 0; got && i < got->size(); ++i)
                    EXPECT_EQ(std::tie((*got)[i].state, (*got)[i].offset, (*got)[i].length),
                              std::tie((*want)[i].state, (*want)[i].offset, (*want)[i].length)) << i;
                EXPECT_EQ(got ? got->size() : 0, want ? want->size() : 0);
            }
        }
        // A file now shorter than the window cannot tell.
        EXPECT_FALSE(lumtar::window_pages(announcing(after, offset, offset), after.substr(0, length - 1), keystream));
    }
    // A page whose check the keystream leaves as it was reads both ways,
    // and is never guessed at.
    const std::string page = random_bytes(4096, 7), zero(4096, '\0');
    EXPECT_FALSE(lumtar::window_pages(announcing(page, 0, 0), page, zero));
}

}  // namespace
