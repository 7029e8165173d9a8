#pragma once

// korvane-wav's exit codes.
enum ToolExit : int {
    kToolOk = 0,
    kToolUsage = 1,
    kToolInput = 2,        // an input file cannot be read or is refused
    kToolOutput = 3,       // the output cannot be written
    kToolMismatch = 4,     // check --exact: the recording is not the exact round trip
    kToolUntrusted = 5,    // check, ir: a channel's delay or level cannot be trusted
    kToolLimitsFailed = 6, // ir --limits: a channel fails its limits
    // --log: measured, but the record is in the spool, not the database; a unit that
    // failed or is not trusted keeps its own code (its record is spooled all the same).
    kToolNotLogged = 7,
    // --log: measured, but the record is neither in the database nor in the spool: the unit
    // must be measured again. Wins over every other code.
    kToolRecordLost = 8,
};
