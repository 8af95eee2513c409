// EFFECT: the quadrupoles' lengths become effective lengths.
#include "tavo/commands.h"
#include "tavo/edit/edit.h"

namespace tavo {

void cmdEffect(Tavo& s, Command&) {
  if (!haveSystem(s)) return;
  effectiveLengths(s);
}

}  // namespace tavo
