#include "convert.h"

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include "cipher.h"
#include "file_io.h"
#include "keystream.h"
#include "lumlib/messages.h"
#include "progress_view.h"
#include "record.h"
#include "system.h"

namespace lumtar {
namespace {

// Large transfers keep system calls rare; a multiple of the block size, so
// that every block but a file's last is whole within one chunk.
constexpr std::size_t kChunkSize = std::size_t{1} << 20;
static_assert(kChunkSize % kBlockSize == 0);
constexpr std::size_t kPageSize = 4096;

// A page-aligned chunk buffer, which the kernel copies into and out of far
// faster than an unaligned one. It comes from the C allocator, whose
// failure is a null pointer: without memory, an exception may not even be
// thrown.
class ChunkBuffer {
public:
    // No buffer is asked for unless wanted.
    explicit ChunkBuffer(bool wanted = true) : raw_(wanted ? std::malloc(kChunkSize + kPageSize) : nullptr) {}
    ~ChunkBuffer() { std::free(raw_); }
    ChunkBuffer(const ChunkBuffer &) = delete;
    ChunkBuffer &operator=(const ChunkBuffer &) = delete;

    // Null when no memory could be had.
    unsigned char *get() const
    {
        auto at = reinterpret_cast<std::uintptr_t>(raw_);
        return raw_ == nullptr ? nullptr : reinterpret_cast<unsigned char *>((at + kPageSize - 1) & ~(kPageSize - 1));
    }

private:
    void *raw_;
};

// These messages are formatted by the C library, not by errmsg: they are
// written whole whatever the length of the name, since the count is what
// lets the user undo a stopped run, and nothing is allocated for them.
Outcome report_io_error(const char *name, int error, std::int64_t converted)
{
    if (converted == 0)
        std::fprintf(stderr, "\"%s\": I/O error (%s); the file is unchanged.\n", name, std::strerror(error));
    else
        std::fprintf(stderr, "\"%s\": I/O error (%s); the first %" PRId64 " bytes are converted.\n", name,
                     std::strerror(error), converted);
    return Outcome::failed;
}

Outcome report_interruption(const char *name, std::int64_t converted, bool recorded = false)
{
    // "-l 0" is no valid undo: say plainly that nothing changed.
    if (converted == 0)
        std::fprintf(stderr, "\"%s\": interrupted; the file is unchanged.\n", name);
    else
        std::fprintf(stderr, "\"%s\": interrupted; the first %" PRId64 " bytes are converted (%s-l %" PRId64
                     " converts them back).\n", name, converted, recorded ? "the same command finishes the file; " : "",
                     converted);
    return Outcome::interrupted;
}

// How much to read at offset: up to the next chunk boundary, but nothing
// past the limit except the first block, which text mode looks at whole.
// 0: nothing left to do. A conversion taken up inside a page thus writes
// whole pages from its second write on, as the checks of a record's window
// take them.
std::size_t read_size(std::int64_t offset, std::int64_t limit)
{
    const auto to_boundary = static_cast<std::int64_t>(kChunkSize - static_cast<std::size_t>(offset) % kChunkSize);
    if (limit == -1)
        return static_cast<std::size_t>(to_boundary);
    std::int64_t wanted = std::max<std::int64_t>(limit - offset, offset == 0 ? kBlockSize : 0);
    return static_cast<std::size_t>(std::min(wanted, to_boundary));
}

// Sixteen pages before the last write go into each record: enough to tell
// a file that was put back as it was meanwhile.
constexpr std::int64_t kPagesBehind = 16;
// A record's window: those pages, the last write and the next. Its checks,
// four bytes a page, stay within what any file system keeps with a file.
constexpr std::size_t kMostWindow = 2 * kChunkSize + kPagesBehind * kRecordPage;

// The record of a conversion with these options that has come to
// converted, announcing no write.
Record record_at(const Options &options, std::int64_t converted)
{
    return {options.text_mode, key_check(key_text), options.limit, converted, converted, 0, {}};
}

// Keeps the file's record as the conversion goes: before each write it is
// saved and the file synced, so that the disk never holds a write that the
// record on it does not cover; once the file is done and synced, it is
// removed; when the work stops, it is left saying exactly how far it went.
// Where the file system keeps no record, the file is converted without
// one, as it always was; but a record that an earlier run left is kept up,
// or nothing more is written: a stale one would undo good work.
class RecordKeeper {
public:
    // start: where the conversion begins.
    RecordKeeper(InPlaceFile &file, const Options &options, std::int64_t start, bool inherited);

    // The checks of the write of n bytes, already converted, at offset
    // (last: the last write of the conversion), which a record may
    // announce: taken by each worker before its turn to write, so that the
    // workers take them side by side. Nothing without memory for them.
    std::optional<std::string> checks_for(const unsigned char *data, std::size_t n, std::int64_t offset,
                                          bool last) const;
    // Before that write: 0, or the error that must stop the work.
    int before_write(const std::optional<std::string> &checks, std::size_t n, std::int64_t offset, bool last);
    // Once the work has ended: 0, or the error that kept a finished file
    // from losing its record.
    int after_work(bool finished, std::int64_t converted);
    // Whether the file carries a record.
    bool kept() const { return saved_ || inherited_; }

private:
    void save(std::int64_t offset, const std::string &ahead, std::size_t n);

    InPlaceFile &file_;
    Record record_;
    const std::int64_t start_;
    const bool inherited_;
    bool keeping_ = true, saved_ = false;
    // The checks of the last write, which began at last_write_ and ended at
    // behind_end_, and of the pages before it, from behind_start_.
    std::string behind_;
    std::int64_t behind_start_ = 0, behind_end_ = -1, last_write_ = 0;
};

RecordKeeper::RecordKeeper(InPlaceFile &file, const Options &options, std::int64_t start, bool inherited)
    : file_(file), record_(record_at(options, start)), start_(start), inherited_(inherited)
{
}

// The record of a file converted up to offset, with the write of n bytes
// from there (their checks, ahead) announced. The last write counts as on
// the disk only once this record is: it stays in the window.
void RecordKeeper::save(std::int64_t offset, const std::string &ahead, std::size_t n)
{
    bool behind = behind_end_ == offset;
    record_.converted = behind ? last_write_ : offset;
    record_.window_start = behind ? behind_start_ : offset;
    record_.window = static_cast<std::uint32_t>(offset - record_.window_start + static_cast<std::int64_t>(n));
    record_.checks = (behind ? behind_ : std::string()) + ahead;
    int error = file_.save_record(encode(record_));
    saved_ = saved_ || error == 0;
    if (error == 0)
        error = file_.sync();
    if (error != 0)
        throw std::system_error(error, std::generic_category());
}

// A file converted in one write has its record kept by a group of small
// files wherever one can be kept (see Run::Group); one that comes here
// converts without a record unless that write is cut short.
std::optional<std::string> RecordKeeper::checks_for(const unsigned char *data, std::size_t n, std::int64_t offset,
                                                    bool last) const
{
    try {
        return last && offset == start_ && !inherited_ ? std::string() : take_checks(data, n, offset);
    } catch (const std::bad_alloc &) {
        return std::nullopt;
    }
}

int RecordKeeper::before_write(const std::optional<std::string> &checks, std::size_t n, std::int64_t offset,
                               bool last)
{
    if (!keeping_ || (last && !kept()))
        return 0;
    int error = 0;
    try {
        if (!checks)
            throw std::bad_alloc();
        save(offset, *checks, n);
        behind_ = record_.checks;
        behind_start_ = record_.window_start;
        behind_end_ = offset + static_cast<std::int64_t>(n);
        last_write_ = offset;
        for (std::size_t page; behind_start_ < offset - kPagesBehind * std::int64_t{kRecordPage};
             behind_start_ += static_cast<std::int64_t>(page), behind_.erase(0, 4))
            page = kRecordPage - static_cast<std::size_t>(behind_start_) % kRecordPage;
    } catch (const std::system_error &e) {
        error = e.code().value();
    } catch (const std::bad_alloc &) {
        error = ENOMEM;
    }
    // A file system that keeps no record, or no room for one, leaves the
    // file converted without; a failing disk stops the work.
    if (error != 0 && error != EIO && !kept()) {
        keeping_ = false;
        return 0;
    }
    return error;
}

int RecordKeeper::after_work(bool finished, std::int64_t converted)
{
    // A run that stopped before it saved or wrote anything leaves the file
    // as it found it, with the record of an earlier run if there is one.
    if ((!finished && !saved_ && converted == start_) || (!kept() && (finished || !keeping_)))
        return 0;
    if (finished || (converted == 0 && !inherited_)) {
        int error = finished ? file_.sync() : 0;
        if (error == 0)
            error = file_.remove_record();
        return finished ? error : 0;
    }
    // Synced first, the record claims only what is on the disk, also of a
    // write cut short. Should either fail, the record of the last write, if
    // any, still tells.
    try {
        if (file_.sync() == 0)
            save(converted, std::string(), 0);
    } catch (const std::exception &) {
    }
    return 0;
}

// One file converted by two workers, or one when the system gives no
// thread or no second buffer. Each takes the next chunk, reads and
// transforms it, then waits for its turn to write: chunks are read and
// transformed side by side but written strictly in file order, so the
// converted part of the file is always a prefix whose end is known exactly.
// Whatever stops the work (an error, a text mismatch, an interruption) lets
// the write in progress finish and no other begin; so does the end of the
// file, found by a short read, even if the file has grown since.
class Conversion {
public:
    // From start on: bytes before it are converted already. inherited: the
    // file carries the record of an earlier run.
    Conversion(InPlaceFile &file, const Options &options, std::int64_t start, bool inherited)
        : file_(file), options_(options), record_(file, options, start, inherited), next_offset_(start),
          write_turn_(start), converted_end_(start)
    {
    }

    Outcome run(const char *name);

private:
    Outcome convert(const char *name);
    std::thread start_helper(unsigned char *chunk);
    void watch(const char *name, ProgressView::Clock::time_point start);
    void work(unsigned char *chunk);
    bool take_chunk(std::int64_t &offset, std::size_t &wanted);
    bool wait_for_turn(std::int64_t offset);
    void stop_with(int error, bool mismatch);
    void finish_write(std::int64_t offset, std::size_t wanted, bool met_end, Transfer put);

    InPlaceFile &file_;
    const Options &options_;
    RecordKeeper record_;  // used by the worker whose turn it is to write
    std::mutex mutex_;
    std::condition_variable turn_changed_;
    std::int64_t next_offset_;       // the next chunk to hand out
    std::int64_t write_turn_;        // the chunk whose write comes next
    // Bytes [0, converted_end_) are converted on disk; atomic so that the
    // progress line reads it without the workers' lock.
    std::atomic<std::int64_t> converted_end_;
    bool no_more_chunks_ = false;    // nothing more to hand out
    bool end_written_ = false;       // the chunk that met the end is written
    bool stopped_ = false;
    bool mismatch_ = false;
    int error_ = 0;
    // The helpers still working, which the thread that shows the progress
    // waits for; their only lock besides mutex_, taken once as they end.
    std::mutex helpers_mutex_;
    std::condition_variable helper_ended_;
    int helpers_ = 0;
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

// False when the chunk must not be written: the work stopped, or the chunk
// lies past the end that an earlier chunk met.
bool Conversion::wait_for_turn(std::int64_t offset)
{
    std::unique_lock lock(mutex_);
    turn_changed_.wait(lock, [&] { return stopped_ || end_written_ || write_turn_ == offset; });
    return !stopped_ && !end_written_;
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

void Conversion::finish_write(std::int64_t offset, std::size_t wanted, bool met_end, Transfer put)
{
    std::lock_guard lock(mutex_);
    // A chunk that met the end of the file may write nothing and must not
    // move the end of the converted part then.
    if (put.count > 0)
        converted_end_ = offset + static_cast<std::int64_t>(put.count);
    write_turn_ = offset + static_cast<std::int64_t>(wanted);
    if (met_end)
        no_more_chunks_ = end_written_ = true;
    if (put.error != 0 && !stopped_) {
        error_ = put.error;
        stopped_ = true;
    }
    if (sys::interrupted())
        stopped_ = true;
    turn_changed_.notify_all();
}

void Conversion::work(unsigned char *chunk)
{
    Keystream keystream(key_text);
    std::int64_t offset;
    std::size_t wanted;
    while (take_chunk(offset, wanted)) {
        Transfer got = file_.read_at(chunk, wanted, static_cast<std::uint64_t>(offset));
        bool text_ok = got.error != 0 ||
            transform(keystream, offset == 0 && options_.text_mode, chunk, got.count, offset, options_.limit);
        // Bytes past the limit are unchanged: they need no writing.
        std::size_t converted = convertible_length(got.count, offset, options_.limit);
        bool last = got.count < wanted ||
                    (options_.limit != -1 && offset + static_cast<std::int64_t>(converted) >= options_.limit);
        std::optional<std::string> checks = record_.checks_for(chunk, converted, offset, last);
        if (!wait_for_turn(offset))
            return;
        if (got.error != 0 || !text_ok) {
            stop_with(got.error, !text_ok);
            return;
        }
        if (int error = record_.before_write(checks, converted, offset, last)) {
            stop_with(error, false);
            return;
        }
        Transfer put = file_.write_at(chunk, converted, static_cast<std::uint64_t>(offset));
        // A write cut short without an error met an end that another
        // program made: the file ends there now.
        finish_write(offset, wanted, got.count < wanted || put.count < converted, put);
    }
}

// A thread that cannot be had leaves the work to the one that asked. A
// helper is counted before it can end.
std::thread Conversion::start_helper(unsigned char *chunk)
{
    std::lock_guard lock(helpers_mutex_);
    try {
        std::thread helper([this, chunk] {
            work(chunk);
            std::lock_guard ended(helpers_mutex_);
            --helpers_;
            helper_ended_.notify_all();
        });
        ++helpers_;
        return helper;
    } catch (const std::system_error &) {
        return {};
    }
}

// Draws the progress until the helpers end, holding no lock while it
// draws: a slow terminal holds up no worker.
void Conversion::watch(const char *name, ProgressView::Clock::time_point start)
{
    std::int64_t size = static_cast<std::int64_t>(file_.size());
    std::int64_t total = options_.limit == -1 ? size : std::min(size, options_.limit);
    try {
        ProgressView view({name, options_.place, options_.files, 0, total}, start);
        for (;;) {
            {
                std::unique_lock lock(helpers_mutex_);
                if (helper_ended_.wait_for(lock, kProgressTick, [this] { return helpers_ == 0; }))
                    break;
            }
            view.update(converted_end_);
        }
        view.erase();
    } catch (const std::exception &) {
        // The line is a courtesy: without memory for it, the workers still
        // finish, and only then may this thread go on.
    }
    std::unique_lock lock(helpers_mutex_);
    helper_ended_.wait(lock, [this] { return helpers_ == 0; });
}

Outcome Conversion::convert(const char *name)
{
    auto start = ProgressView::Clock::now();
    ChunkBuffer mine;
    if (mine.get() == nullptr) {
        std::fprintf(stderr, "\"%s\": not enough memory to convert it; the file is unchanged.\n", name);
        return Outcome::failed;
    }
    ChunkBuffer spare(sys::usable_cores() > 1);
    std::thread helper = spare.get() != nullptr ? start_helper(spare.get()) : std::thread();
    // A progress line is drawn by a thread that does no conversion, so that
    // drawing never slows it.
    std::thread second = progress_wanted() ? start_helper(mine.get()) : std::thread();
    if (second.joinable())
        watch(name, start);
    else
        work(mine.get());
    for (std::thread *worker : {&helper, &second})
        if (worker->joinable())
            worker->join();

    int record_error = record_.after_work(!stopped_, converted_end_);
    if (mismatch_) {
        lumlib::errmsg("\"%s\": not a text file or mistaken keycode.\n", name);
        return Outcome::failed;
    }
    if (error_ != 0 || record_error != 0)
        return report_io_error(name, error_ != 0 ? error_ : record_error, converted_end_);
    if (stopped_)
        return report_interruption(name, converted_end_, record_.kept());
    return Outcome::done;
}

// What fails on the way out is reported after what ended the work, and
// fails a run that was going well.
Outcome report_closing(const char *name, const CloseResult &closed, Outcome outcome, std::int64_t converted)
{
    if (closed.close_error != 0 && outcome == Outcome::done)
        outcome = report_io_error(name, closed.close_error, converted);
    if (closed.mode_error != 0)
        std::fprintf(stderr, "\"%s\": can't restore its mode (%s).\n", name, std::strerror(closed.mode_error));
    if (closed.setid_error != 0)
        std::fprintf(stderr, "\"%s\": can't clear its set-ID bits (%s); its mode is now %04o.\n", name,
                     std::strerror(closed.setid_error), static_cast<unsigned>(closed.permissions));
    bool mode_failed = closed.mode_error != 0 || closed.setid_error != 0;
    if (mode_failed && (outcome == Outcome::done || outcome == Outcome::skipped))
        outcome = Outcome::failed;
    return outcome;
}

// The file is closed and its permissions put back on every way out.
Outcome Conversion::run(const char *name)
{
    Outcome outcome = convert(name);
    return report_closing(name, file_.close(), outcome, converted_end_);
}

const char *converted_as(const ConvertedFiles &converted, const FileId &id)
{
    for (const auto &[file, name] : converted)
        if (file == id)
            return name.c_str();
    return nullptr;
}

// Why a file is left alone, told as the run goes on.
Outcome report_skip(const char *name, OpenResult why)
{
    switch (why) {
    case OpenResult::not_regular:
        lumlib::errmsg("\"%s\": not a regular file.\n", name);
        break;
    case OpenResult::cannot_grant_write:
        lumlib::errmsg("\"%s\": can't change file mode to write.\n", name);
        break;
    case OpenResult::cannot_open:
        lumlib::errmsg("can't open \"%s\" to write.\n", name);
        break;
    case OpenResult::in_use:
        lumlib::errmsg("\"%s\": in use by another program; skipped.\n", name);
        break;
    case OpenResult::name_too_long:
        lumlib::errmsg("\"%s\": name too long for the system; skipped.\n", name);
        break;
    case OpenResult::opened:
        break;
    }
    return Outcome::skipped;
}

// The pages of the window that a record covers, as the file reads now.
std::optional<std::vector<Page>> pages_now(InPlaceFile &file, const Record &found)
{
    if (found.window > kMostWindow)
        return std::nullopt;
    try {
        std::string now(found.window, '\0'), keystream(found.window, '\0');
        auto offset = static_cast<std::uint64_t>(found.window_start);
        Transfer got = file.read_at(reinterpret_cast<unsigned char *>(now.data()), now.size(), offset);
        if (got.error != 0)
            return std::nullopt;
        now.resize(got.count);
        Keystream(key_text).apply(reinterpret_cast<unsigned char *>(keystream.data()), keystream.size(), offset);
        return window_pages(found, now, keystream);
    } catch (const std::bad_alloc &) {
        return std::nullopt;
    }
}

// What this run does with a conversion that an earlier one left
// unfinished: the same command finishes it, from the end of the last page
// it converted, and the same key with -l at that point undoes it, from the
// start. Anything else would spoil the file, and so would a guess: it is
// left alone, with a message that, given the key, tells where the
// conversion stopped, so that it can be undone.
enum class TakeUp { none, leave, finish, undo };  // none: there was no earlier conversion

struct Unfinished {
    TakeUp take = TakeUp::none;
    std::int64_t end = 0;
    std::vector<Page> pages;
};

Unfinished take_up(InPlaceFile &file, const std::string &stored, const Options &options, const char *name)
{
    Unfinished left{TakeUp::leave, 0, {}};
    std::optional<Record> found = decode(stored);
    if (found && found->key_check != key_check(key_text)) {
        lumlib::errmsg("\"%s\": a conversion with another key is unfinished; skipped.\n", name);
        return left;
    }
    std::optional<std::vector<Page>> pages = found ? pages_now(file, *found) : std::nullopt;
    if (!pages) {
        lumlib::errmsg("\"%s\": a conversion of it stopped, and how far it went can't be told; skipped.\n",
                       name);
        return left;
    }
    left.end = found->converted;
    for (const Page &page : *pages) {
        if (page.state == Page::torn) {
            std::fprintf(stderr, "\"%s\": a conversion of it was cut short inside the page at byte %" PRId64
                         ", which is now neither converted nor as it was; skipped.\n", name, page.offset);
            return left;
        }
        if (page.state == Page::converted)
            left.end = page.offset + static_cast<std::int64_t>(page.length);
    }
    // After a crash of the machine, a page of the last write may be lost
    // from the disk while a later one is there.
    bool hole = std::any_of(pages->begin(), pages->end(), [&](const Page &page) {
        return page.state == Page::unconverted && page.offset < left.end;
    });
    left.pages = std::move(*pages);
    if (found->limit == options.limit && found->text_mode == options.text_mode)
        left.take = TakeUp::finish;
    else if (options.limit == left.end && !hole)
        left.take = TakeUp::undo;
    else
        std::fprintf(stderr, "\"%s\": a conversion with other options stopped after %" PRId64 " bytes; skipped.\n",
                     name, left.end);
    return left;
}

// Converts the pages that the disk lost among those that a dead run
// converted, before the end where this run goes on; then syncs, so that
// the records of this run claim only what is on the disk.
int settle(InPlaceFile &file, const Unfinished &left)
{
    Keystream keystream(key_text);
    unsigned char page[kRecordPage];
    for (const Page &p : left.pages) {
        if (p.state != Page::unconverted || p.offset >= left.end)
            continue;
        auto offset = static_cast<std::uint64_t>(p.offset);
        Transfer got = file.read_at(page, p.length, offset);
        if (got.error == 0 && got.count == p.length) {
            keystream.apply(page, p.length, offset);
            got = file.write_at(page, p.length, offset);
        }
        if (got.error != 0 || got.count != p.length)
            return got.error != 0 ? got.error : EIO;
    }
    return file.sync();
}

// Nothing is changed before the file is known to be one to convert: not in
// use, not converted already in this run under another name, and not left
// unfinished by another command.
Outcome convert_alone(const sys::FileName &name, const Options &options, ConvertedFiles &converted)
{
    const char *shown = name.shown.c_str();
    if (sys::interrupted())
        return report_interruption(shown, 0);
    InPlaceFile file;
    OpenResult opened = file.examine(name.path.c_str());
    if (opened != OpenResult::opened)
        return report_skip(shown, opened);
    const FileId id = file.id();
    if (const char *earlier = converted_as(converted, id)) {
        lumlib::errmsg("\"%s\": same file as \"%s\"; skipped.\n", shown, earlier);
        return Outcome::skipped;
    }
    const std::string stored = file.record();
    Unfinished left = stored.empty() ? Unfinished{} : take_up(file, stored, options, shown);
    if (left.take == TakeUp::leave)
        return Outcome::skipped;
    opened = file.open_for_update();
    if (opened != OpenResult::opened)
        return report_closing(shown, file.close(), report_skip(shown, opened), 0);
    converted.emplace_back(id, name.shown);
    if (left.take == TakeUp::finish)
        std::fprintf(stderr, "\"%s\": finishing a conversion that stopped after %" PRId64 " bytes.\n", shown,
                     left.end);
    if (int error = left.take == TakeUp::none ? 0 : settle(file, left)) {
        std::fprintf(stderr, "\"%s\": I/O error (%s); the conversion stays unfinished.\n", shown,
                     std::strerror(error));
        return report_closing(shown, file.close(), Outcome::failed, 0);
    }
    return Conversion(file, options, left.take == TakeUp::finish ? left.end : 0, left.take != TakeUp::none)
        .run(shown);
}

// A small file converted, whose write waits for its group.
struct Waiting {
    std::unique_ptr<InPlaceFile> file;
    std::string name;
    std::vector<unsigned char> data;  // to be written at the start
    Options options;
    std::uint64_t volume = 0;
    Transfer put = {};
};

// The record of the file converted in memory; nothing where the
// conversion takes more than one write, converts nothing, or has a word to
// say.
std::optional<Record> convert_in_memory(Waiting &w)
{
    const Options &options = w.options;
    try {
        // One byte more than the file holds tells that it grew meanwhile.
        const std::size_t wanted = std::min<std::size_t>(read_size(0, options.limit), w.file->size() + 1);
        w.data.resize(wanted);
        Transfer got = w.file->read_at(w.data.data(), wanted, 0);
        Keystream keystream(key_text);
        if (got.error != 0 || !transform(keystream, options.text_mode, w.data.data(), got.count, 0, options.limit))
            return std::nullopt;
        w.data.resize(convertible_length(got.count, 0, options.limit));
        const auto n = static_cast<std::int64_t>(w.data.size());
        if (n == 0 || (got.count == wanted && n != options.limit))
            return std::nullopt;
        Record record = record_at(options, 0);
        record.window = static_cast<std::uint32_t>(n);
        record.checks = take_checks(w.data.data(), w.data.size(), 0);
        return record;
    } catch (const std::bad_alloc &) {
        return std::nullopt;
    }
}

// Syncs the file systems of the first count files of a group, each once.
int sync_file_systems(const std::vector<Waiting> &group, std::size_t count)
{
    std::vector<std::uint64_t> synced;
    for (std::size_t i = 0; i < count; ++i) {
        if (std::count(synced.begin(), synced.end(), group[i].volume) > 0)
            continue;
        if (int error = group[i].file->sync_file_system())
            return error;
        synced.push_back(group[i].volume);
    }
    return 0;
}

}  // namespace

// A record and a sync before each small file's one write would cost many
// times the conversion. A group shares them: its records are saved, one
// sync of each file system puts them on the disk, the group's writes go
// out, and only after one more sync do the records go. Whenever the
// machine stops, each file of the group is as it was, done, or carries a
// record that tells its pages apart; a killed run leaves the same. Files
// that need anything else, or a word said, are converted alone, after the
// group is written.
class Run::Group {
public:
    // Full, or ending with a file that the run stops at.
    bool full() const
    {
        return waiting_.size() == kFiles || bytes_ >= kBytes || (!waiting_.empty() && waiting_.back().put.error != 0);
    }
    // Takes a file that one write converts, keeping it open, converted in
    // memory, its record saved; a failing disk, which keeps the record from
    // being saved, stops the run at the file. False: the file is as it was.
    bool take(const sys::FileName &name, const Options &options, ConvertedFiles &converted);
    Outcome write();

private:
    static constexpr std::size_t kFiles = 64, kBytes = std::size_t{8} << 20;

    std::vector<Waiting> waiting_;
    std::size_t bytes_ = 0;
    std::vector<std::uint64_t> without_records_;  // volumes that keep none
};

bool Run::Group::take(const sys::FileName &name, const Options &options, ConvertedFiles &converted)
{
    Waiting w{std::make_unique<InPlaceFile>(), name.shown, {}, options};
    InPlaceFile &file = *w.file;
    if (!InPlaceFile::keeps_records() || sys::interrupted() ||
        file.examine(name.path.c_str()) != OpenResult::opened)
        return false;
    const FileId id = file.id();
    const bool one_write =
        file.size() < kChunkSize || (options.limit != -1 && options.limit <= std::int64_t{kChunkSize});
    if (!one_write || converted_as(converted, id) || !file.record().empty() ||
        std::count(without_records_.begin(), without_records_.end(), id.volume) > 0 ||
        file.open_for_update() != OpenResult::opened)
        return false;
    std::optional<Record> record = convert_in_memory(w);
    if (!record)
        return false;
    w.put.error = file.save_record(encode(*record));
    if (w.put.error != 0 && w.put.error != EIO) {
        without_records_.push_back(id.volume);
        return false;
    }
    converted.emplace_back(id, name.shown);
    w.volume = id.volume;
    bytes_ += w.data.size();
    waiting_.push_back(std::move(w));
    return true;
}

// The writes stop at an error or an interruption, which the file where
// they stopped reports; the files after it are left as they were. Every
// file written is reported as a file converted alone is, and the outcome
// is the first that is not done.
Outcome Run::Group::write()
{
    std::vector<Waiting> group = std::move(waiting_);
    waiting_.clear();
    bytes_ = 0;
    const int error = sync_file_systems(group, group.size());
    std::size_t written = 0;
    for (; error == 0 && written < group.size() && !sys::interrupted(); ++written) {
        Waiting &w = group[written];
        if (w.put.error == 0)
            w.put = w.file->write_at(w.data.data(), w.data.size(), 0);
        if (w.put.error != 0)
            break;
    }
    // A write that an error cut short is on the disk, too, before its
    // record says how far it went.
    const std::size_t touched = written + (written < group.size() && group[written].put.count > 0);
    const int synced = touched > 0 ? sync_file_systems(group, touched) : 0;
    Outcome first = Outcome::done;
    for (std::size_t i = 0; i < group.size(); ++i) {
        Waiting &w = group[i];
        const char *name = w.name.c_str();
        const auto count = static_cast<std::int64_t>(w.put.count);
        Outcome outcome = Outcome::done;
        if (i < written) {
            if (int removed = synced != 0 ? synced : w.file->remove_record())
                outcome = report_io_error(name, removed, count);
        } else if (i == written) {
            outcome = error != 0       ? report_io_error(name, error, 0)
                      : w.put.error != 0 ? report_io_error(name, w.put.error, count)
                                         : report_interruption(name, 0);
            // A record that cannot be made exact still tells every page.
            if (count == 0)
                w.file->remove_record();
            else if (synced == 0)
                w.file->save_record(encode(record_at(w.options, count)));
        } else {
            w.file->remove_record();
            w.file->close();
            continue;
        }
        outcome = report_closing(name, w.file->close(), outcome, count);
        first = first == Outcome::done ? outcome : first;
    }
    return first;
}

Run::Run() : group_(std::make_unique<Group>()) {}
Run::~Run() = default;

Outcome Run::convert(const sys::FileName &name, const Options &options)
{
    if (group_->take(name, options, converted_))
        return group_->full() ? group_->write() : Outcome::done;
    Outcome outcome = group_->write();
    return outcome != Outcome::done ? outcome : convert_alone(name, options, converted_);
}

Outcome Run::finish() { return group_->write(); }

}  // namespace lumtar
