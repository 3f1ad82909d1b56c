#include "lumlib/memory.h"

#include <cstdlib>
#include <cstring>

#include "lumlib/messages.h"

namespace lumlib {

int terminate_size = 0x7FFFFFFF;

namespace {

// The size message of a failed request: whole bytes up to 1000, else
// kilobytes by the routine's own divisor.
void report_size(const char *kbytes_format, int divisor, const char *bytes_format, int size)
{
    if (size > 1000)
        errmsg(kbytes_format, size / divisor);
    else
        errmsg(bytes_format, size);
}

[[noreturn]] void die_after_cleanup()
{
    if (endfun != nullptr)
        endfun();
    std::exit(1);
}

}  // namespace

// calloc(0) may hand out a block; a request for no bytes fails here on
// every platform alike, and so does a negative one.
void *getmem(int size)
{
    if (void *block = size > 0 ? std::calloc(static_cast<size_t>(size), 1) : nullptr)
        return block;
    report_size("\ncannot get the memory of %d K bytes\n", 1024, "\ncannot get the memory of %d bytes\n", size);
    if (size >= terminate_size)
        return nullptr;
    die_after_cleanup();
}

// realloc to 0 bytes would release the block before the failure is
// reported, so such a request never reaches it.
void *moremem(void *block, int size)
{
    if (void *resized = size > 0 ? std::realloc(block, static_cast<size_t>(size)) : nullptr)
        return resized;
    report_size("cannot get the memory of %d K bytes\n", 1000, "cannot get the memory of %d bytes\n", size);
    die_after_cleanup();
}

void freeMem(void *block) { std::free(block); }

void *getmemLock(int size)
{
    if (void *block = getmem(size))
        return block;
    report_size("Faital error:\ncannot get the memory of %d K bytes", 1000,
                "Faital error:\ncannot get memory of %d bytes", size);
    std::exit(1);
}

void *getmemAdr(void *handle) { return handle; }

void freeLocal(void *handle) { freeMem(handle); }

char *setstr(const char *text)
{
    size_t len = std::strlen(text);
    // A text too long for an int size cannot be had either.
    int size = len <= 0x7FFFFFFF - 3 ? static_cast<int>(len) + 3 : -1;
    char *copy = static_cast<char *>(getmem(size));
    if (copy == nullptr) {
        errmsg("cannot get memory\n");
        die_after_cleanup();
    }
    return std::strcpy(copy, text);
}

char *addstr(char *str, const char *text)
{
    size_t len = std::strlen(str);
    size_t more = std::strlen(text);
    char *joined = static_cast<char *>(std::realloc(str, len + more + 1));
    if (joined == nullptr) {
        errmsg("can't get memory\n");
        die_after_cleanup();
    }
    std::memcpy(joined + len, text, more + 1);
    return joined;
}

}  // namespace lumlib
