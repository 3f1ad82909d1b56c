#include "record.h"

#include <algorithm>
#include <array>

namespace lumtar {
namespace {

constexpr char kMagic[] = "LMTR";
constexpr unsigned char kVersion = 1;
constexpr std::size_t kHeaderSize = 48, kCheckSize = 4;

constexpr std::array<std::uint32_t, 256> crc32c_table()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c >> 1) ^ (c & 1 ? 0x82F63B78u : 0);
        table[i] = c;
    }
    return table;
}

// CRC-32C: the key and the record are short, so a byte at a time will do.
std::uint32_t crc32c(std::string_view bytes)
{
    static constexpr auto kTable = crc32c_table();
    std::uint32_t crc = ~0u;
    for (unsigned char c : bytes)
        crc = (crc >> 8) ^ kTable[(crc ^ c) & 0xff];
    return ~crc;
}

// Little-endian, whatever the machine, so that a record moves with its file.
void put(std::string &out, std::uint64_t value, int size)
{
    for (int i = 0; i < size; ++i)
        out += static_cast<char>(value >> (8 * i) & 0xff);
}

std::uint64_t get(std::string_view in, std::size_t at, int size)
{
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)]);
    return value;
}

// Calls f(start, length) for the pieces of [offset, offset + n) that the
// file's page boundaries make, in file order.
template <class F>
void for_each_page(std::int64_t offset, std::size_t n, F f)
{
    std::size_t done = 0;
    while (done < n) {
        std::size_t into_page = static_cast<std::size_t>(offset + static_cast<std::int64_t>(done)) % kRecordPage;
        std::size_t length = std::min(n - done, kRecordPage - into_page);
        f(done, length);
        done += length;
    }
}

// Where sample i of a piece of the given length lies: the first four
// bytes, then the last four, repeated in a piece shorter than eight.
std::size_t sample_at(std::size_t i, std::size_t length)
{
    return i < 4 ? std::min(i, length - 1) : length - std::min(kSampleSize - i, length);
}

}  // namespace

std::uint32_t key_check(std::string_view key)
{
    return crc32c(key);
}

std::string encode(const Record &record)
{
    std::string out(kMagic, 4);
    put(out, kVersion, 1);
    put(out, record.text_mode, 1);
    put(out, 0, 2);
    put(out, record.key_check, 4);
    put(out, static_cast<std::uint64_t>(record.limit), 8);
    put(out, record.boot, 8);
    put(out, static_cast<std::uint64_t>(record.converted), 8);
    put(out, static_cast<std::uint64_t>(record.window_start), 8);
    put(out, record.window, 4);
    out += record.samples;
    put(out, crc32c(out), kCheckSize);
    return out;
}

std::optional<Record> decode(std::string_view bytes)
{
    if (bytes.size() < kHeaderSize + kCheckSize || bytes.compare(0, 4, kMagic) != 0 || bytes[4] != kVersion)
        return std::nullopt;
    std::size_t body = bytes.size() - kCheckSize;
    if (get(bytes, body, kCheckSize) != crc32c(bytes.substr(0, body)))
        return std::nullopt;
    Record record;
    record.text_mode = bytes[5] != 0;
    record.key_check = static_cast<std::uint32_t>(get(bytes, 8, 4));
    record.limit = static_cast<std::int64_t>(get(bytes, 12, 8));
    record.boot = get(bytes, 20, 8);
    record.converted = static_cast<std::int64_t>(get(bytes, 28, 8));
    record.window_start = static_cast<std::int64_t>(get(bytes, 36, 8));
    record.window = static_cast<std::uint32_t>(get(bytes, 44, 4));
    record.samples = bytes.substr(kHeaderSize, body - kHeaderSize);
    if (record.window_start < 0 || record.converted < record.window_start ||
        record.converted - record.window_start > record.window)
        return std::nullopt;
    std::size_t pieces = 0;
    for_each_page(record.window_start, record.window, [&](std::size_t, std::size_t) { ++pieces; });
    if (record.samples.size() != pieces * kSampleSize)
        return std::nullopt;
    return record;
}

std::string take_samples(const unsigned char *data, std::size_t n, std::int64_t offset)
{
    std::string samples;
    for_each_page(offset, n, [&](std::size_t start, std::size_t length) {
        for (std::size_t i = 0; i < kSampleSize; ++i)
            samples += static_cast<char>(data[start + sample_at(i, length)]);
    });
    return samples;
}

// A page is done when every sample reads as written, and untouched when
// every one reads as it was before; where the keystream is zero at all
// eight, the two look alike. The done pages must come first, and reach at
// least as far as the part known to be converted.
std::optional<std::int64_t> converted_end(const Record &record, std::string_view window_now,
                                          std::string_view keystream)
{
    std::int64_t end = record.window_start;
    bool certain = window_now.size() >= record.window, untouched_seen = false;
    const char *sample = record.samples.data();
    for_each_page(record.window_start, record.window, [&](std::size_t start, std::size_t length) {
        bool done = true, untouched = true;
        for (std::size_t i = 0; certain && i < kSampleSize; ++i, ++sample) {
            std::size_t at = start + sample_at(i, length);
            done = done && window_now[at] == *sample;
            untouched = untouched && window_now[at] == static_cast<char>(*sample ^ keystream[at]);
        }
        certain = certain && done != untouched && !(done && untouched_seen);
        untouched_seen = untouched_seen || untouched;
        if (done)
            end += static_cast<std::int64_t>(length);
    });
    return certain && end >= record.converted ? std::optional<std::int64_t>(end) : std::nullopt;
}

}  // namespace lumtar
