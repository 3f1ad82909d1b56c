// A double of a failing system for the tool's POSIX tests, installed in
// the child before the tool starts: a seccomp filter under which every
// call of one system call fails with one error.
#ifndef TESTS_SUPPORT_FAIL_CALLS_H
#define TESTS_SUPPORT_FAIL_CALLS_H

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstddef>

namespace testing_support {

// Every call of the system call fails with the error: positioned writes
// as a failing disk's would, extended attributes as on a file system that
// keeps none.
template <unsigned call, unsigned error>
void fail_calls()
{
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, call, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | error),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{sizeof filter / sizeof filter[0], filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        _exit(126);
}

}  // namespace testing_support

#endif
