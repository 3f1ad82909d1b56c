// A child for the process helper's test: writes each argument after the
// first in brackets on the standard output, and on the standard error
// stream the value of LUMTAR_CHILD_NOTE and the name of its working
// directory; exits with the status given as the first argument. No line
// ends: what the test sees is what was written, on every system.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

int main(int argc, char **argv)
{
    for (int i = 2; i < argc; ++i)
        std::printf("[%s]", argv[i]);
    const char *note = std::getenv("LUMTAR_CHILD_NOTE");
    std::fprintf(stderr, "%s in %s", note != nullptr ? note : "no note",
                 std::filesystem::current_path().filename().string().c_str());
    return argc > 1 ? std::atoi(argv[1]) : 99;
}
