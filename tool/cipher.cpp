#include "cipher.h"

#include <algorithm>
#include <optional>

#include "keystream.h"
#include "lumlib/messages.h"

namespace lumtar {

const char *key_text = "";

namespace {

// The key state of the file being converted.
std::optional<Keystream> keystream;

// How many bytes of the block lie before the limit.
int convertible_length(int length, std::int64_t done, std::int64_t limit)
{
    if (limit == -1)
        return length;
    return static_cast<int>(std::clamp<std::int64_t>(limit - done, 0, length));
}

}  // namespace

bool is_text(const unsigned char *block, int length)
{
    return std::all_of(block, block + length,
                       [](unsigned char c) { return c >= 0x20 || c == '\n' || c == '\r' || c == '\t'; });
}

int cipher_block(const char *file_name, int first_block, int text_mode, unsigned char *buffer,
                 int length, std::int64_t done, std::int64_t limit)
{
    bool check_text = first_block && text_mode;
    bool was_text = check_text && is_text(buffer, length);
    if (first_block)
        keystream.emplace(key_text);
    keystream->apply(buffer, static_cast<std::size_t>(convertible_length(length, done, limit)),
                     static_cast<std::uint64_t>(done));
    if (check_text && is_text(buffer, length) == was_text) {
        lumlib::errmsg("\"%s\": not a text file or mistaken keycode.\n", file_name);
        return -1;
    }
    return 0;
}

}  // namespace lumtar
