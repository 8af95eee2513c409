// Dipole: a drift for the matrix; the bend of the beam vector is added by
// dipadd.
#include "gxlib/fortran/fortio.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"

namespace tavo {

void dipole(Tavo& s, int i, Mat4& m) {
  int raw = rawCode(s, i);
  if (raw != 2 && raw != 12) {
    wrongKind(s, "?DIP- Called for non-DIPOLE ELE=", i, 5, 1);
    return;
  }
  m = Mat4::identity();
  m(1, 2) = m(3, 4) = s.bdata(i, 2);
  s.bdata(i, 8) = 0.0;
  storeLens(s, i, light(s, i, m));
}

}  // namespace tavo
