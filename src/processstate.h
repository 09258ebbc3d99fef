// The process state a root run of ours starts from.
#pragma once

// Replaces everything the caller handed the process and a child would
// inherit with a fixed, safe state: descriptors 0-2 open and nothing above
// them, default signal dispositions and an empty mask, a umask of at least
// 022, a clean environment, the file-size limit as high as it
// goes, and / as the working directory. Ends the process when
// that cannot be done.
void resetProcessState();

// Sets the resource limits a change runs under from a fixed table: no core
// dumps, no limit on CPU time, address space and data, an 8 MiB stack and
// 1024 open files, each soft limit as close to these as the hard limits
// allow where they may not be raised. Ends the process when that cannot be
// done. A query or listing alone keeps the caller's limits (but for the
// file-size limit resetProcessState lifts for every run), as it keeps the
// caller's identity.
void setChangeLimits();
