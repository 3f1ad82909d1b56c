#include "lumlib/memory.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "support/system.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

void note_cleanup() { std::fputs("endfun ran\n", stderr); }

}  // namespace

// This program's cleanup, in place of the library's weak null default.
void (*lumlib::endfun)() = note_cleanup;

namespace {

using lumlib::addstr;
using lumlib::freeLocal;
using lumlib::freeMem;
using lumlib::getmem;
using lumlib::getmemAdr;
using lumlib::getmemLock;
using lumlib::moremem;
using lumlib::setstr;

testing::Matcher<const std::string &> exactly(const char *text) { return testing::Matcher<const std::string &>(text); }

// Leaves a freed block of size bytes full of 0xFF, so that a block handed
// out next from the same place shows whether it was cleared.
void dirty_heap(size_t size)
{
    void *block = std::malloc(size);
    std::memset(block, 0xFF, size);
    std::free(block);
}

bool all_zero(const void *block, size_t size)
{
    const auto *bytes = static_cast<const unsigned char *>(block);
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

// The sanitizer's allocator knows the size asked for; the plain one may
// round it up.
void expect_block_size(void *block, size_t size)
{
    if (kAddressSanitizer)
        EXPECT_EQ(testing_support::allocated_size(block), size);
    else
        EXPECT_GE(testing_support::allocated_size(block), size);
}

TEST(Memory, ProgramDefinitionOfEndfunReplacesTheDefault) { EXPECT_EQ(lumlib::endfun, &note_cleanup); }

TEST(Memory, GetmemZeroFillsEveryByte)
{
    for (int size : {1, 16, 1000, 4096, 100000}) {
        SCOPED_TRACE(size);
        dirty_heap(static_cast<size_t>(size));
        void *block = getmem(size);
        ASSERT_NE(block, nullptr);
        expect_block_size(block, static_cast<size_t>(size));
        EXPECT_TRUE(all_zero(block, static_cast<size_t>(size)));
        freeMem(block);
    }
}

TEST(Memory, GetmemLockGivesAZeroFilledBlockWhoseAddressIsTheHandle)
{
    dirty_heap(300);
    void *handle = getmemLock(300);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(getmemAdr(handle), handle);
    EXPECT_TRUE(all_zero(getmemAdr(handle), 300));
    freeLocal(handle);
    // Null is ignored by both releases (the sanitizer build would catch a
    // bad release).
    freeLocal(nullptr);
    freeMem(nullptr);
}

TEST(Memory, MorememGrowsAndShrinksKeepingTheContent)
{
    auto *block = static_cast<char *>(moremem(nullptr, 11));
    std::memcpy(block, "0123456789", 11);
    block = static_cast<char *>(moremem(block, 50000));
    expect_block_size(block, 50000);
    EXPECT_STREQ(block, "0123456789");
    block = static_cast<char *>(moremem(block, 4));
    expect_block_size(block, 4);
    EXPECT_EQ(std::memcmp(block, "0123", 4), 0);
    freeMem(block);
}

TEST(Memory, SetstrCopiesIntoABlockThreeBytesLonger)
{
    struct Case {
        const char *text;
        size_t size;
    } cases[] = {{"", 3}, {"abcde", 8}, {"\x82\xa0\x82\xa2", 7}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        dirty_heap(c.size);
        char *copy = setstr(c.text);
        expect_block_size(copy, c.size);
        size_t len = std::strlen(c.text);
        EXPECT_EQ(std::memcmp(copy, c.text, len), 0);
        EXPECT_TRUE(all_zero(copy + len, 3)) << "the terminator and two more zeros";
        freeMem(copy);
    }
}

TEST(Memory, AddstrAppendsInABlockOfExactlyBothTexts)
{
    char *str = setstr("abc");
    str = addstr(str, "defg");
    EXPECT_STREQ(str, "abcdefg");
    expect_block_size(str, 8);
    str = addstr(str, "");
    EXPECT_STREQ(str, "abcdefg");
    expect_block_size(str, 8);
    std::string longer(10000, 'x');
    str = addstr(str, longer.c_str());
    EXPECT_EQ(std::string(str), "abcdefg" + longer);
    expect_block_size(str, 10008);
    freeMem(str);
}

TEST(Memory, AddstrTakesABlockOfTheStandardAllocator)
{
    // The bytes past the text are not zero: the terminator must be copied.
    char *str = static_cast<char *>(std::malloc(64));
    std::memset(str, 0xFF, 64);
    std::memcpy(str, "hi", 3);
    str = addstr(str, "!");
    EXPECT_STREQ(str, "hi!");
    expect_block_size(str, 4);
    std::free(str);
}

// ---- Failing requests, each in a child process ---------------------------

// A block made before the request, for moremem and addstr to work on.
char *g_block;
// A text made before memory runs out.
const std::string kLongText(5000, 'y');

// endfun for the tests that must show the block was not released first:
// a released block would have lost its text (and the sanitizer build
// reports the read).
void show_block() { std::fprintf(stderr, "block holds %s\n", g_block); }

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

struct FailingRequest {
    const char *what;
    int terminate_size;
    std::function<void *()> request;
    int status;        // 1 for the fatal exit; 3 when the request returned
    const char *err;   // the whole standard error output
    void (*cleanup)() = note_cleanup;
};

// The child's side: a request that returns reports what it returned.
void run_in_child(const FailingRequest &c, bool exhaust)
{
    g_block = setstr("kept");
    lumlib::terminate_size = c.terminate_size;
    lumlib::endfun = c.cleanup;
    if (exhaust)
        run_out_of_memory();
    void *result = c.request();
    std::fprintf(stderr, "returned %s\n", result != nullptr ? "a block" : "null");
    std::exit(3);
}

void expect_failures(const std::vector<FailingRequest> &cases, bool exhaust)
{
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EXIT(run_in_child(c, exhaust), testing::ExitedWithCode(c.status), exactly(c.err));
    }
}

constexpr int kInitial = INT_MAX;


// Requests the allocator refuses because memory is gone: the address space
// is capped in the child.
TEST(MemoryDeathTest, RequestsTheAllocatorCannotSatisfy)
{
    if (kAddressSanitizer)
        GTEST_SKIP() << "the address sanitizer reserves terabytes of address space and aborts on a failed "
                        "allocation, so RLIMIT_AS cannot make requests fail; the normal build runs these";
    if (std::string why = testing_support::why_no_memory_cap(); !why.empty())
        GTEST_SKIP() << why;
    std::vector<FailingRequest> cases = {
        {"getmem: bytes up to 1000", kInitial, [] { return getmem(1000); }, 1,
         "\ncannot get the memory of 1000 bytes\nendfun ran\n"},
        {"getmem: K bytes by 1024, rounded down", kInitial, [] { return getmem(1001); }, 1,
         "\ncannot get the memory of 0 K bytes\nendfun ran\n"},
        {"getmem 2048", kInitial, [] { return getmem(2048); }, 1, "\ncannot get the memory of 2 K bytes\nendfun ran\n"},
        {"getmem 3000", kInitial, [] { return getmem(3000); }, 1, "\ncannot get the memory of 2 K bytes\nendfun ran\n"},
        {"getmem without endfun", kInitial, [] { return getmem(1000); }, 1, "\ncannot get the memory of 1000 bytes\n",
         nullptr},
        {"getmem of INT_MAX with the initial threshold returns", kInitial, [] { return getmem(INT_MAX); }, 3,
         "\ncannot get the memory of 2097151 K bytes\nreturned null\n"},
        {"getmem above terminate_size returns null", 4096, [] { return getmem(10000); }, 3,
         "\ncannot get the memory of 9 K bytes\nreturned null\n"},
        {"getmem at terminate_size returns null", 4096, [] { return getmem(4096); }, 3,
         "\ncannot get the memory of 4 K bytes\nreturned null\n"},
        {"getmem just below terminate_size ends", 4096, [] { return getmem(4095); }, 1,
         "\ncannot get the memory of 3 K bytes\nendfun ran\n"},
        {"getmem 4000 below terminate_size ends", 4096, [] { return getmem(4000); }, 1,
         "\ncannot get the memory of 3 K bytes\nendfun ran\n"},
        {"moremem: bytes up to 1000", kInitial, [] { return moremem(g_block, 1000); }, 1,
         "cannot get the memory of 1000 bytes\nendfun ran\n"},
        {"moremem: K bytes by 1000", kInitial, [] { return moremem(g_block, 1001); }, 1,
         "cannot get the memory of 1 K bytes\nendfun ran\n"},
        {"moremem 2048", kInitial, [] { return moremem(g_block, 2048); }, 1,
         "cannot get the memory of 2 K bytes\nendfun ran\n"},
        {"moremem 3000", kInitial, [] { return moremem(g_block, 3000); }, 1,
         "cannot get the memory of 3 K bytes\nendfun ran\n"},
        {"moremem of null", kInitial, [] { return moremem(nullptr, 5000); }, 1,
         "cannot get the memory of 5 K bytes\nendfun ran\n"},
        {"moremem ignores terminate_size", 100, [] { return moremem(g_block, 5000); }, 1,
         "cannot get the memory of 5 K bytes\nendfun ran\n"},
        {"getmemLock: both messages, no endfun", 10000, [] { return getmemLock(10000); }, 1,
         "\ncannot get the memory of 9 K bytes\nFaital error:\ncannot get the memory of 10 K bytes"},
        {"getmemLock: bytes form", 500, [] { return getmemLock(500); }, 1,
         "\ncannot get the memory of 500 bytes\nFaital error:\ncannot get memory of 500 bytes"},
        {"getmemLock with the initial threshold: getmem ends it", kInitial, [] { return getmemLock(10000); }, 1,
         "\ncannot get the memory of 9 K bytes\nendfun ran\n"},
        {"setstr: its own message after getmem's", 6, [] { return static_cast<void *>(setstr("abc")); }, 1,
         "\ncannot get the memory of 6 bytes\ncannot get memory\nendfun ran\n"},
        {"setstr with the initial threshold: getmem ends it", kInitial,
         [] { return static_cast<void *>(setstr("abc")); }, 1, "\ncannot get the memory of 6 bytes\nendfun ran\n"},
        {"addstr", kInitial, [] { return static_cast<void *>(addstr(g_block, kLongText.c_str())); }, 1,
         "can't get memory\nendfun ran\n"},
    };
    expect_failures(cases, true);
}

// Sizes no allocator is asked for: zero and negative requests fail alike,
// in every build.
TEST(MemoryDeathTest, RequestsOfNoBytesOrFewerFail)
{
    std::vector<FailingRequest> cases = {
        {"getmem 0", kInitial, [] { return getmem(0); }, 1, "\ncannot get the memory of 0 bytes\nendfun ran\n"},
        {"getmem -1", kInitial, [] { return getmem(-1); }, 1, "\ncannot get the memory of -1 bytes\nendfun ran\n"},
        {"getmem -5000: never the K form", kInitial, [] { return getmem(-5000); }, 1,
         "\ncannot get the memory of -5000 bytes\nendfun ran\n"},
        {"getmem 0 at terminate_size 0", 0, [] { return getmem(0); }, 3,
         "\ncannot get the memory of 0 bytes\nreturned null\n"},
        {"getmem -1 at terminate_size -1", -1, [] { return getmem(-1); }, 3,
         "\ncannot get the memory of -1 bytes\nreturned null\n"},
        {"moremem to 0 keeps the block", kInitial, [] { return moremem(g_block, 0); }, 1,
         "cannot get the memory of 0 bytes\nblock holds kept\n", show_block},
        {"moremem to -1 keeps the block", kInitial, [] { return moremem(g_block, -1); }, 1,
         "cannot get the memory of -1 bytes\nblock holds kept\n", show_block},
        {"moremem of null to 0", kInitial, [] { return moremem(nullptr, 0); }, 1,
         "cannot get the memory of 0 bytes\nendfun ran\n"},
        {"moremem -2048 ignores terminate_size", -5000, [] { return moremem(g_block, -2048); }, 1,
         "cannot get the memory of -2048 bytes\nendfun ran\n"},
        {"getmemLock 0: getmem ends it", kInitial, [] { return getmemLock(0); }, 1,
         "\ncannot get the memory of 0 bytes\nendfun ran\n"},
        {"getmemLock -3 at terminate_size -3", -3, [] { return getmemLock(-3); }, 1,
         "\ncannot get the memory of -3 bytes\nFaital error:\ncannot get memory of -3 bytes"},
    };
    expect_failures(cases, false);
}

}  // namespace
