#pragma once

// Returns the process-wide run state to its start values (stores released first), so that
// each test begins as a fresh process would.
void resetRunState();
