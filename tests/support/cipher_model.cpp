#include "support/cipher_model.h"

#include <algorithm>

namespace testing_support {

CipherModel::CipherModel(const std::string &key)
    : key_buf_(key.begin(), key.end()), key_len_(static_cast<int>(key.size())), state_(0)
{
    key_buf_.push_back(0);
    for (std::size_t i = 0; i < key.size() && i < 4; ++i)
        state_ = state_ * 256 + static_cast<unsigned char>(key[i]);
}

int CipherModel::draw()
{
    state_ = state_ * 22695477u + 1u;
    return static_cast<int>((state_ >> 16) & 0x7FFF);
}

void CipherModel::block(unsigned char *data, int length, std::int64_t done, std::int64_t limit)
{
    int key_pos = 0;
    for (int i = 0; i < length; ++i) {
        if (limit != -1 && done + i >= limit)
            break;
        int r = draw();
        data[i] ^= static_cast<unsigned char>((r & 0xFF) ^ key_buf_[key_pos]);
        ++key_buf_[key_pos];
        if (++key_pos >= key_len_)
            key_pos = 0;
    }
}

std::string model_convert(const std::string &key, std::string data, std::int64_t limit)
{
    CipherModel model(key);
    for (std::size_t done = 0; done < data.size(); done += 2048) {
        int length = static_cast<int>(std::min<std::size_t>(2048, data.size() - done));
        model.block(reinterpret_cast<unsigned char *>(&data[done]), length, static_cast<std::int64_t>(done), limit);
    }
    return data;
}

}  // namespace testing_support
