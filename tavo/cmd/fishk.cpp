// FISHK: the thin-lens spherical coefficients of the quadrupoles, and the
// octupole correction when the system has three octupoles.
#include "tavo/commands.h"
#include "tavo/design/design.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace tavo {

void cmdFishk(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  Mat4 a;
  stigmat(s, 1, a);
  double p = 0, sx = 0, pb = 0, sb = 0;
  if (!fishk(s, p, sx, pb, sb)) return;
  int noct = 0;
  for (int r = 3; r <= s.syspa && r <= kRows; ++r)
    if (decodeType(s, s.bdata(r, 1)).kind == 8) ++noct;
  if (noct < 3) return;
  // The correction works on object-side coefficients, as the formulae give.
  if (octupoleCorrection(s, p, sx, pb, sb)) correctionList(s, c);
}

}  // namespace tavo
