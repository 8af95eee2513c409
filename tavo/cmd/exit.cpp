// EXIT: the end of the session, with the final listing at the level asked.
#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/edit/edit.h"

namespace tavo {

void cmdExit(Tavo& s, Command& c) {
  gx::gxquit(s.gx, '*');
  int level = gx::gxnint(c.value);
  s.bdata(1, 5) = level;
  if (level >= 10) {
    std::string reply;
    if (ask(s, "IDIAG for final run  > ", reply, 80) != gx::Reply::Ok) return;
    long long d = 0;
    if (!gx::readInt(std::string_view(gx::pad(reply, 1)), d)) return;
    level = static_cast<int>(d);
    s.bdata(1, 5) = level;
  }
  if (level >= 1) {
    s.idiag = level;
    if (s.syspa >= 3)
      finalListing(s);
    else
      say(s, "No lens system loaded: no final listing.");
  }
  s.running = false;
}

}  // namespace tavo
