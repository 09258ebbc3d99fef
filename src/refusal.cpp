#include "refusal.h"

#include "failure.h"

#include <cerrno>

void failToReset(const char* what)
{
    failWithError("cannot %s", what);
}

void insistOn(bool (*alreadyHolds)(), const char* what)
{
    const int refusal = errno;
    if (alreadyHolds())
        return;
    errno = refusal;
    failToReset(what);
}
