// The process state a root run of ours starts from.
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

// Sets the resource limits a change runs under from a fixed table that
// covers every limit the kernel has: the kernel's own defaults for the
// first process, no core dumps, and no limit on processes and pending
// signals; each soft limit as close to these as the hard limits allow where
// they may not be raised. Where even that is refused, a limit the change
// can work with is kept; the process ends where it is not. A query or
// listing alone keeps the caller's limits, as it keeps the caller's
// identity.
void setChangeLimits();

// Sets the rest of the state a change runs in: umask 022, the ordinary
// scheduling policy at nice 0, the default I/O priority, the plain Linux
// personality, the default timer slack, an out-of-memory score of 0, every
// CPU online, the default memory policy, transparent huge pages allowed
// and no memory merging. Where a reset is refused as root, ends the
// process unless the state already is that. Without root's effective id
// (not installed set-user-ID) the change runs as the caller and keeps the
// caller's state, as a query or listing alone does.
void setChangeProcessState();

// Gives a change that has become the superuser a new session keyring,
// root's, in place of the caller's. Where that is refused as root, ends the
// process unless every keyring call is refused, so that no keyring can be
// reached at all; without root's effective id it does nothing.
void joinOwnSessionKeyring();
