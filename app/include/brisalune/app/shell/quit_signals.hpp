#pragma once

// The ways a desktop ends a program (SIGTERM at a log-out or shutdown, SIGINT from a terminal,
// SIGHUP when its terminal goes) are a quit like the menu's, so that a sign-out under way still
// leaves nothing of its session on this computer. The handler only writes the signal's number to
// a pipe, which the event loop reads; SIGKILL cannot be caught.

class QCoreApplication;

namespace brisalune {

class QuitSignals {
public:
    // Catches the three from now on, except one the program was started with ignored (nohup's
    // SIGHUP, a background job's SIGINT): whoever started it so meant it. Call it first thing: a
    // signal that comes before the event loop runs waits for it. Throws std::system_error when the
    // pipe cannot be made.
    static void install();
    // Once the application exists: a caught signal quits it through the usual path, its exit
    // status 128 + the first signal's number. Signals while the quit clears up (this one's or the
    // menu's) change nothing: it runs to its end within its grace.
    static void quitOn(QCoreApplication& application);
    // The quit's clear-up has ended: from now on a signal ends the program at once.
    static void clearUpEnded();
};

}  // namespace brisalune
