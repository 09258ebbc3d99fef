/*
 * Starts a program in a state a hostile caller could hand it, for the
 * end-to-end tests:
 *
 *   launch [--ignore N,N...] [--block N,N...] [--no-arguments]
 *          [--deny-close-range] [--deny-setresuid ERRNO] [--drop-to UID:GID]
 *          [--timer-slack NS] [--timers MS] [--bind-memory] [--no-thp]
 *          [--session-keyring NAME] PROGRAM [ARG...]
 *
 * --ignore sets the listed signals to SIG_IGN, --block adds them to the
 * signal mask (both survive exec), and --no-arguments starts PROGRAM with
 * an empty argument vector. --deny-close-range makes close_range fail
 * with ENOSYS for PROGRAM and everything it starts, as on a kernel before
 * Linux 5.9; it takes root, since the seccomp filter that does it must not
 * set no_new_privs, which would stop a set-user-ID program started later
 * from becoming root: PROGRAM is then what drops to the caller (setpriv).
 * --deny-setresuid makes setresuid fail the same way with the error number
 * ERRNO, as a security module might refuse it, or with 0 return success
 * having done nothing. --drop-to then gives up root with
 * setgroups, setgid and setuid, which the filters let through (setpriv
 * would use setresuid itself).
 * Each of the rest sets state that survives exec: --timer-slack the timer
 * slack to NS nanoseconds, --timers arms the real, virtual and profiling
 * interval timers to expire after MS milliseconds, --bind-memory binds the
 * memory policy to node 0, --no-thp turns transparent huge pages off, and
 * --session-keyring joins a new session keyring named NAME.
 * Built with the host's compiler, like the recorder.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <grp.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/keyctl.h>
#include <linux/mempolicy.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

static void forEachSignal(char *list, void (*apply)(int))
{
    for (char *item = strtok(list, ","); item; item = strtok(NULL, ","))
        apply(atoi(item));
}

static void ignoreSignal(int number)
{
    signal(number, SIG_IGN);
}

static sigset_t blocked;

static void blockSignal(int number)
{
    sigaddset(&blocked, number);
}

/* close_range is system call 436 for 64-bit x86 programs and for 32-bit
 * ones alike, run by the kernel or by qemu-user on its behalf. setresuid
 * is 117 for 64-bit ones, which qemu-user makes too, and 208 (setresuid32)
 * or 164 for 32-bit ones. Any other architecture's calls pass. */
enum { closeRangeNumber = 436, setresuidNumber = 117, setresuid32Number = 208, setresuid16Number = 164 };

/* Makes the 64-bit x86 system call `number`, and the 32-bit ones
 * `number32` and `number16`, fail with `error`. */
static int deny(const char *name, unsigned number, unsigned number32, unsigned number16, int error)
{
    struct sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 4, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_I386, 0, 6),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, number32, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, number16, 2, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, number, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ((unsigned)error & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog filter = {sizeof program / sizeof *program, program};
    if (syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) != 0) {
        fprintf(stderr, "launch: cannot install the filter that denies %s: %s\n", name, strerror(errno));
        return -1;
    }
    /* A filter that matched nothing would let the test pass through the
     * call itself. Denied, neither call changes anything; let through, the
     * first would return 0 and the second give up root's effective id. */
    long result = number == closeRangeNumber ? syscall(number, ~0U, ~0U, 0) : syscall(number, -1, 65534, -1);
    if (result != (error ? -1 : 0) || (error && errno != error) || geteuid() != 0) {
        fprintf(stderr, "launch: the filter does not deny %s\n", name);
        return -1;
    }
    return 0;
}

int main(int argc, char *argv[])
{
    int first = 1;
    int noArguments = 0;
    int noCloseRange = 0, setresuidError = -1, failed = 0;
    unsigned user = 0, group = 0;
    const char *dropIds = NULL;
    long timerMilliseconds = 0;
    unsigned long nodeZero = 1;
    sigemptyset(&blocked);
    for (; first < argc && strncmp(argv[first], "--", 2) == 0; ++first) {
        if (strcmp(argv[first], "--ignore") == 0 && first + 1 < argc)
            forEachSignal(argv[++first], ignoreSignal);
        else if (strcmp(argv[first], "--block") == 0 && first + 1 < argc)
            forEachSignal(argv[++first], blockSignal);
        else if (strcmp(argv[first], "--no-arguments") == 0)
            noArguments = 1;
        else if (strcmp(argv[first], "--deny-close-range") == 0)
            noCloseRange = 1;
        else if (strcmp(argv[first], "--deny-setresuid") == 0 && first + 1 < argc)
            setresuidError = atoi(argv[++first]);
        else if (strcmp(argv[first], "--drop-to") == 0 && first + 1 < argc)
            dropIds = argv[++first];
        else if (strcmp(argv[first], "--timers") == 0 && first + 1 < argc)
            timerMilliseconds = atol(argv[++first]);
        else if (strcmp(argv[first], "--timer-slack") == 0 && first + 1 < argc) {
            if (prctl(PR_SET_TIMERSLACK, strtoul(argv[++first], NULL, 10)) != 0) {
                perror("launch: cannot set the timer slack");
                return 2;
            }
        }
        else if (strcmp(argv[first], "--bind-memory") == 0)
            failed = syscall(SYS_set_mempolicy, MPOL_BIND, &nodeZero, 8 * sizeof nodeZero) != 0;
        else if (strcmp(argv[first], "--no-thp") == 0)
            failed = prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0) != 0;
        else if (strcmp(argv[first], "--session-keyring") == 0 && first + 1 < argc)
            failed = syscall(SYS_keyctl, KEYCTL_JOIN_SESSION_KEYRING, argv[++first]) == -1;
        else {
            fprintf(stderr, "launch: unknown option %s\n", argv[first]);
            return 2;
        }
        if (failed) {
            fprintf(stderr, "launch: %s: %s\n", argv[first], strerror(errno));
            return 2;
        }
    }
    if (first >= argc) {
        fprintf(stderr, "usage: launch [--ignore N,...] [--block N,...] [--no-arguments] "
                        "[--deny-close-range] [--deny-setresuid ERRNO] [--drop-to UID:GID] [--timer-slack NS] "
                        "[--timers MS] [--bind-memory] [--no-thp] [--session-keyring NAME] PROGRAM [ARG...]\n");
        return 2;
    }
    if (noCloseRange && deny("close_range", closeRangeNumber, closeRangeNumber, closeRangeNumber, ENOSYS) != 0)
        return 2;
    if (setresuidError >= 0 &&
        deny("setresuid", setresuidNumber, setresuid32Number, setresuid16Number, setresuidError) != 0)
        return 2;
    if (dropIds && (sscanf(dropIds, "%u:%u", &user, &group) != 2 || setgroups(0, NULL) != 0 || setgid(group) != 0 ||
                    setuid(user) != 0)) {
        fprintf(stderr, "launch: cannot drop to %s: %s\n", dropIds, strerror(errno));
        return 2;
    }
    /* Last, so that they run from the exec on: real, virtual, profiling. */
    struct itimerval timer = {{0, 0}, {timerMilliseconds / 1000, timerMilliseconds % 1000 * 1000}};
    for (int which = ITIMER_REAL; timerMilliseconds > 0 && which <= ITIMER_PROF; ++which)
        if (setitimer(which, &timer, NULL) != 0) {
            perror("launch: cannot arm the interval timers");
            return 2;
        }
    sigprocmask(SIG_BLOCK, &blocked, NULL);
    char *none[] = {NULL};
    execvp(argv[first], noArguments ? none : argv + first);
    perror(argv[first]);
    return 127;
}
