#include "support/temp_dir.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace testing_support {

namespace fs = std::filesystem;

// A random name that no other directory has: creating it is the test.
TempDir::TempDir(const std::string &base)
{
    std::random_device entropy;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        fs::path candidate = (base.empty() ? fs::temp_directory_path() : fs::path(base)) /
                             ("lumtar-test-" + std::to_string(entropy()));
        if (fs::create_directory(candidate))
            path_ = candidate.string();
    }
    if (path_.empty())
        throw std::runtime_error("cannot create a temporary directory");
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::replace);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    // Files the tests made read-only must not stop the clean-up.
    for (const auto &entry : fs::recursive_directory_iterator(path_, ignored))
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(fs::u8path(path), std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void write_file(const std::string &path, const std::string &content)
{
    std::ofstream out(fs::u8path(path), std::ios::binary);
    if (!out.write(content.data(), static_cast<std::streamsize>(content.size())))
        throw std::runtime_error("cannot write " + path);
}

std::string random_bytes(std::size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string bytes(size, '\0');
    for (std::size_t at = 0; at < size; at += 4) {
        std::uint32_t word = rng();
        std::memcpy(&bytes[at], &word, std::min<std::size_t>(4, size - at));
    }
    return bytes;
}

}  // namespace testing_support
