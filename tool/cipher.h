// Enciphering and deciphering a file block by block: one call per 2048-byte
// block of the file, in file order. The same call both enciphers and
// deciphers, since the keystream depends only on the key and the position.
#ifndef LUMTAR_CIPHER_H
#define LUMTAR_CIPHER_H

#include <cstdint>

namespace lumtar {

// The key; set before the first block of the first file.
extern const char *key_text;

// Transforms one block in place. first_block starts a file: the key state
// is set up afresh from key_text. done is the number of bytes of this file
// handed to earlier calls; every earlier block of the file is 2048 bytes
// long, so only the last block may be shorter. Only bytes before limit are
// transformed (-1: no limit). In text mode the first block must change
// between text and non-text: if it does not, the message goes out through
// errmsg and the result is -1 (the buffer is transformed all the same). The
// result is 0 otherwise.
int cipher_block(const char *file_name, int first_block, int text_mode, unsigned char *buffer,
                 int length, std::int64_t done, std::int64_t limit);

// Whether a block is text: no byte below 0x20 other than tab, line feed and
// carriage return. An empty block is text.
bool is_text(const unsigned char *block, int length);

}  // namespace lumtar

#endif
