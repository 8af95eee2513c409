// Commands whose work arrives with later parts of the program.
#include "tavo/commands.h"

namespace tavo {

namespace {
void notBuilt(Tavo& s, const char* word) {
  s.gx.io.write(s.inout.term, std::string(" ") + word + " is not built yet in this version.");
}
}  // namespace

void cmdElemen(Tavo& s, Command&) { notBuilt(s, "ELEMEN"); }
void cmdRotn(Tavo& s, Command&) { notBuilt(s, "ROTN"); }
void cmdInsert(Tavo& s, Command&) { notBuilt(s, "INSERT"); }
void cmdRemove(Tavo& s, Command&) { notBuilt(s, "REMOVE"); }
void cmdSqueez(Tavo& s, Command&) { notBuilt(s, "SQUEEZ"); }
void cmdEffect(Tavo& s, Command&) { notBuilt(s, "EFFECT"); }
void cmdParasi(Tavo& s, Command&) { notBuilt(s, "PARASI"); }
void cmdDisp(Tavo& s, Command&) { notBuilt(s, "DISP"); }

}  // namespace tavo
