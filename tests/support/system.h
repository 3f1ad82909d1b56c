// What the tests ask of the operating system that each system does its own
// way. One implementation per system, chosen by CMake: system_posix.cpp,
// system_win32.cpp.
#ifndef TESTS_SUPPORT_SYSTEM_H
#define TESTS_SUPPORT_SYSTEM_H

#include <cstddef>
#include <string>

namespace testing_support {

// The bytes that a program's text-mode stream writes for text: on Windows
// every line feed goes out as a carriage return and a line feed.
std::string text_output(const std::string &text);

// The bytes the allocator holds for a block: at least the size asked for.
std::size_t allocated_size(void *block);

// Why this system cannot cap the memory of a process so that the allocator
// fails for real; empty where it can.
std::string why_no_memory_cap();

// Caps this process's address space at what it maps now plus headroom
// bytes; false when the cap is refused. For a child that is about to run
// out of memory on purpose: the cap cannot be lifted again.
bool cap_memory(std::size_t headroom);

}  // namespace testing_support

#endif
