#include "configurator.h"

#include "configuratorcommands.h"
#include "drivername.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

static int runCommand(const char* command)
{
    // Anything we buffered must reach the terminal before the configurator
    // writes to it.
    std::fflush(nullptr);
    // The shell is the configurator's documented interface. Every command is
    // fixed text of ours or holds only a driver name checkDriverName let
    // through, and the environment was replaced before we got here.
    return std::system(command); // NOLINT(cert-env33-c)
}

int listAllX()
{
    return runCommand(listCommand.data());
}

int listCurX()
{
    return runCommand(queryCommand.data());
}

int changeX(const char* drivername)
{
    std::array<char, changeCommandSize> command;
    if (!formatChangeCommand(command, drivername))
        return -1;
    return runCommand(command.data());
}

bool commandSucceeded(int status)
{
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
