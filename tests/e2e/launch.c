/*
 * Starts a program in a state a hostile caller could hand it, for the
 * end-to-end tests:
 *
 *   launch [--ignore N,N...] [--block N,N...] [--no-arguments]
 *          [--deny-close-range] [--timer-slack NS] [--timers MS]
 *          [--bind-memory] [--no-thp] [--session-keyring NAME]
 *          PROGRAM [ARG...]
 *
 * --ignore sets the listed signals to SIG_IGN, --block adds them to the
 * signal mask (both survive exec), and --no-arguments starts PROGRAM with
 * an empty argument vector. --deny-close-range makes close_range fail
 * with ENOSYS for PROGRAM and everything it starts, as on a kernel before
 * Linux 5.9; it takes root, since the seccomp filter that does it must not
 * set no_new_privs, which would stop a set-user-ID program started later
 * from becoming root: PROGRAM is then what drops to the caller (setpriv).
 * Each of the rest sets state that survives exec: --timer-slack the timer
 * slack to NS nanoseconds, --timers arms the real, virtual and profiling
 * interval timers to expire after MS milliseconds, --bind-memory binds the
 * memory policy to node 0, --no-thp turns transparent huge pages off, and
 * --session-keyring joins a new session keyring named NAME.
 * Built with the host's compiler, like the recorder.
 */
#define _GNU_SOURCE
#include <errno.h>
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
 * ones alike, run by the kernel or by qemu-user on its behalf; any other
 * architecture's calls pass. */
enum { closeRangeNumber = 436 };

static int denyCloseRange(void)
{
    struct sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_I386, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, closeRangeNumber, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog filter = {sizeof program / sizeof *program, program};
    if (syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) != 0) {
        perror("launch: cannot install the filter that denies close_range");
        return -1;
    }
    /* A filter that matched nothing would let the test pass through
     * close_range itself. The range is empty: nothing is closed. */
    if (syscall(closeRangeNumber, ~0U, ~0U, 0) != -1 || errno != ENOSYS) {
        fprintf(stderr, "launch: the filter does not deny close_range\n");
        return -1;
    }
    return 0;
}

/* Every interval timer there is, each to expire once after `milliseconds`. */
static int armTimers(long milliseconds)
{
    struct itimerval timer = {{0, 0}, {milliseconds / 1000, milliseconds % 1000 * 1000}};
    if (setitimer(ITIMER_REAL, &timer, NULL) != 0 || setitimer(ITIMER_VIRTUAL, &timer, NULL) != 0 ||
        setitimer(ITIMER_PROF, &timer, NULL) != 0) {
        perror("launch: cannot arm the interval timers");
        return -1;
    }
    return 0;
}

int main(int argc, char *argv[])
{
    int first = 1;
    int noArguments = 0;
    int noCloseRange = 0;
    long timerMilliseconds = 0;
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
        else if (strcmp(argv[first], "--timers") == 0 && first + 1 < argc)
            timerMilliseconds = atol(argv[++first]);
        else if (strcmp(argv[first], "--timer-slack") == 0 && first + 1 < argc) {
            if (prctl(PR_SET_TIMERSLACK, strtoul(argv[++first], NULL, 10)) != 0) {
                perror("launch: cannot set the timer slack");
                return 2;
            }
        }
        else if (strcmp(argv[first], "--bind-memory") == 0) {
            unsigned long nodeZero = 1;
            if (syscall(SYS_set_mempolicy, MPOL_BIND, &nodeZero, 8 * sizeof nodeZero) != 0) {
                perror("launch: cannot bind the memory policy");
                return 2;
            }
        }
        else if (strcmp(argv[first], "--no-thp") == 0) {
            if (prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0) != 0) {
                perror("launch: cannot turn transparent huge pages off");
                return 2;
            }
        }
        else if (strcmp(argv[first], "--session-keyring") == 0 && first + 1 < argc) {
            if (syscall(SYS_keyctl, KEYCTL_JOIN_SESSION_KEYRING, argv[++first]) == -1) {
                perror("launch: cannot join a session keyring");
                return 2;
            }
        }
        else {
            fprintf(stderr, "launch: unknown option %s\n", argv[first]);
            return 2;
        }
    }
    if (first >= argc) {
        fprintf(stderr, "usage: launch [--ignore N,...] [--block N,...] [--no-arguments] "
                        "[--deny-close-range] [--timer-slack NS] [--timers MS] [--bind-memory] [--no-thp] "
                        "[--session-keyring NAME] PROGRAM [ARG...]\n");
        return 2;
    }
    if (noCloseRange && denyCloseRange() != 0)
        return 2;
    /* Last, so that they run from the exec on. */
    if (timerMilliseconds > 0 && armTimers(timerMilliseconds) != 0)
        return 2;
    sigprocmask(SIG_BLOCK, &blocked, NULL);
    char *none[] = {NULL};
    execvp(argv[first], noArguments ? none : argv + first);
    perror(argv[first]);
    return 127;
}
