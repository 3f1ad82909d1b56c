// The record of an unfinished conversion, kept with the file itself while
// it is converted, so that a run that dies midway (killed, out of memory)
// leaves what the next run needs to finish it, or to undo it, exactly.
//
// Before every write the record says that bytes [0, converted) are
// converted and which write comes next. For each page of the file from a
// little before converted to the end of that write, it holds eight bytes
// of the page as written (the first four and the last four). A killed
// process leaves its write done up to a page boundary, as the kernel copies
// it page by page in file order, so the pages that read as their samples
// are the part done; a cut inside a page reads as neither, and is not
// guessed at. The pages before converted must read as written: a file
// that was put back as it was meanwhile does not.
// The samples are bytes that the finished file holds anyway; the record
// holds no byte of the file as it was before.
#ifndef LUMTAR_RECORD_H
#define LUMTAR_RECORD_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumtar {

struct Record {
    bool text_mode = false;
    std::uint32_t key_check = 0;  // key_check() of the key
    std::int64_t limit = -1;      // the -l value; -1: to the end of the file
    std::uint64_t boot = 0;       // the system's boot that wrote it
    std::int64_t converted = 0;   // bytes [0, converted) are converted
    std::int64_t window_start = 0;  // where the samples begin, at most converted
    std::uint32_t window = 0;     // their length: to the end of the write that comes next
    std::string samples;          // eight bytes a page
};

// The unit in which a write of a killed process ends, at file offsets
// that are its multiples.
constexpr std::size_t kRecordPage = 4096;
constexpr std::size_t kSampleSize = 8;

// A check of the key that tells one key from another, one time in four
// billion by chance; it is not the key and no part of the keystream.
std::uint32_t key_check(std::string_view key);

std::string encode(const Record &record);
// Nothing when the bytes are no record that this version wrote whole.
std::optional<Record> decode(std::string_view bytes);

// The samples of the n bytes at offset, as they are to be written.
std::string take_samples(const unsigned char *data, std::size_t n, std::int64_t offset);

// How far the write that the record announces went, from the bytes of its
// window as they are now (fewer where the file now ends sooner) and the
// keystream over them. Nothing when that cannot be told for certain, or
// when the file no longer reads as the record says it was left.
std::optional<std::int64_t> converted_end(const Record &record, std::string_view window_now,
                                          std::string_view keystream);

}  // namespace lumtar

#endif
