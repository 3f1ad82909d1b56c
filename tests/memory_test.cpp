#include "lumlib/memory.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/system.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif

// A block made before a failing request, for moremem and addstr to work on.
char *g_block;

// Shows that it ran, and that the block was not released before it.
void note_cleanup() { std::fprintf(stderr, "endfun ran; block holds %s\n", g_block); }

}  // namespace

// This program's cleanup, in place of the library's null default.
void (*lumlib::endfun)() = note_cleanup;

namespace {

using namespace lumlib;

// The requests, by size.
void *more(int size) { return moremem(g_block, size); }
void *more_of_null(int size) { return moremem(nullptr, size); }
void *locked(int size) { return getmemAdr(getmemLock(size)); }
void *copy_of_size(int size) { return setstr(std::string(static_cast<size_t>(size - 3), 't').c_str()); }
const std::string kLongText(5000, 'y');
void *append_long(int) { return addstr(g_block, kLongText.c_str()); }

// To a block of the standard allocator whose bytes past the text are not
// zero: the terminator must be copied. A short text fits where the block
// lies, a long one moves it.
void *append_to_heap_text(int size)
{
    auto *text = static_cast<char *>(std::memset(std::malloc(64), 0xFF, 64));
    return addstr(std::strcpy(text, "hi"), std::string(static_cast<size_t>(size - 3), 'x').c_str());
}

// Grows a block past any slack, uses it, and shrinks it again.
void *grown_and_shrunk(int size)
{
    auto *block = static_cast<char *>(moremem(nullptr, 11));
    std::memcpy(block, "0123456789", 11);
    block = static_cast<char *>(moremem(block, 50000));
    block[49999] = '!';
    return moremem(block, size);
}

const std::string kEnd = "endfun ran; block holds kept\n", kNull = "returned null\n";

std::string lost(const char *figure) { return "cannot get the memory of " + std::string(figure) + " bytes\n"; }

// Requests that give a block, which must hold exactly the bytes shown, as
// many as were asked for.
const std::pair<void *(*)(int), std::string> kBlocks[] = {
    {getmem, std::string(1, '\0')}, {getmem, std::string(100000, '\0')}, {locked, std::string(300, '\0')},
    {copy_of_size, std::string(3, '\0')}, {copy_of_size, std::string("ttttt\0\0\0", 8)}, {grown_and_shrunk, "0"},
    {append_to_heap_text, std::string("hi", 3)}, {append_to_heap_text, "hi" + std::string(10000, 'x') + '\0'},
    {append_to_heap_text, "hi" + std::string(10, 'x') + '\0'}};

// Each new block is taken right after a block of its size was freed full of
// 0xFF, so that it shows whether it was cleared.
TEST(Memory, EveryRequestThatCanBeMetGivesItsBlock)
{
    for (const auto &[request, out] : kBlocks) {
        std::free(std::memset(std::malloc(out.size()), 0xFF, out.size()));
        auto *block = static_cast<char *>(request(static_cast<int>(out.size())));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(std::string(block, out.size()), out);
        // The sanitizer's allocator knows the size asked for; the plain one
        // may round it up.
        size_t held = testing_support::allocated_size(block);
        EXPECT_TRUE(kAddressSanitizer ? held == out.size() : held >= out.size()) << held;
        freeLocal(block);
    }
    freeMem(nullptr);
    freeLocal(nullptr);
}

// A request that fails, of a size, the threshold it runs with, and, in a
// child process, the whole standard error output; the exit status is 3
// when the request returned, else 1. endfun is set unless the row says
// otherwise. Sizes of no bytes or fewer fail in every build; the others
// where the child's address space is capped.
struct Failure {
    void *(*request)(int);
    int size;
    int threshold;
    std::string out;
    bool cleanup = true;
};

const Failure kFailures[] = {
    {getmem, 1000, INT_MAX, "\n" + lost("1000") + kEnd}, {getmem, 1001, INT_MAX, "\n" + lost("0 K") + kEnd},
    {getmem, 3000, INT_MAX, "\n" + lost("2 K") + kEnd}, {getmem, 1000, INT_MAX, "\n" + lost("1000"), false},
    {getmem, INT_MAX, INT_MAX, "\n" + lost("2097151 K") + kNull}, {getmem, 4096, 4096, "\n" + lost("4 K") + kNull},
    {getmem, 4095, 4096, "\n" + lost("3 K") + kEnd}, {getmem, 0, INT_MAX, "\n" + lost("0") + kEnd},
    {getmem, -5000, INT_MAX, "\n" + lost("-5000") + kEnd}, {getmem, -1, -1, "\n" + lost("-1") + kNull},
    {more, 1000, INT_MAX, lost("1000") + kEnd}, {more, 1001, INT_MAX, lost("1 K") + kEnd},
    {more, 3000, 100, lost("3 K") + kEnd}, {more_of_null, 5000, INT_MAX, lost("5 K") + kEnd},
    {more, 0, INT_MAX, lost("0") + kEnd}, {more, -2048, -5000, lost("-2048") + kEnd},
    {more_of_null, 0, INT_MAX, lost("0"), false}, {locked, 10000, INT_MAX, "\n" + lost("9 K") + kEnd},
    {locked, 10000, 10000, "\n" + lost("9 K") + "Faital error:\ncannot get the memory of 10 K bytes"},
    {locked, 500, 500, "\n" + lost("500") + "Faital error:\ncannot get memory of 500 bytes"},
    {locked, -3, -3, "\n" + lost("-3") + "Faital error:\ncannot get memory of -3 bytes"},
    {copy_of_size, 6, 6, "\n" + lost("6") + "cannot get memory\n" + kEnd},
    {copy_of_size, 6, INT_MAX, "\n" + lost("6") + kEnd}, {append_long, 5005, INT_MAX, "can't get memory\n" + kEnd},
};

// Grows the stack now, so that it needs no new pages once the address
// space is capped.
__attribute__((noinline)) void grow_stack()
{
    volatile char pad[512 * 1024];
    for (size_t i = 0; i < sizeof pad; i += 1024)
        pad[i] = 0;
}

// Keeps the allocations below from being optimized away.
void *volatile g_taken;

// Caps the address space at what is mapped now and then takes what the
// heap still holds, in ever smaller pieces: from here on every request of
// the allocator fails for real.
void run_out_of_memory()
{
    grow_stack();
    if (!testing_support::cap_memory(0))
        std::_Exit(99);
    for (size_t size = size_t{1} << 30; size > 0; size /= 2)
        while (void *piece = std::malloc(size))
            g_taken = piece;
}

// The child's side: a request that returns reports what it returned.
void run_in_child(const Failure &f)
{
    g_block = setstr("kept");
    lumlib::terminate_size = f.threshold;
    lumlib::endfun = f.cleanup ? note_cleanup : nullptr;
    if (f.size > 0)
        run_out_of_memory();
    void *result = f.request(f.size);
    std::fprintf(stderr, "returned %s\n", result != nullptr ? "a block" : "null");
    std::exit(3);
}

TEST(Memory, ProgramDefinitionOfEndfunReplacesTheDefault) { EXPECT_EQ(lumlib::endfun, &note_cleanup); }

TEST(MemoryDeathTest, EveryRequestThatFailsWritesItsMessagesAndEnds)
{
    const bool can_cap = !kAddressSanitizer && testing_support::why_no_memory_cap().empty();
    for (const Failure &f : kFailures) {
        const int status = f.out.find("returned") != std::string::npos ? 3 : 1;
        if (f.size <= 0 || can_cap) {
            EXPECT_EXIT(run_in_child(f), testing::ExitedWithCode(status), testing::Eq(f.out))
                << "size " << f.size << ", threshold " << f.threshold;
        }
    }
}

}  // namespace
