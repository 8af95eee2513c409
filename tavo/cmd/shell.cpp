// $: a command for the operating system.
#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"

namespace tavo {

void cmdSystemShell(Tavo& s, Command& c) {
  gx::gxsystem(s.gx, trimBlanks(gx::pad(c.typedArg(), 33)));
}

}  // namespace tavo
