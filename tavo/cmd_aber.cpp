// Placeholder: replaced by the real routines.
#include "tavo/commands.h"

namespace tavo {

void cmdThird(Tavo& s, Command&) { s.gx.io.write(s.inout.term, " Not built yet."); }
void cmdAb3(Tavo& s, Command&) { s.gx.io.write(s.inout.term, " Not built yet."); }
void cmdAb2(Tavo& s, Command&) { s.gx.io.write(s.inout.term, " Not built yet."); }
void cmdCofout(Tavo& s, Command&) { s.gx.io.write(s.inout.term, " Not built yet."); }
void systemMerit(Tavo&) {}

}  // namespace tavo
