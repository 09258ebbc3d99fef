/*
 * Starts a program in a state a hostile caller, or a container or service
 * manager, could hand it, for the end-to-end tests:
 *
 *   launch [--ignore N,N...] [--block N,N...] [--no-arguments]
 *          [--deny CALL[,CALL...]:ERROR]... [--drop-to UID:GID]
 *          [--timer-slack NS] [--timers MS] [--bind-memory] [--no-thp]
 *          [--merge-memory] [--securebits BITS]
 *          [--session-keyring NAME] PROGRAM [ARG...]
 *
 * --ignore sets the listed signals to SIG_IGN, --block adds them to the
 * signal mask (both survive exec), and --no-arguments starts PROGRAM with
 * an empty argument vector. --deny makes each system call CALL (by its name
 * in the table below) fail with ERROR (EPERM, EACCES, ENOSYS, EINVAL or a
 * number; 0 returns success having done nothing) for PROGRAM and
 * everything it starts, as a kernel without the call, a container's
 * profile or a service manager's filter would. It takes root, since the
 * seccomp filter that does it must not set no_new_privs, which would stop a
 * set-user-ID program started later from becoming root: PROGRAM, or
 * --drop-to, then drops to the caller. --drop-to gives up root with
 * setgroups, setgid and setuid, which the filter lets through unless told
 * otherwise (setpriv would use setresuid).
 * Each of the rest sets state that survives exec, before any filter:
 * --timer-slack the timer slack to NS nanoseconds, --timers arms the real,
 * virtual and profiling interval timers to expire after MS milliseconds,
 * --bind-memory binds the memory policy to node 0, --no-thp turns
 * transparent huge pages off, --merge-memory turns KSM merging on,
 * --securebits sets the securebits to BITS, and --session-keyring joins a
 * new session keyring named NAME.
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

/* The calls --deny knows, by their numbers for 64-bit x86 programs and for
 * 32-bit ones (which qemu-user makes as 64-bit calls for them); a name may
 * stand for more than one 32-bit call. Any other architecture's calls pass. */
enum { noCall = ~0U };
static const struct {
    const char *name;
    unsigned number, number32;
} knownCalls[] = {
    {"close_range", 436, 436}, {"setresuid", 117, 208}, {"setresuid", noCall, 164},
    {"set_mempolicy", 238, 276}, {"get_mempolicy", 239, 275}, {"mbind", 237, 274},
    {"keyctl", 250, 288}, {"add_key", 248, 286}, {"request_key", 249, 287},
    {"sched_setscheduler", 144, 156}, {"setpriority", 141, 97}, {"ioprio_set", 251, 289},
    {"sched_setaffinity", 203, 241}, {"personality", 135, 136}, {"prlimit64", 302, 340},
    {"setrlimit", 160, 75}, {"prctl", 157, 172}, {"setitimer", 38, 104},
    {"rt_sigaction", 13, 174}, {"rt_sigprocmask", 14, 175}, {"chdir", 80, 12},
};
#define KNOWN_CALLS (sizeof knownCalls / sizeof *knownCalls)

static const struct {
    const char *name;
    int number;
} errorNames[] = {{"EPERM", EPERM}, {"EACCES", EACCES}, {"ENOSYS", ENOSYS}, {"EINVAL", EINVAL}};

/* What the filter refuses: each known call's error, or -1. */
static int refusal[KNOWN_CALLS];
static int refusesAny;

/* Takes "CALL[,CALL...]:ERROR". */
static int addRefusals(char *refusals)
{
    char *colon = strrchr(refusals, ':');
    if (!colon)
        return -1;
    *colon = '\0';
    char *end = NULL;
    int error = (int)strtol(colon + 1, &end, 10);
    if (*end != '\0' || end == colon + 1) {
        error = -1;
        for (size_t i = 0; i < sizeof errorNames / sizeof *errorNames; ++i)
            if (strcmp(colon + 1, errorNames[i].name) == 0)
                error = errorNames[i].number;
        if (error < 0)
            return -1;
    }
    for (char *name = strtok(refusals, ","); name; name = strtok(NULL, ",")) {
        int known = 0;
        for (size_t i = 0; i < KNOWN_CALLS; ++i)
            if (strcmp(name, knownCalls[i].name) == 0) {
                refusal[i] = error;
                known = refusesAny = 1;
            }
        if (!known)
            return -1;
    }
    return 0;
}

/* Appends to `program`, at `length`, the part for one architecture: load
 * it, skip to the next part unless it is `arch`, then return each refused
 * call's error and allow the rest. */
static void addArchitecture(struct sock_filter *program, unsigned *length, unsigned arch, int wide)
{
    unsigned refused = 0;
    for (size_t i = 0; i < KNOWN_CALLS; ++i)
        refused += refusal[i] >= 0 && (wide ? knownCalls[i].number : knownCalls[i].number32) != noCall;
    program[(*length)++] = (struct sock_filter)BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch));
    program[(*length)++] = (struct sock_filter)BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, arch, 0, 2 * refused + 2);
    program[(*length)++] = (struct sock_filter)BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr));
    for (size_t i = 0; i < KNOWN_CALLS; ++i) {
        unsigned number = wide ? knownCalls[i].number : knownCalls[i].number32;
        if (refusal[i] < 0 || number == noCall)
            continue;
        program[(*length)++] = (struct sock_filter)BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, number, 0, 1);
        program[(*length)++] = (struct sock_filter)BPF_STMT(BPF_RET | BPF_K,
                                                            SECCOMP_RET_ERRNO | ((unsigned)refusal[i] & SECCOMP_RET_DATA));
    }
    program[(*length)++] = (struct sock_filter)BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
}

static int installFilter(void)
{
    struct sock_filter program[2 * (4 + 2 * KNOWN_CALLS) + 1];
    unsigned length = 0;
    addArchitecture(program, &length, AUDIT_ARCH_X86_64, 1);
    addArchitecture(program, &length, AUDIT_ARCH_I386, 0);
    program[length++] = (struct sock_filter)BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    struct sock_fprog filter = {(unsigned short)length, program};
    if (syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) != 0) {
        perror("launch: cannot install the filter");
        return -1;
    }
    return 0;
}

/* A filter that matched nothing would let a test of a fallback pass
 * through the call itself. Refused, neither call changes anything; let
 * through, the first would return 0, and the second give up root's
 * effective id. The tests' other refusals each stop a run where the state
 * the call would reset differs, which proves them. */
static int checkFilter(void)
{
    for (size_t i = 0; i < KNOWN_CALLS; ++i) {
        if (refusal[i] < 0 || knownCalls[i].number == noCall)
            continue;
        long result;
        if (strcmp(knownCalls[i].name, "close_range") == 0)
            result = syscall(knownCalls[i].number, ~0U, ~0U, 0);
        else if (strcmp(knownCalls[i].name, "setresuid") == 0)
            result = syscall(knownCalls[i].number, -1, 65534, -1);
        else
            continue;
        if (result != (refusal[i] ? -1 : 0) || (refusal[i] && errno != refusal[i]) || geteuid() != 0) {
            fprintf(stderr, "launch: the filter does not refuse %s\n", knownCalls[i].name);
            return -1;
        }
    }
    return 0;
}

int main(int argc, char *argv[])
{
    int first = 1;
    int noArguments = 0;
    int failed = 0;
    unsigned user = 0, group = 0;
    const char *dropIds = NULL;
    long timerMilliseconds = 0;
    unsigned long nodeZero = 1;
    sigemptyset(&blocked);
    for (size_t i = 0; i < KNOWN_CALLS; ++i)
        refusal[i] = -1;
    for (; first < argc && strncmp(argv[first], "--", 2) == 0; ++first) {
        if (strcmp(argv[first], "--ignore") == 0 && first + 1 < argc)
            forEachSignal(argv[++first], ignoreSignal);
        else if (strcmp(argv[first], "--block") == 0 && first + 1 < argc)
            forEachSignal(argv[++first], blockSignal);
        else if (strcmp(argv[first], "--no-arguments") == 0)
            noArguments = 1;
        else if (strcmp(argv[first], "--deny") == 0 && first + 1 < argc) {
            if (addRefusals(argv[++first]) != 0) {
                fprintf(stderr, "launch: cannot refuse %s\n", argv[first]);
                return 2;
            }
        }
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
        else if (strcmp(argv[first], "--merge-memory") == 0)
            failed = prctl(67 /* PR_SET_MEMORY_MERGE */, 1, 0, 0, 0) != 0;
        else if (strcmp(argv[first], "--securebits") == 0 && first + 1 < argc)
            failed = prctl(PR_SET_SECUREBITS, strtoul(argv[++first], NULL, 0), 0, 0, 0) != 0;
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
                        "[--deny CALL[,CALL...]:ERROR]... [--drop-to UID:GID] [--timer-slack NS] [--timers MS] "
                        "[--bind-memory] [--no-thp] [--merge-memory] [--securebits BITS] "
                        "[--session-keyring NAME] PROGRAM [ARG...]\n");
        return 2;
    }
    /* Before the filter, which may refuse these calls: real, virtual,
     * profiling. */
    struct itimerval timer = {{0, 0}, {timerMilliseconds / 1000, timerMilliseconds % 1000 * 1000}};
    for (int which = ITIMER_REAL; timerMilliseconds > 0 && which <= ITIMER_PROF; ++which)
        if (setitimer(which, &timer, NULL) != 0) {
            perror("launch: cannot arm the interval timers");
            return 2;
        }
    sigprocmask(SIG_BLOCK, &blocked, NULL);
    if (refusesAny && (installFilter() != 0 || checkFilter() != 0))
        return 2;
    if (dropIds && (sscanf(dropIds, "%u:%u", &user, &group) != 2 || setgroups(0, NULL) != 0 || setgid(group) != 0 ||
                    setuid(user) != 0)) {
        fprintf(stderr, "launch: cannot drop to %s: %s\n", dropIds, strerror(errno));
        return 2;
    }
    char *none[] = {NULL};
    execvp(argv[first], noArguments ? none : argv + first);
    perror(argv[first]);
    return 127;
}
