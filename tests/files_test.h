// Shared by the file helpers' tests. files_test.cpp holds the tests of
// every system; one of files_posix_test.cpp and files_win32_test.cpp,
// chosen by CMake, adds the tests that only its system can run and says
// what the system's own figures and names are.
#ifndef TESTS_FILES_TEST_H
#define TESTS_FILES_TEST_H

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace files_test {

using testing_support::random_bytes;
// Runs fn and returns what it wrote to the standard error stream.
std::string stderr_of(const std::function<void()> &fn);
testing::Matcher<const std::string &> exactly(const std::string &text);

// ---- What each system answers ----------------------------------------------

// Other names under which the system finds the file dir/name, made here
// where they have to be: a symbolic link, another spelling.
std::vector<std::string> other_names(const testing_support::TempDir &dir, const std::string &name);

// A path to ask the file helpers about, and the place whose figures it
// must give: the file system or drive that holds it.
struct FigureCase {
    std::string path;
    std::string place;
};
std::vector<FigureCase> figure_cases(const testing_support::TempDir &dir);

// The system's own figures of a place.
double system_free_bytes(const std::string &place);
int system_cluster_size(const std::string &place);

}  // namespace files_test

#endif
