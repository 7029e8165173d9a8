// Whether ChildProcess::interrupt and terminate reach a running child here.
#pragma once

// Null when they do; otherwise why not, for a test to skip with.
const char* childInterruptUnavailable();
