// CORR: the name of the correction output file.
#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"

namespace tavo {

// File names are taken as typed: the decoder would rewrite a name that
// starts like a number.
void cmdCorr(Tavo& s, Command& c) {
  const std::string name = c.typedArg();
  if (name.empty()) return;
  s.corrName = name + ".lpt";
  say(s, "Output into file " + s.corrName);
}

}  // namespace tavo
