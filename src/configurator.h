// The display configurator commands. Each runs the configurator through the
// shell, lets it talk to the user's terminal directly, and returns the
// status std::system reports.
#pragma once

int listAllX();
int listCurX();

// Refuses a name checkDriverName refuses (returning -1, running nothing);
// otherwise runs the change, as whoever main made the run (the superuser,
// with the change's limits and state).
int changeX(const char* drivername);

// True when a status returned above stands for a configurator that ran and
// exited with status 0.
bool commandSucceeded(int status);
