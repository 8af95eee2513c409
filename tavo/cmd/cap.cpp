// CAP: the title of the lens system.
#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"

namespace tavo {

void cmdCap(Tavo& s, Command&) {
  say(s, "Title: " + std::string(gx::trimRight(s.title)));
  std::string reply;
  if (ask(s, "New> ", reply, 50) != gx::Reply::Ok) return;
  if (!trimBlanks(reply).empty()) s.title = gx::pad(reply, 50);
}

}  // namespace tavo
