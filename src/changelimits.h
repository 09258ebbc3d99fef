// The resource limits a change runs under.
#pragma once

// Sets the resource limits a change runs under from a fixed table that
// covers every limit the kernel has: the kernel's own defaults for the
// first process, no core dumps, and no limit on processes and pending
// signals; each soft limit as close to these as the hard limits allow where
// they may not be raised. Where even that is refused, a limit the change
// can work with is kept; the process ends where it is not. A query or
// listing alone keeps the caller's limits, as it keeps the caller's
// identity.
void setChangeLimits();
