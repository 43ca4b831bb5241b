// How lumora-reader-sim learns that it should end: SIGINT or SIGTERM on POSIX, a console
// control event (Ctrl+C, Ctrl+Break, closing the console) on Windows.
#pragma once

// Readies the signals' delivery to SimWaitForStopSignal. Call on the main thread before any
// other thread starts, so that none of them takes a signal instead.
void SimPrepareStopSignal();

// Blocks the calling thread until a stop signal arrives.
void SimWaitForStopSignal();
