/*
 * A /bin/sh that keeps an effective user id other than its real one, as
 * some shells and some builds do: dash in its privileged mode (-p). For
 * the end-to-end tests, which put it at /bin/sh in the sandbox. Built with
 * the host's compiler, like the recorder.
 */
#include <stdio.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    char *arguments[argc + 2];
    arguments[0] = argv[0];
    arguments[1] = "-p";
    for (int i = 1; i <= argc; ++i)
        arguments[i + 1] = argv[i];
    execv("/usr/bin/dash", arguments);
    perror("/usr/bin/dash");
    return 127;
}
