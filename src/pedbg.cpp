// vidselect: lists the graphics drivers the ZVK supports, shows the current
// default and changes it, by running the display configurator for the
// service account. Installed set-user-ID root so that the change runs as
// root.

#include "access.h"
#include "changelimits.h"
#include "changestate.h"
#include "configurator.h"
#include "drivername.h"
#include "exitstatus.h"
#include "failure.h"
#include "firstreset.h"
#include "identity.h"

#include <getopt.h>

namespace {

struct Request {
    bool change = false;
    bool query = false;
    bool list = false;
    const char* driverName = nullptr;
};

constexpr const char* usageText =
    "Usage: vidselect [ -m  <drivername >] | -l | -q ] [--help]\n"
    "\tTool for Product Engineer/Support personnel to change the\n\t\tdefault graphic driver for the ZVK\n"
    "\tThis command requires PE authority to run.\n\n"
    "\t-m \tChanges the default driver to drivername that is specified.\n"
    "\t-l \tLists the possible supported graphic drivers\n"
    "\t-q \tLists the current Graphics driver.\n\n"
    "\tThe X server must be restarted to pick up the new setting.\n"
    "\t\t<ctrl><alt><Backspace> or reboot ZVK\n";

// --help returns 0, which is none of the option letters, and so ends in
// the usage text like any other misuse.
constexpr option long_options[] = {
    {"help", no_argument, nullptr, 0},
    {nullptr, 0, nullptr, 0},
};

} // namespace

[[noreturn]] static void printUsage()
{
    failWithUsage(usageText);
}

static Request parseCommandLine(int argc, char* argv[])
{
    Request request;
    for (;;) {
        int longIndex = 0;
        switch (getopt_long(argc, argv, "m:ql", long_options, &longIndex)) {
        case 'm':
            request.change = true;
            request.driverName = optarg;
            break;
        case 'q':
            request.query = true;
            break;
        case 'l':
            request.list = true;
            break;
        case -1:
            return request;
        default:
            printUsage();
        }
    }
}

int main(int argc, char* argv[])
{
    // First, before anything of the caller's is looked at: we may be root.
    resetProcessState();
    checkAccess();
    // The gate ran code that is not ours, the role library and the name
    // service behind getpwuid; nothing it left behind (descriptors, signal
    // state, umask, environment) may reach the configurator either.
    resetProcessState();

    // An empty argument vector is misuse too.
    if (argc <= 1)
        printUsage();
    const Request request = parseCommandLine(argc, argv);

    // Refused before anything runs, so a bad name changes nothing at all.
    if (request.change) {
        const DriverNameProblem problem = checkDriverName(request.driverName);
        if (problem != DriverNameProblem::none) {
            const std::string_view reason = describeDriverNameProblem(problem);
            fail("%.*s", static_cast<int>(reason.size()), reason.data());
        }
    }

    // Who the run acts as, decided once, before any operation runs.
    if (request.change) {
        // Before anything runs as root for the change: the caller's limits
        // must not cut it short, nor let a crashing root configurator dump
        // core, and the scheduling and memory state the caller chose must
        // not starve it.
        setChangeLimits();
        setChangeProcessState();
        // The switch to root, for the rest of the run: the change, and a
        // query or listing asked for with it, run wholly as the superuser.
        becomeSuperuser();
        // Only now: the kernel makes a new session keyring its real
        // user's, and until the switch that was the caller.
        joinOwnSessionKeyring();
    } else {
        // The drop to the caller, for good. Without a change nothing needs
        // root; installed set-user-ID, we would otherwise hand the shell
        // root's effective id and rely on it to drop it.
        becomeCaller();
    }

    // Always change first, then query, then list, whatever the order asked,
    // so a query in the same run already shows the new default. A failure
    // does not stop the operations after it.
    bool allSucceeded = true;
    if (request.change)
        allSucceeded = commandSucceeded(changeX(request.driverName)) && allSucceeded;
    if (request.query)
        allSucceeded = commandSucceeded(listCurX()) && allSucceeded;
    if (request.list)
        allSucceeded = commandSucceeded(listAllX()) && allSucceeded;
    return allSucceeded ? exitSuccess : exitFailure;
}
