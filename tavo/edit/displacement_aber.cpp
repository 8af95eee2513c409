// DISP's analysis: the shift of the image caused by displacing each
// quadrupole in turn across the axis, to first, second and third order.
#include <cmath>

#include "gxlib/fortran/fortio.h"
#include "tavo/edit/edit.h"
#include "tavo/optics/optics.h"
#include "tavo/talk.h"
#include "tavo/system/system.h"

namespace tavo {

void displacementAberrations(Tavo& s, double value) {
  const double a = value > 1e-10 ? value : static_cast<double>(0.001f);
  const TableCopy saved(s);
  // The user's displacements are cleared for the first order and given back
  // after each order, so the higher orders see them (all but the
  // quadrupole just measured, which stays centred to the end of the order).
  const auto user = s.displ;
  for (auto& d : s.displ) d = {0.0, 0.0};
  Mat4 m;
  std::array<int, 41> quads{};
  const int nq = quadrupoleRows(s, quads);
  auto& io = s.gx.io;

  for (int o = 1; o <= 3; ++o) {
    stigmat(s, o, m);
    const double rx = s.bdata(2, 7), ry = s.bdata(2, 9);
    say(s, "");
    say(s, gx::fI(o, 2) + " Order displacement aberration coefficients (offset " +
               gx::fG(a * 1000.0, 12, 5, 1) + " mm) :");
    say(s, "");
    say(s, "Quadrupole       Position     (x/a)        (y/b)");
    say(s, "");
    for (int q = 1; q <= nq; ++q) {
      const int j = quads[q];
      s.displ[j][0] = a;
      stigmat(s, o, m);
      const double cx = (s.bdata(2, 7) - rx) / a;
      s.displ[j][0] = 0.0;
      s.displ[j][1] = a;
      stigmat(s, o, m);
      const double cy = (s.bdata(2, 9) - ry) / a;
      s.displ[j][1] = 0.0;
      io.write(s.inout.term, gx::fX(3) + gx::fI(q, 2) + gx::fX(15) + gx::fI(j, 2) + gx::fX(9) +
                                 gx::fG(cx, 12, 5, 1) + gx::fX(6) + gx::fG(cy, 12, 5, 1));
    }
    s.displ = user;
    say(s, "");
    say(s, "                Units: m/m");
    say(s, "");
  }
  saved.restore(s);
}

}  // namespace tavo
