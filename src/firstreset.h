// The first reset, of every run: the state a root run of ours starts from.
#pragma once

// Replaces what the caller handed the process that could end or mislead any
// run, or that a child would inherit, with a fixed, safe state: no interval
// timer armed, descriptors 0-2 open and nothing above them, default signal
// dispositions and an empty mask, a umask of at least 022, a clean
// environment, and / as the working directory. A reset the kernel or a
// system-call filter refuses is no failure where the state already is what
// it would set; the process ends where it is not, or where that cannot be
// read. doc/process-state.md accounts for the rest.
void resetProcessState();
