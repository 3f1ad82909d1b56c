#include "convert.h"

#include <sched.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "cipher.h"
#include "file_io.h"
#include "keystream.h"
#include "lumlib/messages.h"

namespace lumtar {
namespace {

// Large transfers keep system calls rare; a multiple of the block size, so
// that every block but a file's last is whole within one chunk.
constexpr std::size_t kChunkSize = std::size_t{1} << 20;
static_assert(kChunkSize % kBlockSize == 0);
constexpr std::size_t kPageSize = 4096;

// The kernel copies into and out of a page-aligned buffer far faster than
// into an unaligned one.
struct PageAlignedDelete {
    void operator()(unsigned char *p) const { ::operator delete[](p, std::align_val_t{kPageSize}); }
};
using ChunkBuffer = std::unique_ptr<unsigned char[], PageAlignedDelete>;

// Set by the signal handler, read by every worker: a lock-free atomic is
// both safe in a handler and visible across threads.
std::atomic<int> caught_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

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
    // "-l 0" is no valid undo: say plainly that nothing changed.
    if (converted == 0)
        lumlib::errmsg("\"%s\": interrupted; the file is unchanged.\n", name);
    else
        lumlib::errmsg("\"%s\": interrupted; the first %s bytes are converted (-l %s converts them back).\n",
                       name, count_text(converted).c_str(), count_text(converted).c_str());
    return Outcome::interrupted;
}

// Writes go one at a time, in file order: two workers keep a read and a
// transform under way beside the write in progress.
constexpr int kMaxWorkers = 2;

// The cores this process may run on (taskset and container limits count).
int usable_cores()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    return std::max(1, CPU_COUNT(&set));
}

// How much to read at offset: a chunk, but nothing past the limit except
// the first block, which text mode looks at whole. 0: nothing left to do.
std::size_t read_size(std::int64_t offset, std::int64_t limit)
{
    if (limit == -1)
        return kChunkSize;
    std::int64_t wanted = std::max<std::int64_t>(limit - offset, offset == 0 ? kBlockSize : 0);
    return static_cast<std::size_t>(std::min<std::int64_t>(wanted, kChunkSize));
}

// One file converted by a few workers. Each takes the next chunk, reads and
// transforms it, then waits for its turn to write: chunks are read and
// transformed side by side but written strictly in file order, so the
// converted part of the file is always a prefix whose end is known exactly.
// Whatever stops the work (an error, a text mismatch, a signal) lets the
// write in progress finish and no other begin.
class Conversion {
public:
    Conversion(InPlaceFile &file, const Options &options) : file_(file), options_(options) {}

    Outcome run(const char *name);

private:
    void work();
    bool take_chunk(std::int64_t &offset, std::size_t &wanted);
    bool wait_for_turn(std::int64_t offset);
    void stop_with(int error, bool mismatch);
    void finish_write(std::int64_t offset, std::size_t wanted, std::size_t read, Transfer put);

    InPlaceFile &file_;
    const Options &options_;
    std::mutex mutex_;
    std::condition_variable turn_changed_;
    std::int64_t next_offset_ = 0;   // the next chunk to hand out
    std::int64_t write_turn_ = 0;    // the chunk whose write comes next
    std::int64_t converted_end_ = 0; // bytes [0, converted_end_) are converted on disk
    bool no_more_chunks_ = false;
    bool stopped_ = false;
    bool mismatch_ = false;
    int error_ = 0;
};

bool Conversion::take_chunk(std::int64_t &offset, std::size_t &wanted)
{
    std::lock_guard lock(mutex_);
    if (stopped_ || no_more_chunks_)
        return false;
    offset = next_offset_;
    wanted = read_size(offset, options_.limit);
    if (wanted == 0) {
        no_more_chunks_ = true;
        return false;
    }
    next_offset_ += static_cast<std::int64_t>(wanted);
    return true;
}

bool Conversion::wait_for_turn(std::int64_t offset)
{
    std::unique_lock lock(mutex_);
    turn_changed_.wait(lock, [&] { return stopped_ || write_turn_ == offset; });
    return !stopped_;
}

void Conversion::stop_with(int error, bool mismatch)
{
    std::lock_guard lock(mutex_);
    if (!stopped_) {
        error_ = error;
        mismatch_ = mismatch;
        stopped_ = true;
    }
    turn_changed_.notify_all();
}

void Conversion::finish_write(std::int64_t offset, std::size_t wanted, std::size_t read, Transfer put)
{
    std::lock_guard lock(mutex_);
    // A chunk handed out past the end of the file writes nothing and must
    // not move the end of the converted part.
    if (put.count > 0)
        converted_end_ = offset + static_cast<std::int64_t>(put.count);
    write_turn_ = offset + static_cast<std::int64_t>(wanted);
    // A short read is the end of the file.
    if (read < wanted)
        no_more_chunks_ = true;
    if (put.error != 0 && !stopped_) {
        error_ = put.error;
        stopped_ = true;
    }
    if (caught_signal != 0)
        stopped_ = true;
    turn_changed_.notify_all();
}

void Conversion::work()
{
    Keystream keystream(key_text);
    ChunkBuffer buffer(new (std::align_val_t{kPageSize}) unsigned char[kChunkSize]);
    unsigned char *chunk = buffer.get();
    std::int64_t offset;
    std::size_t wanted;
    while (take_chunk(offset, wanted)) {
        Transfer got = file_.read_at(chunk, wanted, static_cast<std::uint64_t>(offset));
        bool text_ok = got.error != 0 ||
            transform(keystream, offset == 0 && options_.text_mode, chunk, got.count, offset, options_.limit);
        if (!wait_for_turn(offset))
            return;
        if (got.error != 0 || !text_ok) {
            stop_with(got.error, !text_ok);
            return;
        }
        // Bytes past the limit are unchanged: they need no writing.
        std::size_t converted = convertible_length(got.count, offset, options_.limit);
        finish_write(offset, wanted, got.count,
                     file_.write_at(chunk, converted, static_cast<std::uint64_t>(offset)));
    }
}

Outcome Conversion::run(const char *name)
{
    std::vector<std::thread> helpers;
    for (int i = 1; i < std::min(usable_cores(), kMaxWorkers); ++i)
        helpers.emplace_back([this] { work(); });
    work();
    for (auto &helper : helpers)
        helper.join();

    if (mismatch_) {
        lumlib::errmsg("\"%s\": not a text file or mistaken keycode.\n", name);
        return Outcome::failed;
    }
    if (error_ != 0)
        return report_io_error(name, error_, converted_end_);
    if (stopped_)
        return report_interruption(name, converted_end_);
    if (int error = file_.close(); error != 0)
        return report_io_error(name, error, converted_end_);
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
        return Conversion(file, options).run(name);
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
