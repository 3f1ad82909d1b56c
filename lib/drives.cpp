#include "drives.h"

namespace lumlib::platform {

std::string drive_root(const char *path)
{
    if (path[0] != '\0' && path[1] == ':')
        return {path[0], ':', '\\'};
    return "\\";
}

double cluster_bytes(std::uint32_t clusters, std::uint32_t sectors_per_cluster, std::uint32_t bytes_per_sector)
{
    unsigned __int128 product = static_cast<unsigned __int128>(clusters) * sectors_per_cluster * bytes_per_sector;
    return static_cast<double>(product);
}

}  // namespace lumlib::platform
