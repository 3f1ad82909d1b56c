// A stand-in for the operating-system layer of the file helpers, linked in
// place of the real one: each query gives the answer a test sets and is
// written down, so that a test can show what no real file system shows on
// demand (a failing query, more free bytes than an int holds).
#ifndef TESTS_PLATFORM_DOUBLE_H
#define TESTS_PLATFORM_DOUBLE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform_double {

struct Answers {
    std::optional<double> free_bytes;
    std::optional<std::uint64_t> cluster_size;
    bool is_directory = false;
    bool same_file = false;
};

// What the next queries answer; tests set it, reset() restores it.
extern Answers answers;
// Every query so far, as "free_bytes <path>", "cluster_size <path>" ...
extern std::vector<std::string> asked;

void reset();

}  // namespace platform_double

#endif
