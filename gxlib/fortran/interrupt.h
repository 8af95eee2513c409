// Ctrl-C. The terminal's interrupt key sends SIGINT to the process, not to a
// session, so the count of presses not yet answered is the one record of
// the library that is process-wide by nature: a signal handler knows no
// session and may only touch a lock-free atomic. Everything else about an
// interrupt (what to cancel, what to restore) lives in the session.
//
// The handler only counts. Long work polls the count (gxpoll) and the
// terminal read returns when the key is pressed; either throws Interrupted,
// which the command loop catches to cancel the command.
#pragma once

namespace gx {

// Thrown to cancel the running command. Not a std::exception, so that no
// handler written for errors can take it for one.
struct Interrupted {};

// Presses not answered before the handler gives up waiting for a poll and
// ends the process as SIGINT does by default (work that never polls).
constexpr int kInterruptPatience = 3;

// Installs the SIGINT handler (interactive runs; from main, never from the
// in-process sessions of the tests). Installed without SA_RESTART, so that
// a read waiting at the terminal returns when the key is pressed. Where the
// signal is ignored (a background job) it stays ignored.
void interruptInstall();

// Whether Ctrl-C has been pressed since the last interruptClear.
bool interruptPending();

// What the handler does: counts one press (tests, and the line sources
// that stand for the terminal).
void interruptRaise();

// The press has been answered.
void interruptClear();

}  // namespace gx
