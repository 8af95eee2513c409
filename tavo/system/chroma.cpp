// Chromatic coefficients: the system evaluated at a raised energy.
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace tavo {

void chroma(Tavo& s, double& dp) {
  if (dp == 0.0) dp = 0.001;
  double e0 = s.bdata(1, 12);
  s.bdata(1, 12) = e0 * (dp + 100.0) / 100.0;
  Mat4 a;
  stigmat(s, 1, a);
  double v[4] = {0.0, 1.0 / dp, 0.0, 1.0 / dp};
  vecmul(s, 1, v, a);
  s.aber0(1) = v[0];
  s.aber0(2) = v[2];
  double w[4] = {1.0 / dp, 0.0, 1.0 / dp, 0.0};
  vecmul(s, 1, w, a);
  s.aber0(3) = w[0];
  s.aber0(4) = w[2];
  s.bdata(1, 12) = e0;
  // Leave the table as the nominal energy gives it.
  stigmat(s, 1, a);
}

}  // namespace tavo
