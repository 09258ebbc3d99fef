// The floor under `vidselect -q` in the benchmark: the least any
// set-user-ID wrapper of the configurator does. The same gate as the tool
// (the caller's account name, then its role from the role library), then
// the query through the shell, and nothing else: no reset of what the
// caller handed down, no diagnostics. Never installed or packaged; the
// benchmark installs it set-user-ID root in its sandbox only.

#include <vorn.h>

#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

int main()
{
    const passwd* entry = getpwuid(getuid());
    if (entry == nullptr || std::strcmp(entry->pw_name, "tavik") != 0)
        return 1;
    const char* role = GetRole(entry->pw_name);
    if (role == nullptr || std::strcmp(role, "morle") != 0)
        return 1;
    // Runs with the effective user id root, as the tool's query does.
    return std::system("/opt/qtr/bin/dispconfig -o q") == 0 ? 0 : 1;
}
