/*
 * Starts the 32-bit vidselect under qemu-user as the kernel would start it
 * from a set-user-ID root file: with the caller's real ids and root's
 * effective user id. Where the kernel runs no 32-bit binaries, the tests
 * run them under qemu-user, and an emulated binary cannot carry the
 * set-user-ID bit, so in the sandbox of such a test run this starter is
 * installed set-user-ID root at the tool's path and the tool itself moves
 * to TOOL.
 *
 * Everything else the caller handed over (arguments, including argv[0],
 * environment, descriptors, signal state, umask, limits) passes through
 * unchanged, apart from the emulator's own QEMU_* settings. Built with the
 * host's compiler, with EMULATOR, its EMULATOR_OPTIONS (string literals,
 * each followed by a comma, such as the cross C library's root) and TOOL
 * fixed at build time.
 */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern char **environ;

static const char *const emulatorOptions[] = {EMULATOR_OPTIONS NULL};

int main(int argc, char *argv[])
{
    char **kept = environ;
    for (char **entry = environ; *entry; ++entry)
        if (strncmp(*entry, "QEMU_", 5) != 0)
            *kept++ = *entry;
    *kept = NULL;

    size_t optionCount = sizeof emulatorOptions / sizeof *emulatorOptions - 1;
    char **arguments = calloc((size_t)argc + optionCount + 5, sizeof *arguments);
    if (!arguments)
        return 126;
    int count = 0;
    arguments[count++] = EMULATOR;
    for (size_t i = 0; i < optionCount; ++i)
        arguments[count++] = (char *)emulatorOptions[i];
    arguments[count++] = "-0";
    arguments[count++] = argc > 0 ? argv[0] : "";
    arguments[count++] = TOOL;
    for (int i = 1; i < argc; ++i)
        arguments[count++] = argv[i];
    execv(EMULATOR, arguments);
    perror(EMULATOR);
    return 127;
}
