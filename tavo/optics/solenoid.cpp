// Solenoid: rotating, focusing in both planes.
#include <cmath>

#include "gxlib/fortran/fortio.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"

namespace tavo {

void solenoid(Tavo& s, int i, Mat4& m) {
  auto& io = s.gx.io;
  if (rawCode(s, i) != 11) {
    wrongKind(s, "?SOLENOID- Called for non-solenoid ELE = ", i, 6, 2);
    return;
  }
  double b = s.bdata(i, 3), len = s.bdata(i, 2);
  if (b == 0.0 || len == 0.0) {
    driftMatrix(s, i, m);
    return;
  }
  Kinematics kin = kinematics(s, i);
  if (kin.p <= 0) {
    io.write(s.inout.term, " ?SOLENOID- No particle energy at element " + gx::fI(i, 2) +
                               ", taken as a drift.");
    driftMatrix(s, i, m);
    return;
  }
  double k = b * 0.5 * kin.qep;
  s.bdata(i, 8) = k;
  double th = std::fabs(k * len);
  double c = std::cos(th), sn = std::sin(th);
  m(1, 1) = c * c;        m(1, 2) = sn * c * len / th; m(1, 3) = sn * c;         m(1, 4) = sn * sn * len / th;
  m(2, 1) = -sn * c * th / len; m(2, 2) = c * c;      m(2, 3) = -sn * sn * th / len; m(2, 4) = sn * c;
  m(3, 1) = -sn * c;      m(3, 2) = -sn * sn * len / th; m(3, 3) = c * c;        m(3, 4) = sn * c * len / th;
  m(4, 1) = sn * sn * th / len; m(4, 2) = -sn * c;    m(4, 3) = -sn * c * th / len; m(4, 4) = c * c;
  if (m(4, 3) == 0.0 || m(2, 1) == 0.0) {
    if (diagLevel(s) < 0) {
      io.write(s.inout.term, " ?SOLENOID- Error in element " + gx::fI(i, 2));
      io.write(s.inout.term, " A(2,1) = " + gx::fG(m(2, 1), 10, 3, 1));
      io.write(s.inout.term, " A(4,3) = " + gx::fG(m(4, 3), 10, 3, 1));
    }
    return;
  }
  storeLens(s, i, light(s, i, m));
}

}  // namespace tavo
