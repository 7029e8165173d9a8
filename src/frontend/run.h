#pragma once

// The whole play-and-record run of one process; returns the process exit code.
int runPlayRecord(int argc, char** argv);
