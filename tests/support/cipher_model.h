// An independent model of the file cipher, written for clarity, not speed:
// the running key is a real buffer whose bytes are bumped as they are used,
// and the generator steps once per byte. The fast implementation must match
// it bit for bit.
#ifndef TESTS_SUPPORT_CIPHER_MODEL_H
#define TESTS_SUPPORT_CIPHER_MODEL_H

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

class CipherModel {
public:
    explicit CipherModel(const std::string &key);

    // The generator's next draw, 0 to 32767.
    int draw();
    // Transforms one block in place; bytes at or past limit (-1: none) stay.
    void block(unsigned char *data, int length, std::int64_t done, std::int64_t limit);

private:
    std::vector<unsigned char> key_buf_;  // the key and its terminating zero
    int key_len_;
    std::uint32_t state_;
};

// The whole file as a block-by-block conversion leaves it.
std::string model_convert(const std::string &key, std::string data, std::int64_t limit = -1);

}  // namespace testing_support

#endif
