// CLEAR: clears the terminal screen or the plot.
#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"

namespace tavo {

void cmdClear(Tavo& s, Command& c) { gx::gxcls(s.gx, s.inout.term, c.qual); }

}  // namespace tavo
