// Gap (aperture) lens between accelerating sections: a thin lens whose
// power comes from the step in the axial field; the bore does not enter
// the first-order power.
#include <cmath>

#include "gxlib/fortran/fortio.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"

namespace tavo {

namespace {
// Axial field (MV/m) of row j when it is an accelerating section.
double gradient(Tavo& s, int i, int j) {
  if (j < 3 || j > kRows || rawCode(s, j) != 10) return 0.0;
  double len = s.bdata(j, 2);
  if (len == 0.0) {
    s.gx.io.write(s.inout.term, " ?GAP- Accelerating section " + gx::fI(j, 2) +
                                    " beside element " + gx::fI(i, 2) +
                                    " has no length, no field taken.");
    return 0.0;
  }
  return s.bdata(j, 3) / len;
}
}  // namespace

void gap(Tavo& s, int i, Mat4& m) {
  if (rawCode(s, i) != 13) {
    wrongKind(s, "?GAP- Called for non-gap lens ELE = ", i, 6, 2);
    return;
  }
  s.bdata(i, 2) = 0.005;
  double gb = gradient(s, i, i - 1);
  double ga = gradient(s, i, i + 1);
  double t = kineticEnergyMeV(s, i);
  if (t <= 0.0) t = 1e-6;
  double q = std::fabs(s.bdata(1, 2));
  m = Mat4::identity();
  m(1, 2) = m(3, 4) = 0.0;
  // Aperture lens after Davisson and Calbick: f = 4 V / (E_after - E_before)
  // with V = T/Q the potential of the particle.
  m(2, 1) = m(4, 3) = q * (gb - ga) / (4.0 * t);
  s.bdata(i, 8) = 0.0;
  storeLens(s, i, light(s, i, m));
}

}  // namespace tavo
