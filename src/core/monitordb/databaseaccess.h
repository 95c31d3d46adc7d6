#pragma once

#include "monitordb/sqliteconnection.h"

class CSystemDatabase;

// How the window's own work waits for the monitor database. The scheduler's
// threads have waits of their own.

// A command of the operator waits a few seconds for a file another process
// holds, then tells him; the window never waits longer.
CBusyWait CommandWait();
// The start waits for a held file as long as it is held, until a stop is asked for.
CBusyWait StartWait();

// Opens the file at the program's start, creating a missing one. A held file is
// waited for as long as it is held (until a stop is asked for); one that cannot be
// used is given a few seconds (a copy still being written) before the error is raised.
void OpenAtStart(CSystemDatabase& db);
