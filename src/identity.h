// The tool's switches of identity: up to the superuser for a change, down
// to the caller for good otherwise. Each reads the ids back, and ends the
// run when the switch did not happen completely.
#pragma once

// Installed set-user-ID root, makes the real, effective and saved user and
// group ids 0 and drops the caller's supplementary groups, for the rest of
// the run. Without root's effective id, changes nothing: the change runs as
// the caller, as an uninstalled build should.
void becomeSuperuser();

// For a listing or query that runs without a change, which needs no root:
// sets the real, effective and saved user and group ids to the caller's
// real ones for good, so that the configurator runs as the caller whatever
// the shell does with an effective id it did not start with. Started with
// root's effective id, it also ends the run if any capability is left.
void becomeCaller();
