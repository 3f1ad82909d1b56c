// Enciphering and deciphering a file: the same call does both, since the
// keystream depends only on the key and the position.
#ifndef LUMTAR_CIPHER_H
#define LUMTAR_CIPHER_H

#include <cstddef>
#include <cstdint>

#include "keystream.h"

namespace lumtar {

// The key; set before the first block of the first file.
extern const char *key_text;

// Transforms one block in place: one call per 2048-byte block of the file,
// in file order. first_block starts a file: the key state is set up afresh
// from key_text. done is the number of bytes of this file handed to earlier
// calls; every earlier block of the file is 2048 bytes long, so only the
// last block may be shorter. Only bytes before limit are transformed (-1: no
// limit). In text mode the first block must change between text and
// non-text: if it does not, the message goes out through errmsg and the
// result is -1 (the buffer is transformed all the same). The result is 0
// otherwise.
int cipher_block(const char *file_name, int first_block, int text_mode, unsigned char *buffer,
                 int length, std::int64_t done, std::int64_t limit);

// The same for any run of whole blocks at file offset done, with a key
// state of the caller's. check_text makes the first-block test, over the
// first 2048 bytes of data; the result is false when it fails.
bool transform(Keystream &keystream, bool check_text, unsigned char *data, std::size_t length,
               std::int64_t done, std::int64_t limit);

// How many of length bytes at offset done lie before limit.
std::size_t convertible_length(std::size_t length, std::int64_t done, std::int64_t limit);

// Whether a block is text: no byte below 0x20 other than tab, line feed and
// carriage return. An empty block is text.
bool is_text(const unsigned char *block, std::size_t length);

}  // namespace lumtar

#endif
