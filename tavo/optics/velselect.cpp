// Velocity (Wien) selector: crossed fields balanced for the design speed;
// the magnetic bend focuses in x with wave number Q e B/(m v).
#include <cmath>

#include "gxlib/fortran/fortio.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"

namespace tavo {

void velselect(Tavo& s, int i, Mat4& m) {
  TypeCode tc = decodeType(s, s.bdata(i, 1));
  if (tc.kind != 7) {
    wrongKind(s, "?VS- Called for non-VS ELE=", i, 5, 1);
    return;
  }
  double b = s.bdata(i, 3), len = s.bdata(i, 2);
  if (b == 0.0) {
    driftMatrix(s, i, m);
    return;
  }
  const tavo_const& k0 = s.cnst;
  double mass = s.bdata(1, 3) * k0.u;
  double t = kineticEnergyMeV(s, i) * 1e6;   // eV
  double q = std::fabs(s.bdata(1, 2));
  if (t <= 0.0 || mass <= 0.0 || q == 0.0) {
    s.gx.io.write(s.inout.term, " ?VS- No particle speed or charge at element " + gx::fI(i, 2) +
                                    ", taken as a drift.");
    driftMatrix(s, i, m);
    return;
  }
  double v = std::sqrt(2.0 * t * k0.e / mass);
  double e = b * v;
  s.bdata(i, 4) = e;
  double k = std::fabs(b * b * k0.e * q / (e * mass));
  double kl = k * len;
  m = Mat4::identity();
  m(1, 1) = m(2, 2) = std::cos(kl);
  m(1, 2) = std::sin(kl) / k;
  m(2, 1) = -k * std::sin(kl);
  m(3, 4) = len;
  double rot = s.rotat[i];
  if (std::fabs(rot) > 1e-10) rotate(rot, m);
  s.bdata(i, 8) = k;
  storeLens(s, i, light(s, i, m));
}

}  // namespace tavo
