#include "lumlib/memory.h"

namespace lumlib {

// The default, in an object file of its own: the linker takes it from the
// archive only for a program that leaves endfun undefined, and a program's
// own definition keeps it out. Unlike a weak symbol, this works the same
// with ELF and with PE/COFF linkers.
void (*endfun)() = nullptr;

}  // namespace lumlib
