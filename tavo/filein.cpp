// Placeholder: replaced by the real routines.
#include "tavo/commands.h"

namespace tavo {

void cmdData(Tavo& s, Command&) { s.gx.io.write(s.inout.term, " Not built yet."); }
void cmdSave(Tavo& s, Command&) { s.gx.io.write(s.inout.term, " Not built yet."); }

}  // namespace tavo
