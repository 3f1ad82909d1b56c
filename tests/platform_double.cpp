#include "platform_double.h"

#include "platform.h"

namespace platform_double {

Answers answers;
std::vector<std::string> asked;

void reset()
{
    answers = Answers{};
    asked.clear();
}

}  // namespace platform_double

namespace lumlib::platform {

using platform_double::answers;
using platform_double::asked;

std::optional<double> free_bytes(const char *path)
{
    asked.push_back(std::string("free_bytes ") + path);
    return answers.free_bytes;
}

std::optional<std::uint64_t> cluster_size(const char *path)
{
    asked.push_back(std::string("cluster_size ") + path);
    return answers.cluster_size;
}

bool is_directory(const char *path)
{
    asked.push_back(std::string("is_directory ") + path);
    return answers.is_directory;
}

bool same_file(std::FILE *, const char *path)
{
    asked.push_back(std::string("same_file ") + path);
    return answers.same_file;
}

// Creating files is not what the double stands in for.
std::FILE *create_new(const char *path)
{
    asked.push_back(std::string("create_new ") + path);
    return std::fopen(path, "wbx");
}

}  // namespace lumlib::platform
