#include "convert.h"

#include <signal.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cipher.h"
#include "file_io.h"
#include "keystream.h"
#include "lumlib/messages.h"

namespace lumtar {
namespace {

// Large transfers keep system calls rare; a multiple of the block size, so
// that every block but a file's last is whole within one chunk.
constexpr std::size_t kChunkSize = 1 << 20;
static_assert(kChunkSize % kBlockSize == 0);

volatile sig_atomic_t caught_signal = 0;

void note_signal(int signal_number)
{
    caught_signal = signal_number;
}

// err_edit knows no 64-bit conversion: counts go in as text.
std::string count_text(std::int64_t count)
{
    return std::to_string(count);
}

Outcome report_io_error(const char *name, int error, std::int64_t converted)
{
    lumlib::errmsg("\"%s\": I/O error (%s); the first %s bytes are converted.\n", name, std::strerror(error),
                   count_text(converted).c_str());
    return Outcome::failed;
}

Outcome report_interruption(const char *name, std::int64_t converted)
{
    if (converted == 0)
        lumlib::errmsg("\"%s\": interrupted; the file is unchanged.\n", name);
    else
        lumlib::errmsg("\"%s\": interrupted; the first %s bytes are converted (-l %s converts them back).\n",
                       name, count_text(converted).c_str(), count_text(converted).c_str());
    return Outcome::interrupted;
}

// How much to read at offset: a chunk, but nothing past the limit except
// the first block, which text mode looks at whole.
std::size_t read_size(std::int64_t offset, std::int64_t limit)
{
    if (limit == -1)
        return kChunkSize;
    std::int64_t wanted = std::max<std::int64_t>(limit - offset, offset == 0 ? kBlockSize : 0);
    return static_cast<std::size_t>(std::min<std::int64_t>(wanted, kChunkSize));
}

// Runs the cipher over a chunk block by block; false on a text mismatch.
bool cipher_chunk(const char *name, unsigned char *chunk, std::size_t n, std::int64_t offset,
                  const Options &options)
{
    std::size_t at = 0;
    do {
        int length = static_cast<int>(std::min(kBlockSize, n - at));
        if (cipher_block(name, offset == 0 && at == 0, options.text_mode, chunk + at, length,
                         offset + static_cast<std::int64_t>(at), options.limit) != 0)
            return false;
        at += static_cast<std::size_t>(length);
    } while (at < n);
    return true;
}

Outcome convert_open_file(InPlaceFile &file, const char *name, const Options &options)
{
    std::vector<unsigned char> chunk(kChunkSize);
    std::int64_t offset = 0;
    std::int64_t converted_end = 0;
    for (;;) {
        std::size_t wanted = read_size(offset, options.limit);
        Transfer got = file.read_at(chunk.data(), wanted, static_cast<std::uint64_t>(offset));
        if (got.error != 0)
            return report_io_error(name, got.error, offset);
        if (!cipher_chunk(name, chunk.data(), got.count, offset, options))
            return Outcome::failed;
        // Bytes past the limit are unchanged: they need no writing.
        std::size_t converted = options.limit == -1
            ? got.count
            : static_cast<std::size_t>(std::clamp<std::int64_t>(options.limit - offset, 0,
                                                                static_cast<std::int64_t>(got.count)));
        Transfer put = file.write_at(chunk.data(), converted, static_cast<std::uint64_t>(offset));
        if (put.error != 0)
            return report_io_error(name, put.error, offset + static_cast<std::int64_t>(put.count));
        converted_end = offset + static_cast<std::int64_t>(converted);
        offset += static_cast<std::int64_t>(got.count);
        if (got.count < wanted || (options.limit != -1 && offset >= options.limit))
            break;
        if (caught_signal != 0)
            return report_interruption(name, converted_end);
    }
    if (int error = file.close(); error != 0)
        return report_io_error(name, error, converted_end);
    return Outcome::done;
}

}  // namespace

void catch_interruptions()
{
    struct sigaction action {};
    action.sa_handler = note_signal;
    sigemptyset(&action.sa_mask);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal_number, &action, nullptr);
    // Past a file-size limit, writing fails with an error the tool reports
    // with its exact count, instead of the process being killed mid-chunk.
    signal(SIGXFSZ, SIG_IGN);
}

int interruption()
{
    return caught_signal;
}

Outcome convert_file(const char *name, const Options &options)
{
    if (caught_signal != 0)
        return report_interruption(name, 0);
    InPlaceFile file;
    switch (file.open(name)) {
    case OpenResult::opened:
        return convert_open_file(file, name, options);
    case OpenResult::not_regular:
        lumlib::errmsg("\"%s\": not a regular file.\n", name);
        break;
    case OpenResult::cannot_grant_write:
        lumlib::errmsg("\"%s\": can't change file mode to write.\n", name);
        break;
    case OpenResult::cannot_open:
        lumlib::errmsg("can't open \"%s\" to write.\n", name);
        break;
    }
    return Outcome::done;
}

}  // namespace lumtar
