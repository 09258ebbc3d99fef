/*
 * Interrupts a process the moment it opens a file in a directory, for the
 * end-to-end tests:
 *
 *   interrupt_on_open DIRECTORY NAME-PREFIX SIGNAL
 *
 * Prints "ready" once it watches DIRECTORY. The first process to open a
 * file there whose name starts with NAME-PREFIX (creating it, as a
 * temporary file is) is held inside that open while SIGNAL goes to its
 * whole process group, as a terminal's Ctrl-C or Ctrl-\ would; then the
 * open goes on. Exits 0 once nothing of that group runs any more (its
 * orphans' zombies may wait a while for init); for a stop signal (SIGTSTP,
 * SIGTTIN, SIGTTOU), once the process that opened the file has stopped or
 * ended, as others of its group may ignore the signal and wait on it.
 * Watching for
 * the file to appear instead would come too late: the write it interrupts
 * takes microseconds. Needs root (fanotify permission events). Built with
 * the host's compiler, like the recorder.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <dirent.h>
#include <sys/fanotify.h>
#include <unistd.h>

/* The state of process PID (a /proc entry's name) and its process group,
 * or 0 when there is no such process. */
static char processState(const char *pid, int *processGroup)
{
    char path[300], status[512];
    snprintf(path, sizeof path, "/proc/%s/stat", pid);
    FILE *file = pid[0] >= '1' && pid[0] <= '9' ? fopen(path, "r") : NULL;
    if (file == NULL)
        return 0;
    const size_t length = fread(status, 1, sizeof status - 1, file);
    fclose(file);
    status[length] = '\0';
    /* pid (command) state ppid pgrp ...; the command may hold anything. */
    const char *fields = strrchr(status, ')');
    char state = 0;
    int parent = 0;
    if (fields == NULL || sscanf(fields, ") %c %d %d", &state, &parent, processGroup) != 3)
        return 0;
    return state;
}

/* Whether a process of the group is still running, not just a zombie. */
static int groupRuns(pid_t group)
{
    DIR *processes = opendir("/proc");
    if (processes == NULL)
        return 0;
    int runs = 0;
    for (struct dirent *entry; !runs && (entry = readdir(processes)) != NULL;) {
        int processGroup = 0;
        const char state = processState(entry->d_name, &processGroup);
        runs = state != 0 && processGroup == group && state != 'Z' && state != 'X';
    }
    closedir(processes);
    return runs;
}

/* Whether the process is still running: neither stopped nor ended. */
static int processRuns(pid_t process)
{
    char pid[32];
    snprintf(pid, sizeof pid, "%d", (int)process);
    int processGroup = 0;
    const char state = processState(pid, &processGroup);
    return state != 0 && strchr("TtZX", state) == NULL;
}

static int isStopSignal(int signalNumber)
{
    return signalNumber == SIGTSTP || signalNumber == SIGTTIN || signalNumber == SIGTTOU;
}

static int allow(int notify, const struct fanotify_event_metadata *event)
{
    const struct fanotify_response response = {.fd = event->fd, .response = FAN_ALLOW};
    const int written = write(notify, &response, sizeof response) == (ssize_t)sizeof response;
    close(event->fd);
    return written;
}

static int hasPrefix(int fd, const char *prefix)
{
    char link[64], path[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, path, sizeof path - 1);
    if (length <= 0)
        return 0;
    path[length] = '\0';
    const char *name = strrchr(path, '/');
    return name != NULL && strncmp(name + 1, prefix, strlen(prefix)) == 0;
}

int main(int argc, char *argv[])
{
    if (argc != 4) {
        fprintf(stderr, "usage: %s DIRECTORY NAME-PREFIX SIGNAL\n", argv[0]);
        return 2;
    }
    const char *prefix = argv[2];
    const int signalNumber = atoi(argv[3]);
    const int notify = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_CLOEXEC);
    if (notify < 0 || fanotify_mark(notify, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD, AT_FDCWD, argv[1]) != 0) {
        perror("interrupt_on_open: fanotify");
        return 1;
    }
    puts("ready");
    fflush(stdout);
    for (;;) {
        struct fanotify_event_metadata events[16];
        const ssize_t length = read(notify, events, sizeof events);
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0) {
            perror("interrupt_on_open: read");
            return 1;
        }
        ssize_t left = length;
        for (const struct fanotify_event_metadata *event = events; FAN_EVENT_OK(event, left);
             event = FAN_EVENT_NEXT(event, left)) {
            pid_t group = -1;
            const pid_t opener = event->pid;
            if (hasPrefix(event->fd, prefix)) {
                group = getpgid(event->pid);
                if (group <= 0 || kill(-group, signalNumber) != 0) {
                    perror("interrupt_on_open: kill");
                    return 1;
                }
            }
            if (!allow(notify, event)) {
                perror("interrupt_on_open: allow");
                return 1;
            }
            if (group > 0) {
                while (isStopSignal(signalNumber) ? processRuns(opener) : groupRuns(group))
                    usleep(1000);
                return 0;
            }
        }
    }
}
