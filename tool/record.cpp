#include "record.h"

#include <algorithm>
#include <array>

namespace lumtar {
namespace {

constexpr char kMagic[] = "LMTR";
constexpr unsigned char kVersion = 2;
constexpr std::size_t kHeaderSize = 40, kCheckSize = 4;

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

CrcKernel best_crc_kernel()
{
#if defined(__x86_64__)
    if (__builtin_cpu_supports("sse4.2"))
        return crc32c_blocks_sse42;
#endif
    return crc32c_blocks_portable;
}

std::uint32_t crc_of(std::string_view bytes)
{
    std::uint32_t crc;
    crc32c_blocks(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), 1, &crc);
    return crc;
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

}  // namespace

void crc32c_blocks_portable(const unsigned char *data, std::size_t n, std::size_t count, std::uint32_t *crcs)
{
    static constexpr auto kTable = crc32c_table();
    for (std::size_t block = 0; block < count; ++block, data += n) {
        std::uint32_t crc = ~0u;
        for (std::size_t i = 0; i < n; ++i)
            crc = (crc >> 8) ^ kTable[(crc ^ data[i]) & 0xff];
        crcs[block] = ~crc;
    }
}

#if defined(__x86_64__)
// The instruction takes a new word every cycle but gives its result three
// cycles later: three blocks side by side keep it busy.
template <std::size_t streams>
[[gnu::target("sse4.2")]] void crc32c_side_by_side(const unsigned char *data, std::size_t n, std::uint32_t *crcs)
{
    std::uint64_t crc[streams];
    std::fill(crc, crc + streams, 0xFFFFFFFFu);
    std::size_t i = 0;
    for (std::uint64_t word; i + 8 <= n; i += 8)
        for (std::size_t s = 0; s < streams; ++s) {
            __builtin_memcpy(&word, data + s * n + i, 8);
            crc[s] = __builtin_ia32_crc32di(crc[s], word);
        }
    for (std::size_t s = 0; s < streams; ++s) {
        auto c = static_cast<std::uint32_t>(crc[s]);
        for (std::size_t j = i; j < n; ++j)
            c = __builtin_ia32_crc32qi(c, data[s * n + j]);
        crcs[s] = ~c;
    }
}

[[gnu::target("sse4.2")]] void crc32c_blocks_sse42(const unsigned char *data, std::size_t n, std::size_t count,
                                                   std::uint32_t *crcs)
{
    for (; count >= 3; count -= 3, data += 3 * n, crcs += 3)
        crc32c_side_by_side<3>(data, n, crcs);
    for (; count > 0; --count, data += n, ++crcs)
        crc32c_side_by_side<1>(data, n, crcs);
}
#endif

void crc32c_blocks(const unsigned char *data, std::size_t n, std::size_t count, std::uint32_t *crcs)
{
    static const CrcKernel kernel = best_crc_kernel();
    kernel(data, n, count, crcs);
}

std::uint32_t key_check(std::string_view key)
{
    return crc_of(key);
}

std::string encode(const Record &record)
{
    std::string out(kMagic, 4);
    put(out, kVersion, 1);
    put(out, record.text_mode, 1);
    put(out, 0, 2);
    put(out, record.key_check, 4);
    put(out, static_cast<std::uint64_t>(record.limit), 8);
    put(out, static_cast<std::uint64_t>(record.converted), 8);
    put(out, static_cast<std::uint64_t>(record.window_start), 8);
    put(out, record.window, 4);
    out += record.checks;
    put(out, crc_of(out), kCheckSize);
    return out;
}

std::optional<Record> decode(std::string_view bytes)
{
    if (bytes.size() < kHeaderSize + kCheckSize || bytes.compare(0, 4, kMagic) != 0 || bytes[4] != kVersion)
        return std::nullopt;
    std::size_t body = bytes.size() - kCheckSize;
    if (get(bytes, body, kCheckSize) != crc_of(bytes.substr(0, body)))
        return std::nullopt;
    Record record;
    record.text_mode = bytes[5] != 0;
    record.key_check = static_cast<std::uint32_t>(get(bytes, 8, 4));
    record.limit = static_cast<std::int64_t>(get(bytes, 12, 8));
    record.converted = static_cast<std::int64_t>(get(bytes, 20, 8));
    record.window_start = static_cast<std::int64_t>(get(bytes, 28, 8));
    record.window = static_cast<std::uint32_t>(get(bytes, 36, 4));
    record.checks = bytes.substr(kHeaderSize, body - kHeaderSize);
    if (record.window_start < 0 || record.converted < record.window_start ||
        record.converted - record.window_start > record.window)
        return std::nullopt;
    std::size_t pages = 0;
    for_each_page(record.window_start, record.window, [&](std::size_t, std::size_t) { ++pages; });
    if (record.checks.size() != pages * kCheckSize)
        return std::nullopt;
    return record;
}

// The whole pages between the first piece and the last, side by side.
std::string take_checks(const unsigned char *data, std::size_t n, std::int64_t offset)
{
    const std::size_t first = std::min(n, (kRecordPage - static_cast<std::size_t>(offset) % kRecordPage) % kRecordPage);
    const std::size_t pages = (n - first) / kRecordPage, last = (n - first) % kRecordPage;
    std::vector<std::uint32_t> crcs(pages + 2);
    crc32c_blocks(data, first, first > 0, &crcs[0]);
    crc32c_blocks(data + first, kRecordPage, pages, &crcs[1]);
    crc32c_blocks(data + first + pages * kRecordPage, last, last > 0, &crcs[pages + 1]);
    std::string checks;
    for (std::size_t i = first > 0 ? 0 : 1; i < pages + 1 + (last > 0); ++i)
        put(checks, crcs[i], kCheckSize);
    return checks;
}

// A page reads as converted when its check matches, as it was when the
// check matches once the keystream is taken off, and as torn when neither
// does. Should both match, the keystream left the check as it was, and the
// page could be either. A page before the converted part that does not read
// as converted was changed since.
std::optional<std::vector<Page>> window_pages(const Record &record, std::string_view window_now,
                                              std::string_view keystream)
{
    if (window_now.size() < record.window)
        return std::nullopt;
    std::vector<Page> pages;
    bool certain = true;
    std::string before;
    for_each_page(record.window_start, record.window, [&](std::size_t start, std::size_t length) {
        const std::string_view now = window_now.substr(start, length);
        before.assign(now);
        for (std::size_t i = 0; i < length; ++i)
            before[i] = static_cast<char>(before[i] ^ keystream[start + i]);
        const auto check = static_cast<std::uint32_t>(get(record.checks, pages.size() * kCheckSize, kCheckSize));
        const bool converted = crc_of(now) == check, unconverted = crc_of(before) == check;
        const std::int64_t offset = record.window_start + static_cast<std::int64_t>(start);
        certain = certain && !(converted && unconverted) && (converted || offset >= record.converted);
        pages.push_back({converted ? Page::converted : unconverted ? Page::unconverted : Page::torn, offset, length});
    });
    return certain ? std::optional<std::vector<Page>>(std::move(pages)) : std::nullopt;
}

}  // namespace lumtar
