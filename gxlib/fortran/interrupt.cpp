#include "gxlib/fortran/interrupt.h"

#include <signal.h>

#include <atomic>

namespace gx {

namespace {

// Presses not yet answered: the single process-wide record (see the header).
std::atomic<int> g_presses{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free counter");

void onInterrupt(int) {
  if (g_presses.fetch_add(1) + 1 < kInterruptPatience) return;
  // Nothing has answered the key: the work does not poll. End as SIGINT
  // does by default rather than leave the user without a way out.
  ::signal(SIGINT, SIG_DFL);
  ::raise(SIGINT);
}

}  // namespace

void interruptInstall() {
  // A run started with the key ignored (a background job of a script)
  // keeps ignoring it: the key is meant for the foreground.
  struct sigaction old {};
  if (::sigaction(SIGINT, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) return;
  struct sigaction sa {};
  sa.sa_handler = onInterrupt;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a blocked terminal read returns EINTR
  ::sigaction(SIGINT, &sa, nullptr);
}

bool interruptPending() { return g_presses.load(std::memory_order_relaxed) > 0; }

void interruptRaise() { g_presses.fetch_add(1); }

void interruptClear() { g_presses.store(0); }

}  // namespace gx
