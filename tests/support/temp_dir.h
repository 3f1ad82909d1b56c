// A fresh directory for one test, removed with everything in it afterwards,
// and small helpers for whole-file contents.
#ifndef TESTS_SUPPORT_TEMP_DIR_H
#define TESTS_SUPPORT_TEMP_DIR_H

#include <string>

namespace testing_support {

class TempDir {
public:
    // In the system's temporary directory, or in base when one is given.
    explicit TempDir(const std::string &base = {});
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    // The path of a name inside the directory.
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Paths are UTF-8, on Windows too.
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &content);
// Bytes of every value, the same for the same seed.
std::string random_bytes(std::size_t size, unsigned seed);

}  // namespace testing_support

#endif
