#include "support/system.h"

#include <malloc.h>

namespace testing_support {

std::string text_output(const std::string &text)
{
    std::string bytes;
    for (char c : text)
        bytes += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return bytes;
}

std::size_t allocated_size(void *block) { return _msize(block); }

// A job object's memory limit is the nearest thing, but Wine accepts it
// without enforcing it, so a test built on it would prove nothing there.
std::string why_no_memory_cap()
{
    return "Windows has no address-space limit of the process (RLIMIT_AS); the job memory limit "
           "that could stand for it is not enforced under Wine";
}

bool cap_memory(std::size_t) { return false; }

}  // namespace testing_support
