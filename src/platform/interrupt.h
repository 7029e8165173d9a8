// Lets the user's Ctrl+C, Ctrl+Break, a closed console (Windows) or SIGINT/SIGTERM (Linux)
// end a running stream cleanly instead of killing the process mid-stream.
#pragma once

// From now on an interrupt only raises a flag. Further interrupts are absorbed too, until
// removeInterruptHandler restores the default behaviour.
void installInterruptHandler();
void removeInterruptHandler();
// Whether an interrupt arrived since installInterruptHandler.
bool interruptRequested();
