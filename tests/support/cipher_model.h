// An independent model of the file cipher, written for clarity, not speed:
// the running key is a real buffer whose bytes are bumped as they are used,
// and the generator steps once per byte. The fast implementation must match
// it bit for bit.
#ifndef TESTS_SUPPORT_CIPHER_MODEL_H
#define TESTS_SUPPORT_CIPHER_MODEL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

class CipherModel {
public:
    explicit CipherModel(const std::string &key);
    // Converts the next n bytes of the file.
    void apply(unsigned char *data, std::size_t n);

private:
    std::size_t key_length_;
    std::vector<unsigned char> running_;  // the key and its terminating zero
    std::uint32_t state_ = 0;
    std::uint64_t pos_ = 0;
    std::size_t key_pos_ = 0;
};

// The whole file as the tool leaves it; bytes at or past limit (-1: none)
// stay as they are.
std::string model_convert(const std::string &key, std::string data, std::int64_t limit = -1);

}  // namespace testing_support

#endif
