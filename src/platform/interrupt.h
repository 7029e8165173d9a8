// Lets the user's Ctrl+C, Ctrl+Break, a closed console (Windows) or SIGINT/SIGTERM (Linux)
// end a run cleanly, in its set-up or mid-stream, instead of killing the process.
#pragma once

// From now on an interrupt only raises a flag. Further interrupts are absorbed too, until
// removeInterruptHandler restores the default behaviour.
void installInterruptHandler();
void removeInterruptHandler();
// Whether an interrupt arrived since installInterruptHandler.
bool interruptRequested();
