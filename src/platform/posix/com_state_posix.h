// What the COM stand-in recorded, for tests on Linux.
#pragma once

// Number of CoInitialize calls since the start (or the last reset).
int coInitializeCalls();
// Forgets the calls, so that the next CoInitialize answers S_OK again.
void resetCoInitializeCalls();
