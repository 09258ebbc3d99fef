/*
 * Starts a program in a state a hostile caller could hand it, for the
 * end-to-end tests:
 *
 *   launch [--ignore N,N...] [--block N,N...] [--no-arguments] PROGRAM [ARG...]
 *
 * --ignore sets the listed signals to SIG_IGN, --block adds them to the
 * signal mask (both survive exec), and --no-arguments starts PROGRAM with
 * an empty argument vector. Built with the host's compiler, like the
 * recorder.
 */
#define _GNU_SOURCE
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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

int main(int argc, char *argv[])
{
    int first = 1;
    int noArguments = 0;
    sigemptyset(&blocked);
    for (; first < argc && strncmp(argv[first], "--", 2) == 0; ++first) {
        if (strcmp(argv[first], "--ignore") == 0 && first + 1 < argc)
            forEachSignal(argv[++first], ignoreSignal);
        else if (strcmp(argv[first], "--block") == 0 && first + 1 < argc)
            forEachSignal(argv[++first], blockSignal);
        else if (strcmp(argv[first], "--no-arguments") == 0)
            noArguments = 1;
        else {
            fprintf(stderr, "launch: unknown option %s\n", argv[first]);
            return 2;
        }
    }
    if (first >= argc) {
        fprintf(stderr, "usage: launch [--ignore N,...] [--block N,...] [--no-arguments] PROGRAM [ARG...]\n");
        return 2;
    }
    sigprocmask(SIG_BLOCK, &blocked, NULL);
    char *none[] = {NULL};
    execv(argv[first], noArguments ? none : argv + first);
    perror(argv[first]);
    return 127;
}
