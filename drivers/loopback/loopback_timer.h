// The system timer's precision while a realtime stream runs: Windows sleeps in steps of
// 15.6 ms unless asked for finer ones, longer than the buffer periods the driver keeps.
#pragma once

// Asks for 1 ms sleeps (true) and gives that request back (false); calls pair up.
void loopbackFineTimer(bool fine);
