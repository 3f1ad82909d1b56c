// The record of an unfinished conversion, kept with the file itself while
// it is converted, so that a run that dies midway (killed, out of memory,
// or with the machine) leaves what the next run needs to finish it
// exactly.
//
// Bytes [0, converted) are converted and on the disk for certain. The
// window, from a little before converted to the end of the write that
// comes next, holds a CRC-32C of each page of it as converted. The file is
// synced after each record is saved and before the next write begins, so
// that only the pages of the window can be on the disk in any mix of old
// and new: the last write, which that sync made safe, and the next. Each
// page then reads as converted, as it was, or, if the disk tore it inside,
// as neither; that is never guessed at. The pages before converted must
// read as converted: a file that was put back as it was meanwhile does not.
// The checks are of bytes that the finished file holds anyway; the record
// holds nothing of the file as it was before.
#ifndef LUMTAR_RECORD_H
#define LUMTAR_RECORD_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumtar {

struct Record {
    bool text_mode = false;
    std::uint32_t key_check = 0;  // key_check() of the key
    std::int64_t limit = -1;      // the -l value; -1: to the end of the file
    std::int64_t converted = 0;   // bytes [0, converted) are converted
    std::int64_t window_start = 0;  // where the checks begin, at most converted
    std::uint32_t window = 0;     // their length: to the end of the write that comes next
    std::string checks;           // four bytes a page
};

// The unit that the checks tell apart: the page, in which a killed
// process's write ends and in which the system writes a file back to its
// disk. Pages begin at file offsets that are its multiples.
constexpr std::size_t kRecordPage = 4096;

// A check of the key that tells one key from another, one time in four
// billion by chance; it is not the key and no part of the keystream.
std::uint32_t key_check(std::string_view key);

std::string encode(const Record &record);
// Nothing when the bytes are no record that this version wrote whole.
std::optional<Record> decode(std::string_view bytes);

// The CRC-32C of each of count blocks of n bytes that follow one another
// at data: a byte at a time, and on x86-64 with the processor's
// instruction, three blocks side by side; crc32c_blocks picks the best that
// the processor runs.
using CrcKernel = void (*)(const unsigned char *data, std::size_t n, std::size_t count, std::uint32_t *crcs);
void crc32c_blocks_portable(const unsigned char *data, std::size_t n, std::size_t count, std::uint32_t *crcs);
#if defined(__x86_64__)
void crc32c_blocks_sse42(const unsigned char *data, std::size_t n, std::size_t count, std::uint32_t *crcs);
#endif
void crc32c_blocks(const unsigned char *data, std::size_t n, std::size_t count, std::uint32_t *crcs);

// The checks of the n bytes at offset, as they are to be written.
std::string take_checks(const unsigned char *data, std::size_t n, std::int64_t offset);

struct Page {
    enum State { converted, unconverted, torn } state;
    std::int64_t offset;
    std::size_t length;
};

// The pages of the record's window as they read now, from the bytes of the
// window (fewer where the file now ends sooner) and the keystream over
// them. Nothing when that cannot be told, or when the file no longer reads
// as the record says it was left.
std::optional<std::vector<Page>> window_pages(const Record &record, std::string_view window_now,
                                              std::string_view keystream);

}  // namespace lumtar

#endif
