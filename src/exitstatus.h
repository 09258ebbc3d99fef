// vidselect's exit statuses. The caller tells only these two apart: every
// requested operation ran and succeeded, or something else ended the run (a
// denial, a usage error, a refused driver name, a failed operation, or a
// process that could not be made safe), which the one way to fail
// (failure.h) says on its way out.
#pragma once

constexpr int exitSuccess = 0;
constexpr int exitFailure = 1;
