// The access gate: only the service account holding the service role may
// use vidselect.
#pragma once

// Returns when the invoking user may go on; otherwise prints the reason on
// standard output and ends the process.
void checkAccess();
