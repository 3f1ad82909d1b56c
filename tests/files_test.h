// Shared by the file helpers' tests: files_test.cpp holds the tests of every
// system; files_posix_test.cpp or files_win32_test.cpp, chosen by CMake, adds
// what only its system can show, such as where its figures come from.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#include "lumlib/files.h"
#include "support/temp_dir.h"

namespace files_test {

namespace fs = std::filesystem;

// A result and what was written to the standard error stream meanwhile.
using Outcome = std::pair<int, std::string>;

template <class Fn>
Outcome with_stderr(Fn fn)
{
    testing::internal::CaptureStderr();
    int result = fn();
    return {result, testing::internal::GetCapturedStderr()};
}

inline Outcome copy(const std::string &src, const std::string &dst, int mode = 0)
{
    return with_stderr([&] { return lumlib::copyFile(src.c_str(), dst.c_str(), mode); });
}

// Other names under which the system finds dir/name, made here as needed.
std::vector<std::string> other_names(const testing_support::TempDir &dir, const std::string &name);

}  // namespace files_test
