#include "support/cipher_model.h"

#include <algorithm>

namespace testing_support {

// The generator is seeded with the first four key bytes.
CipherModel::CipherModel(const std::string &key) : key_length_(key.size()), running_(key.begin(), key.end())
{
    running_.push_back(0);
    for (std::size_t i = 0; i < key.size() && i < 4; ++i)
        state_ = state_ * 256 + static_cast<unsigned char>(key[i]);
}

// Byte p is XORed with the low byte of the generator's draw p + 1 and with
// the running key's next byte, which then goes up by one; the running key
// starts over at every 2048-byte block.
void CipherModel::apply(unsigned char *data, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        if (pos_++ % 2048 == 0)
            key_pos_ = 0;
        state_ = state_ * 22695477u + 1u;
        data[i] = static_cast<unsigned char>(data[i] ^ ((state_ >> 16) & 0xFF) ^ running_[key_pos_]++);
        if (++key_pos_ >= key_length_)
            key_pos_ = 0;
    }
}

std::string model_convert(const std::string &key, std::string data, std::int64_t limit)
{
    std::size_t n = limit < 0 ? data.size() : std::min(data.size(), static_cast<std::size_t>(limit));
    CipherModel(key).apply(reinterpret_cast<unsigned char *>(data.data()), n);
    return data;
}

}  // namespace testing_support
