// How a command-line program learns that it should end: SIGINT or SIGTERM on POSIX, a console
// control event (Ctrl+C, Ctrl+Break, closing the console) on Windows.
#pragma once

// Exit statuses of a program ended by a stop signal, as a shell gives them (128 + the signal).
constexpr int kStopExitInterrupt = 130;  // SIGINT; Ctrl+C
constexpr int kStopExitTerminate = 143;  // SIGTERM; Ctrl+Break, closing the console

// Readies the signals' delivery to WaitForStopSignal. Call on the main thread before any other
// thread starts, so that none of them takes a signal instead.
void PrepareStopSignal();

// Blocks the calling thread until a stop signal arrives and returns its exit status
// (kStopExitInterrupt or kStopExitTerminate).
int WaitForStopSignal();
