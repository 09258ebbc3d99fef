// How a reset of the process's state fails, and the check a refused reset
// gets before it does.
#pragma once

// Ends the run with "vidselect: cannot WHAT" and the text of errno.
[[noreturn]] void failToReset(const char* what);

// Check, then insist: a reset that the kernel refused (root without
// CAP_SYS_NICE or CAP_SYS_RESOURCE, as in a container), or a system-call
// filter (a container's or a service manager's), with whatever errno, is no
// failure where the state already is what the reset would make it. Only
// whoever started the session can have installed such a filter: a caller
// cannot without no_new_privs, under which the kernel ignores our
// set-user-ID bit. Called with errno holding the refusal: unless
// `alreadyHolds` says the state is what the reset was for, fails to reset
// `what` with that errno.
void insistOn(bool (*alreadyHolds)(), const char* what);
