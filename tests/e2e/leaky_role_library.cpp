// A role library that misbehaves the way a real one, or a name-service
// module behind getpwuid, might: it leaves a descriptor open, changes the
// signal state and the umask, and plants environment entries. The tool
// must not let any of it reach the configurator. It knows one account,
// tavik, with the service role.
#include <vorn.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>

const char* GetRole(const char* loginName)
{
    open("/etc/passwd", O_RDONLY);
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
    umask(0);
    setenv("BASH_ENV", "/tmp/planted", 1);
    setenv("LD_LIBRARY_PATH", "/tmp", 1);
    return std::string_view(loginName) == "tavik" ? "morle" : nullptr;
}
