#include "support/system.h"

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

namespace testing_support {

namespace {

std::size_t mapped_bytes()
{
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace

std::string text_output(const std::string &text) { return text; }

std::size_t allocated_size(void *block) { return malloc_usable_size(block); }

std::string why_no_memory_cap() { return ""; }

bool cap_memory(std::size_t headroom)
{
    rlimit cap{};
    cap.rlim_cur = cap.rlim_max = mapped_bytes() + headroom;
    return setrlimit(RLIMIT_AS, &cap) == 0;
}

}  // namespace testing_support
