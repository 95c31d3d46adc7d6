#pragma once

#include <atomic>

// Set once a termination signal asked the program to stop. Waits that may
// last (a database file another process holds at start) end when it is set.
std::atomic<bool>& ProcessStopRequested();
