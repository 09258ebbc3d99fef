// The process state a root run of ours starts from.
#pragma once

// Replaces everything the caller handed the process and a child would
// inherit with a fixed, safe state: descriptors 0-2 open and nothing above
// them, default signal dispositions and an empty mask, a umask of at least
// 022, a clean environment, the file-size limit as high as it
// goes, and / as the working directory. Ends the process when
// that cannot be done.
void resetProcessState();
