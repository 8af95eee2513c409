// Accelerating section: a uniform axial field that raises the energy by
// the voltage times the charge; the angles shrink with the momentum.
#include <cmath>

#include "gxlib/fortran/fortio.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"

namespace tavo {

void accel(Tavo& s, int i, Mat4& m) {
  if (rawCode(s, i) != 10) {
    wrongKind(s, "?ACCEL- Called for non-accelerator ELE = ", i, 6, 2);
    return;
  }
  double dt = s.bdata(i, 3) * std::fabs(s.bdata(1, 2));
  if (dt == 0.0) {
    driftMatrix(s, i, m);
    return;
  }
  double t = kineticEnergyMeV(s, i);
  if (t <= 0.0 || t + dt <= 0.0) {
    s.gx.io.write(s.inout.term, " ?ACCEL- Energy not positive at element " + gx::fI(i, 2) +
                                    ", taken as a drift.");
    driftMatrix(s, i, m);
    return;
  }
  double r = std::sqrt((t + dt) / t);
  double len = s.bdata(i, 2);
  m = Mat4{};
  m(1, 1) = m(3, 3) = 1.0;
  m(1, 2) = m(3, 4) = 2.0 * len / (r + 1.0);
  m(2, 2) = m(4, 4) = 1.0 / r;
  s.bdata(i, 8) = 0.0;
  storeLens(s, i, light(s, i, m));
}

}  // namespace tavo
