#include "lumlib/files.h"

#include <climits>

#include "lumlib/memory.h"
#include "lumlib/messages.h"
#include "platform.h"

namespace lumlib {

double FreeDiskSpace = 0.0;

namespace {

constexpr int kFallbackBufferSize = 1024;

// Mode 1 must never overwrite: creating exclusively refuses an existing
// destination even when it is write-only, and leaves no window between a
// check and the creation.
FILE *open_destination(const char *path, int mode)
{
    return mode == 1 ? platform::create_new(path) : std::fopen(path, "wb");
}

bool has_drive_prefix(const char *path) { return path[0] != '\0' && path[1] == ':'; }

}  // namespace

int getClusterSize(const char *path)
{
    auto size = platform::cluster_size(path);
    return size && *size <= INT_MAX ? static_cast<int>(*size) : 0;
}

int getFreeSpace(const char *path)
{
    FreeDiskSpace = platform::free_bytes(path).value_or(-1.0);
    return FreeDiskSpace > INT_MAX ? INT_MAX : static_cast<int>(FreeDiskSpace);
}

// The source is opened, and checked against the destination, before the
// destination is created or emptied, so that a failed start loses nothing.
int copyFile(const char *src, const char *dst, int mode)
{
    FILE *in = std::fopen(src, "rb");
    if (in == nullptr)
        return 0;
    if (platform::same_file(in, dst)) {
        std::fclose(in);
        return 0;
    }
    int size = getClusterSize(dst);
    if (size == 0)
        size = kFallbackBufferSize;
    char *buf = static_cast<char *>(getmem(size));
    FILE *out = buf != nullptr ? open_destination(dst, mode) : nullptr;
    if (out == nullptr) {
        freeMem(buf);
        std::fclose(in);
        return 0;
    }
    size_t got;
    while ((got = std::fread(buf, 1, static_cast<size_t>(size), in)) > 0) {
        if (std::fwrite(buf, 1, got, out) < got) {
            errmsg("%s: writing error\n", dst);
            Fclose(out, dst);
            std::fclose(in);
            freeMem(buf);
            return 0;
        }
    }
    freeMem(buf);
    bool read_failed = std::ferror(in) != 0;
    std::fclose(in);
    if (read_failed) {
        errmsg("%s: reading error\n", src);
        std::fclose(out);
        return 0;
    }
    if (Fclose(out, dst) != 0) {
        errmsg("%s: writing error\n", dst);
        return 0;
    }
    return 1;
}

int Fclose(FILE *fp, const char *path)
{
    if (int closed = std::fclose(fp))
        return closed;
    if (getFreeSpace(path) > 0)
        return 0;
    if (has_drive_prefix(path))
        errmsg("%c drive: no free disk space\n", path[0]);
    else
        errmsg("no free disk space\n");
    return -1;
}

int isDir(const char *path) { return platform::is_directory(path) ? 1 : 0; }

}  // namespace lumlib
