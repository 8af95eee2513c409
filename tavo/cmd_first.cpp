// Placeholder: replaced by the real routines.
#include "tavo/commands.h"

namespace tavo {

void cmdSmat(Tavo& s, Command&) { s.gx.io.write(s.inout.term, " Not built yet."); }
void cmdSystem(Tavo& s, Command&) { s.gx.io.write(s.inout.term, " Not built yet."); }
void cmdElementView(Tavo& s, Command&) { s.gx.io.write(s.inout.term, " Not built yet."); }
void cmdRuss(Tavo& s, Command&) { s.gx.io.write(s.inout.term, " Not built yet."); }
void cmdS(Tavo& s, Command&) { s.gx.io.write(s.inout.term, " Not built yet."); }
void cmdCouple(Tavo& s, Command&) { s.gx.io.write(s.inout.term, " Not built yet."); }
void cmdChrom(Tavo& s, Command&) { s.gx.io.write(s.inout.term, " Not built yet."); }
void cmdVector(Tavo& s, Command&) { s.gx.io.write(s.inout.term, " Not built yet."); }
void cmdPtf(Tavo& s, Command&) { s.gx.io.write(s.inout.term, " Not built yet."); }

}  // namespace tavo
