// PARASI: the parasitic multipole fields of the quadrupoles.
#include "tavo/commands.h"
#include "tavo/edit/edit.h"

namespace tavo {

void cmdParasi(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  parasiticAberrations(s, c.qual != ' ' ? c.qual : c.letter, argNumber(c));
}

}  // namespace tavo
