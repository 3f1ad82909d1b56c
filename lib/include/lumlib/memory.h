// Guarded memory: blocks and text copies under one failure policy.
//
// A request the allocator cannot satisfy is reported through errmsg and
// ends the process with exit status 1, after endfun has run when it is set.
// So callers need no null test, except for getmem requests of at least
// terminate_size bytes. A size of 0 or less is such a failed request too.
// Every block is ordinary heap memory: resize it with moremem or addstr,
// release it with freeMem, freeLocal or free().
#ifndef LUMLIB_MEMORY_H
#define LUMLIB_MEMORY_H

namespace lumlib {

// A failed getmem request of at least this many bytes returns null after
// its message instead of ending the process. Initially INT_MAX.
extern int terminate_size;

// Cleanup run just before a fatal exit (not by getmemLock); null for none.
// The library holds a null default, so a program without cleanup need not
// define it; a program's own definition takes its place.
extern void (*endfun)();

// A zero-filled block of size bytes. On failure writes
// "\ncannot get the memory of %d bytes\n" (size), or the "%d K bytes" form
// with size / 1024 when size is over 1000; then returns null if size is at
// least terminate_size, else ends the process.
void *getmem(int size);
// The block (null: a new one) resized to size bytes, its content kept up to
// the smaller size; never null. On failure writes
// "cannot get the memory of %d bytes\n", or the "%d K bytes" form with
// size / 1000 when size is over 1000, and ends the process. A size of 0 is
// a failed request: the block is not released first.
void *moremem(void *block, int size);
// Releases a block; null is ignored.
void freeMem(void *block);

// getmem that never returns null: when getmem gives up, also writes
// "Faital error:\ncannot get the memory of %d K bytes" (size / 1000) or
// "Faital error:\ncannot get memory of %d bytes" and ends the process
// without calling endfun.
void *getmemLock(int size);
// The address of a getmemLock block: the handle itself.
void *getmemAdr(void *handle);
// Releases a getmemLock block; null is ignored.
void freeLocal(void *handle);

// A copy of text in a zero-filled block 3 bytes longer than the text.
// Writes "cannot get memory\n" and ends the process if getmem gives up.
char *setstr(const char *text);
// Appends text to the heap string str, resizing its block to fit exactly;
// the result may move, and str is then no longer valid. Writes
// "can't get memory\n" and ends the process on failure.
char *addstr(char *str, const char *text);

}  // namespace lumlib

#endif
