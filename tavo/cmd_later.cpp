// Commands whose work arrives with later parts of the program.
#include "tavo/commands.h"
#include "tavo/edit.h"

namespace tavo {

namespace {
void notBuilt(Tavo& s, const char* word) {
  s.gx.io.write(s.inout.term, std::string(" ") + word + " is not built yet in this version.");
}
}  // namespace

void cmdStig(Tavo& s, Command&) { notBuilt(s, "STIG"); }
void cmdFishk(Tavo& s, Command&) { notBuilt(s, "FISHK"); }
void cmdCram(Tavo& s, Command&) { notBuilt(s, "CRAM"); }
void cmdExcite(Tavo& s, Command&) { notBuilt(s, "EXCITE"); }
void cmdMask(Tavo& s, Command&) { notBuilt(s, "MASK"); }
void cmdSpec(Tavo& s, Command&) { notBuilt(s, "SPEC"); }
void cmdTrace(Tavo& s, Command&) { notBuilt(s, "TRACE"); }
void cmdAgp(Tavo& s, Command&) { notBuilt(s, "AGP"); }

// The thin-lens estimate of the quadrupoles' spherical aberration arrives
// with the octupole-correction work; the final listing calls it.
void fishk(Tavo& s, double& p, double& sc, double& pb, double& sb) {
  p = sc = pb = sb = 0.0;
  notBuilt(s, "FISHK");
}

}  // namespace tavo
