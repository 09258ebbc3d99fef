/*
 * A display configurator that records how it was started, for the
 * end-to-end tests. Installed at the configurator's fixed path inside the
 * test sandbox. For each run with "-o X" it writes /opt/qtr/record/X:
 *
 *   args    its arguments, joined by '|' so that word splitting shows
 *   ids     real, effective and saved user ids, then the same for groups
 *   groups  supplementary groups
 *   umask   in octal
 *   fds     open descriptors
 *   ignored signals whose disposition is SIG_IGN
 *   blocked signals in the signal mask
 *   niceness     the nice value
 *   policy       the scheduling policy: other, batch, idle, fifo, rr or
 *                deadline, then "reset-on-fork" if that flag is set
 *   ioprio       the I/O priority class (none, rt, be or idle) and level
 *   personality  in hex
 *   oom_score_adj
 *   cpus         the CPUs it may run on, as a list like 0-3,6
 *   timerslack   the timer slack in nanoseconds
 *   mempolicy    the memory policy: default, preferred, bind, interleave
 *                or local
 *   thp_disable  1 if transparent huge pages are turned off, else 0
 *   memory_merge 1 if KSM merges its memory, 0 if not, -1 where the
 *                kernel cannot say
 *   session_keyring  the owner's user id and the name of its session
 *                keyring
 *   cpu, fsize, data, stack, core, rss, nproc, nofile, memlock, as,
 *   locks, sigpending, msgqueue, nice, rtprio, rttime
 *           each soft resource limit, a number or "unlimited", and the
 *           hard one under the same name with "_hard" added
 *   cwd     the working directory
 *   env     one line per environment entry, in order
 *
 * It appends X to /opt/qtr/record/order, prints "configurator: X" on
 * standard output, and then does what /opt/qtr/record/behaviour-X says:
 * "exit N", "signal N" or "sleep N" (seconds, then exit 0); by default it
 * exits 0.
 *
 * Written in C and built with the host's compiler, so that it runs
 * natively whatever the tool under test was built for.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <sched.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/keyctl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/personality.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char **environ;

#define RECORD_DIR "/opt/qtr/record"

static void listDescriptors(char *out, size_t size)
{
    DIR *listing = opendir("/proc/self/fd");
    int own = listing ? dirfd(listing) : -1;
    int found[1024];
    int count = 0;
    struct dirent *entry;
    out[0] = '\0';
    if (!listing)
        return;
    while ((entry = readdir(listing)) != NULL && count < 1024) {
        if (entry->d_name[0] == '.' || atoi(entry->d_name) == own)
            continue;
        found[count++] = atoi(entry->d_name);
    }
    closedir(listing);
    for (int i = 0; i < count; ++i)
        for (int j = i + 1; j < count; ++j)
            if (found[j] < found[i]) {
                int swap = found[i];
                found[i] = found[j];
                found[j] = swap;
            }
    for (int i = 0; i < count; ++i) {
        size_t used = strlen(out);
        snprintf(out + used, size - used, "%s%d", i ? " " : "", found[i]);
    }
}

static const struct {
    const char *key;
    int resource;
} limitKeys[] = {
    {"cpu", RLIMIT_CPU},           {"fsize", RLIMIT_FSIZE},     {"data", RLIMIT_DATA},
    {"stack", RLIMIT_STACK},       {"core", RLIMIT_CORE},       {"rss", RLIMIT_RSS},
    {"nproc", RLIMIT_NPROC},       {"nofile", RLIMIT_NOFILE},   {"memlock", RLIMIT_MEMLOCK},
    {"as", RLIMIT_AS},             {"locks", RLIMIT_LOCKS},     {"sigpending", RLIMIT_SIGPENDING},
    {"msgqueue", RLIMIT_MSGQUEUE}, {"nice", RLIMIT_NICE},       {"rtprio", RLIMIT_RTPRIO},
    {"rttime", RLIMIT_RTTIME},
};
#define LIMIT_COUNT (sizeof limitKeys / sizeof limitKeys[0])

static void listSignals(char *ignored, char *blocked, size_t size)
{
    sigset_t mask;
    sigprocmask(SIG_SETMASK, NULL, &mask);
    ignored[0] = blocked[0] = '\0';
    for (int number = 1; number < NSIG; ++number) {
        struct sigaction action;
        if (sigaction(number, NULL, &action) == 0 && action.sa_handler == SIG_IGN) {
            size_t used = strlen(ignored);
            snprintf(ignored + used, size - used, "%s%d", used ? " " : "", number);
        }
        if (sigismember(&mask, number) == 1) {
            size_t used = strlen(blocked);
            snprintf(blocked + used, size - used, "%s%d", used ? " " : "", number);
        }
    }
}

static const char *policyName(int policy)
{
    switch (policy & ~SCHED_RESET_ON_FORK) {
    case SCHED_OTHER:
        return "other";
    case SCHED_BATCH:
        return "batch";
    case SCHED_IDLE:
        return "idle";
    case SCHED_FIFO:
        return "fifo";
    case SCHED_RR:
        return "rr";
    case 6:
        return "deadline";
    }
    return "unknown";
}

/* The scheduling state, one "key value" line each. */
static void describeScheduling(char *out, size_t size)
{
    static const char *const ioClasses[] = {"none", "rt", "be", "idle"};
    errno = 0;
    int niceness = getpriority(PRIO_PROCESS, 0);
    int policy = sched_getscheduler(0);
    long ioPriority = syscall(SYS_ioprio_get, 1, 0);
    int ioClass = ioPriority < 0 ? -1 : (int)(ioPriority >> 13);
    int persona = personality(0xffffffff);
    char oomScore[16] = "(unknown)";
    FILE *oom = fopen("/proc/self/oom_score_adj", "re");
    if (oom) {
        if (fscanf(oom, "%15s", oomScore) != 1)
            strcpy(oomScore, "(unknown)");
        fclose(oom);
    }
    char cpus[1024] = "";
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0)
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (!CPU_ISSET(cpu, &allowed) || (cpu > 0 && CPU_ISSET(cpu - 1, &allowed)))
                continue;
            int last = cpu;
            while (last + 1 < CPU_SETSIZE && CPU_ISSET(last + 1, &allowed))
                ++last;
            size_t used = strlen(cpus);
            if (last == cpu)
                snprintf(cpus + used, sizeof cpus - used, "%s%d", used ? "," : "", cpu);
            else
                snprintf(cpus + used, sizeof cpus - used, "%s%d-%d", used ? "," : "", cpu, last);
        }
    long timerSlack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    static const char *const memoryPolicies[] = {"default", "preferred", "bind", "interleave", "local"};
    int memoryPolicy = -1;
    if (syscall(SYS_get_mempolicy, &memoryPolicy, NULL, 0UL, NULL, 0UL) != 0)
        memoryPolicy = -1;
    char keyring[256] = "", name[128] = "(unknown)";
    unsigned owner = ~0U;
    if (syscall(SYS_keyctl, KEYCTL_DESCRIBE, KEY_SPEC_SESSION_KEYRING, keyring, sizeof keyring) > 0)
        sscanf(keyring, "keyring;%u;%*[^;];%*[^;];%127s", &owner, name);
    snprintf(out, size,
             "niceness %d\npolicy %s%s\nioprio %s %ld\npersonality 0x%x\noom_score_adj %s\ncpus %s\ntimerslack %ld\n"
             "mempolicy %s\nthp_disable %d\nmemory_merge %d\nsession_keyring %d %s\n",
             niceness, policyName(policy), (policy & SCHED_RESET_ON_FORK) ? " reset-on-fork" : "",
             ioClass >= 0 && ioClass < 4 ? ioClasses[ioClass] : "(unknown)", ioPriority < 0 ? -1 : ioPriority & 7,
             (unsigned)persona, oomScore, cpus, timerSlack,
             memoryPolicy >= 0 && memoryPolicy < 5 ? memoryPolicies[memoryPolicy] : "(unknown)",
             prctl(PR_GET_THP_DISABLE, 0, 0, 0, 0), prctl(68 /* PR_GET_MEMORY_MERGE */, 0, 0, 0, 0), (int)owner,
             name);
}

int main(int argc, char *argv[])
{
    char descriptors[8192], ignored[512], blocked[512], scheduling[4096];
    const char *operation = "none";
    for (int i = 1; i + 1 < argc; ++i)
        if (strcmp(argv[i], "-o") == 0)
            operation = argv[i + 1];

    /* Everything is gathered before the record is opened, so that its
     * descriptor does not show among the inherited ones. */
    listDescriptors(descriptors, sizeof descriptors);
    listSignals(ignored, blocked, sizeof ignored);
    describeScheduling(scheduling, sizeof scheduling);
    mode_t mask = umask(0);
    umask(mask);
    uid_t ruid, euid, suid;
    gid_t rgid, egid, sgid;
    getresuid(&ruid, &euid, &suid);
    getresgid(&rgid, &egid, &sgid);
    gid_t groups[256];
    int groupCount = getgroups(256, groups);
    struct rlimit limits[LIMIT_COUNT];
    for (size_t i = 0; i < LIMIT_COUNT; ++i)
        getrlimit(limitKeys[i].resource, &limits[i]);
    char directory[4096];
    if (!getcwd(directory, sizeof directory))
        strcpy(directory, "(unknown)");

    char path[256];
    snprintf(path, sizeof path, RECORD_DIR "/%s", operation);
    FILE *record = fopen(path, "we");
    if (!record) {
        perror(path);
        return 99;
    }
    fputs("args ", record);
    for (int i = 1; i < argc; ++i)
        fprintf(record, "%s%s", i > 1 ? "|" : "", argv[i]);
    fprintf(record, "\nids %u %u %u %u %u %u\ngroups", (unsigned)ruid, (unsigned)euid, (unsigned)suid,
            (unsigned)rgid, (unsigned)egid, (unsigned)sgid);
    for (int i = 0; i < groupCount; ++i)
        fprintf(record, " %u", (unsigned)groups[i]);
    fprintf(record, "\numask %04o\nfds %s\nignored %s\nblocked %s\n%s", (unsigned)mask, descriptors, ignored,
            blocked, scheduling);
    for (size_t i = 0; i < LIMIT_COUNT; ++i)
        for (int hard = 0; hard <= 1; ++hard) {
            rlim_t value = hard ? limits[i].rlim_max : limits[i].rlim_cur;
            fprintf(record, "%s%s ", limitKeys[i].key, hard ? "_hard" : "");
            if (value == RLIM_INFINITY)
                fputs("unlimited\n", record);
            else
                fprintf(record, "%llu\n", (unsigned long long)value);
        }
    fprintf(record, "cwd %s\n", directory);
    for (char **entry = environ; *entry; ++entry)
        fprintf(record, "env %s\n", *entry);
    fclose(record);

    FILE *order = fopen(RECORD_DIR "/order", "ae");
    if (order) {
        fprintf(order, "%s\n", operation);
        fclose(order);
    }
    printf("configurator: %s\n", operation);
    fflush(stdout);

    snprintf(path, sizeof path, RECORD_DIR "/behaviour-%s", operation);
    FILE *behaviour = fopen(path, "re");
    char action[16];
    int value = 0;
    if (behaviour && fscanf(behaviour, "%15s %d", action, &value) == 2) {
        if (strcmp(action, "exit") == 0)
            return value;
        if (strcmp(action, "signal") == 0) {
            signal(value, SIG_DFL);
            raise(value);
        }
        if (strcmp(action, "sleep") == 0)
            sleep((unsigned)value);
    }
    return 0;
}
