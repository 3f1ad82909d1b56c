#include "cipher.h"

#include <algorithm>
#include <optional>

#include "lumlib/messages.h"

namespace lumtar {

const char *key_text = "";

namespace {

// The key state of the file that cipher_block is converting.
std::optional<Keystream> keystream;

}  // namespace

bool is_text(const unsigned char *block, std::size_t length)
{
    return std::all_of(block, block + length,
                       [](unsigned char c) { return c >= 0x20 || c == '\n' || c == '\r' || c == '\t'; });
}

std::size_t convertible_length(std::size_t length, std::int64_t done, std::int64_t limit)
{
    if (limit == -1)
        return length;
    return static_cast<std::size_t>(std::clamp<std::int64_t>(limit - done, 0, static_cast<std::int64_t>(length)));
}

bool transform(Keystream &keystream, bool check_text, unsigned char *data, std::size_t length,
               std::int64_t done, std::int64_t limit)
{
    std::size_t first_block = check_text ? std::min(length, kBlockSize) : 0;
    bool was_text = is_text(data, first_block);
    keystream.apply(data, convertible_length(length, done, limit), static_cast<std::uint64_t>(done));
    return !check_text || is_text(data, first_block) != was_text;
}

int cipher_block(const char *file_name, int first_block, int text_mode, unsigned char *buffer,
                 int length, std::int64_t done, std::int64_t limit)
{
    if (first_block)
        keystream.emplace(key_text);
    if (transform(*keystream, first_block && text_mode, buffer, static_cast<std::size_t>(length), done, limit))
        return 0;
    lumlib::errmsg("\"%s\": not a text file or mistaken keycode.\n", file_name);
    return -1;
}

}  // namespace lumtar
