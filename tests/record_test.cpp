// The record of an unfinished conversion: what it keeps, and how exactly it
// tells how far a write went.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

#include "record.h"
#include "support/temp_dir.h"

namespace {

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

// A keystream with no zero byte, so that every sample tells its page.
std::string nonzero_keystream(std::size_t n, unsigned seed)
{
    std::string keystream = random_bytes(n, seed);
    for (char &c : keystream)
        c = c == '\0' ? '\x5a' : c;
    return keystream;
}

// The record of a file converted up to converted, with the samples of
// written, which lies at offset.
Record announcing(const std::string &written, std::int64_t offset, std::int64_t converted = -1)
{
    Record record{true, lumtar::key_check("k"), 123456789012, 0x0123456789abcdefu,
                  converted < 0 ? offset : converted, offset, static_cast<std::uint32_t>(written.size()), ""};
    record.samples = lumtar::take_samples(bytes(written), written.size(), offset);
    return record;
}

TEST(RecordTest, KeepsEveryFieldAndRefusesAnyDamage)
{
    EXPECT_EQ(lumtar::key_check("123456789"), 0xE3069283u);  // CRC-32C's check value
    const Record record = announcing(random_bytes(9000, 3), 3 * 4096 - 5, 3 * 4096 + 7);
    const std::string encoded = lumtar::encode(record);
    std::optional<Record> back = lumtar::decode(encoded);
    ASSERT_TRUE(back);
    EXPECT_EQ(std::tie(back->text_mode, back->key_check, back->limit, back->boot, back->converted,
                       back->window_start, back->window, back->samples),
              std::tie(record.text_mode, record.key_check, record.limit, record.boot, record.converted,
                       record.window_start, record.window, record.samples));
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        std::string damaged = encoded;
        damaged[i] = static_cast<char>(damaged[i] ^ 0x10);
        EXPECT_FALSE(lumtar::decode(damaged)) << "byte " << i;
        EXPECT_FALSE(lumtar::decode(encoded.substr(0, i))) << "cut at " << i;
    }
    // Whole, but not what this version writes: samples that do not fit the
    // window, a converted part that ends outside it, a window before the
    // file begins.
    using Change = void (*)(Record &);
    for (Change unfit : {Change([](Record &r) { r.samples.pop_back(); }),
                         Change([](Record &r) { r.converted = r.window_start - 1; }),
                         Change([](Record &r) { r.converted = r.window_start + r.window + 1; }),
                         Change([](Record &r) { r.window_start = r.converted = -4096; })}) {
        Record damaged = record;
        unfit(damaged);
        EXPECT_FALSE(lumtar::decode(lumtar::encode(damaged)));
    }
}

// Every cut of a write, at every byte, in windows that begin and end on and
// off page boundaries, some shorter than the eight samples, and with part
// of the window known converted: a cut on a page boundary past that part
// is told exactly, and no other cut is told at all.
TEST(RecordTest, TellsAWriteCutAtAPageBoundaryAndNoOtherCut)
{
    const std::tuple<std::int64_t, std::size_t, std::size_t> windows[] = {
        {0, 3 * 4096, 0}, {4096 - 3, 4096 + 10, 0}, {8190, 5, 0}, {5 * 4096 + 7, 2 * 4096 + 1, 4089},
        {1 << 20, 1, 0}, {1 << 20, 4096 + 1, 4096}};
    for (auto [offset, length, behind] : windows) {
        const std::string before = random_bytes(length, 5), keystream = nonzero_keystream(length, 6);
        const std::string after = xor_of(before, keystream);
        const Record record = announcing(after, offset, offset + static_cast<std::int64_t>(behind));
        for (std::size_t cut = 0; cut <= length; ++cut) {
            std::string now = after.substr(0, cut) + before.substr(cut);
            bool told = cut >= behind &&
                        (cut == 0 || cut == length || (offset + static_cast<std::int64_t>(cut)) % 4096 == 0);
            EXPECT_EQ(lumtar::converted_end(record, now, keystream),
                      told ? std::optional<std::int64_t>(offset + static_cast<std::int64_t>(cut)) : std::nullopt)
                << offset << "+" << cut;
        }
        // A file now shorter than the window cannot tell.
        EXPECT_FALSE(lumtar::converted_end(record, after.substr(0, length - 1), keystream));
    }
}

// Three whole pages in each order of done and untouched: only done pages
// that come first are a write cut short. A page whose samples the
// keystream leaves as they were looks both ways, and is never guessed.
TEST(RecordTest, TellsOnlyDonePagesThatComeFirst)
{
    const std::size_t kPage = lumtar::kRecordPage;
    const std::string before = random_bytes(3 * kPage, 7), keystream = nonzero_keystream(3 * kPage, 8);
    const std::string after = xor_of(before, keystream);
    const Record record = announcing(after, 4096);
    for (int done = 0; done < 8; ++done) {
        std::string now;
        for (std::size_t page = 0; page < 3; ++page)
            now += (done >> page & 1 ? after : before).substr(page * kPage, kPage);
        bool first = done == 0 || done == 1 || done == 3 || done == 7;
        int pages = (done & 1) + (done >> 1 & 1) + (done >> 2 & 1);
        EXPECT_EQ(lumtar::converted_end(record, now, keystream),
                  first ? std::optional<std::int64_t>(4096 + pages * static_cast<std::int64_t>(kPage))
                        : std::nullopt)
            << done;
    }
    std::string blind = keystream;
    for (std::size_t at : {0, 1, 2, 3})
        blind[kPage + at] = blind[2 * kPage - 1 - at] = '\0';
    const Record blind_record = announcing(xor_of(before, blind), 4096);
    EXPECT_FALSE(lumtar::converted_end(blind_record, before, blind));
    blind[kPage + 2] = '\1';
    EXPECT_EQ(lumtar::converted_end(announcing(xor_of(before, blind), 4096), before, blind), 4096);
}

}  // namespace
