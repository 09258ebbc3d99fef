// The rest of the state a change runs in: scheduling, memory and the
// session keyring.
#pragma once

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
