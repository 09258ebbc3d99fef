// vidselect's exit statuses. The caller sees only 0 and 1; the names say
// which decision ended the run.
#pragma once

constexpr int exitSuccess = 0;          // every requested operation ran and succeeded
constexpr int exitDenied = 1;           // the access gate turned the caller away
constexpr int exitUsage = 1;            // the command line could not be used
constexpr int exitRefusedName = 1;      // the driver name is not safe to hand on
constexpr int exitOperationFailed = 1;  // an operation could not run, or failed
constexpr int exitUnsafeState = 1;      // the process could not be made safe to go on
