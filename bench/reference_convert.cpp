// The straightforward conversion, as a baseline for the benchmarks: blocks
// of 2048 bytes through buffered streams (read, seek back, write, seek) and
// the per-byte reference cipher. Usage: lumtar_reference <key> <file>
#include <cstdio>

#include "support/cipher_model.h"

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: lumtar_reference <key> <file>\n");
        return 2;
    }
    std::FILE *f = std::fopen(argv[2], "rb+");
    if (f == nullptr) {
        std::perror(argv[2]);
        return 1;
    }
    testing_support::CipherModel model(argv[1]);
    unsigned char block[2048];
    for (;;) {
        size_t n = std::fread(block, 1, sizeof block, f);
        model.apply(block, n);
        std::fseek(f, -static_cast<long>(n), SEEK_CUR);
        std::fwrite(block, 1, n, f);
        if (n != sizeof block)
            break;
        std::fseek(f, 0, SEEK_CUR);
    }
    return std::fclose(f) == 0 ? 0 : 1;
}
