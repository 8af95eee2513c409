// STIG: the coupled fields fitted by the minimiser until the system is
// stigmatic (or focused in one plane, STIG/X, STIG/Y) at its end.
#include <cmath>
#include <string>

#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/design/design.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace tavo {

namespace {

std::string g135(double v) { return gx::fG(v, 13, 5, 1); }

}  // namespace

void cmdStig(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  cmdS(s, c);   // evaluates, collects the variables and shows the astigmatism
  if (s.blk1.nv == 0) {
    say(s, "No variable first order elements.");
    return;
  }
  if (diagLevel(s) > 0) s.bdata(1, 5) = -1.0;
  s.idiag = diagLevel(s);
  const double precision = c.value > 0.0 ? c.value : static_cast<double>(1e-10f);
  s.bdata(1, 6) = c.qual == 'X' ? 1.0 : c.qual == 'Y' ? 2.0 : 0.0;
  double v;
  astigmatismSquared(s, v);
  if (s.idiag == -6) {
    say(s, "Initial combined image distance error = " + g135(v));
    say(s, "(N)   X-Y error   - FIELDS (" + gx::fI(s.blk1.nv, 2) + ")............");
  } else {
    say(s, "Initial combined astigmatism = " + g135(std::sqrt(v)));
    say(s, "(N)  Comb. Astg.  - FIELDS (" + gx::fI(s.blk1.nv, 2) + ")............");
  }
  setup(s, precision);
  stepit(s, astigmatismObjective);
  s.bdata(1, 6) = 0.0;
  s.iflag = 1;
  reload(s);
  Mat4 a;
  stigmat(s, 3, a);
  say(s, "After minimisation  (X/TH) = " + gx::fG(a(1, 2), 12, 5, 1) + " m/rad");
  say(s, "                    (Y/PH) = " + gx::fG(a(3, 4), 12, 5, 1) + " m/rad");
  if (c.qual == 'I') {
    double mx, my;
    mag(s, s.syspa, mx, my);
    say(s, "After minimisation     C10 = " + gx::fG(a(1, 2) * mx, 12, 5, 1) + " m/rad");
    say(s, "                       C01 = " + gx::fG(a(3, 4) * my, 12, 5, 1) + " m/rad");
  }
}

}  // namespace tavo
