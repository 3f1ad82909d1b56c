// Shared by the tool's process-level tests. lumtar_test.cpp holds the
// tests of every system; one of lumtar_posix_test.cpp and
// lumtar_win32_test.cpp, chosen by CMake, adds what only its system has.
#ifndef TESTS_LUMTAR_TEST_H
#define TESTS_LUMTAR_TEST_H

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/cipher_model.h"
#include "support/process.h"
#include "support/system.h"
#include "support/temp_dir.h"

namespace lumtar_test {

using testing_support::model_convert;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::random_bytes;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::text_output;
using testing_support::write_file;

extern const std::string kUsageLine;

// Runs the built tool with the arguments.
ProcessResult lumtar(std::vector<std::string> args, const ProcessOptions &options = {});

// Compares long byte strings, naming the first difference instead of
// printing both.
testing::AssertionResult same_bytes(const std::string &got, const std::string &want);

// Runs the tool on names, each of which it must refuse with "not a regular
// file." and never write, and then on a regular file in dir, which it must
// still convert.
void expect_refused_as_not_regular(const std::vector<std::string> &names, const TempDir &dir);

// The count of an interruption message about path, after checking the
// message's exact form; empty when it is not one.
std::optional<std::uint64_t> interruption_count(const std::string &err, const std::string &path);

// A file of several GiB, memory-backed when the system has room for it,
// removed afterwards. Bytes never written read as zeros.
class BigFile {
public:
    BigFile(const TempDir &fallback, std::uint64_t size);
    ~BigFile();
    BigFile(const BigFile &) = delete;
    BigFile &operator=(const BigFile &) = delete;

    const std::string &path() const { return path_; }
    void write_at(std::uint64_t offset, const std::string &bytes);
    std::string read_at(std::uint64_t offset, std::size_t n) const;

private:
    std::string path_;
};

}  // namespace lumtar_test

#endif
