// ROTN's analysis: the x-y coupling of the image caused by rotating each
// quadrupole in turn about the axis.
#include <cmath>

#include "gxlib/fortran/fortio.h"
#include "tavo/edit/edit.h"
#include "tavo/optics/optics.h"
#include "tavo/talk.h"
#include "tavo/system/system.h"

namespace tavo {

namespace {
// One degree in radians, as the program has always taken it.
constexpr double kDegree = static_cast<double>(0.0175f);
}  // namespace

void rotationAberrations(Tavo& s, char option, double value) {
  const double u = option == 'D' ? kDegree : 1.0;
  const double a = value > 1e-10 ? value * kDegree : kDegree;
  const TableCopy saved(s);
  Mat4 m;
  stigmat(s, 1, m);
  s.rotat.fill(0.0);
  std::array<int, 41> quads{};
  const int nq = quadrupoleRows(s, quads);
  auto& io = s.gx.io;

  say(s, "");
  say(s, "Rotational aberration coefficients (" + gx::fG(a / kDegree, 12, 5, 1) + " deg) :");
  say(s, "");
  say(s, "Quadrupole       Position     (x/ph.rho)        (y/th.rho)");
  say(s, "");
  for (int q = 1; q <= nq; ++q) {
    const int j = quads[q];
    s.rotat[j] = a;
    stigmat(s, 1, m);
    io.write(s.inout.term, gx::fX(3) + gx::fI(q, 2) + gx::fX(15) + gx::fI(j, 2) + gx::fX(9) +
                               gx::fG(m(1, 4) * u / a, 12, 5, 1) + gx::fX(6) +
                               gx::fG(m(3, 2) * u / a, 12, 5, 1));
    s.rotat[j] = 0.0;
  }
  saved.restore(s);
  say(s, "");
  say(s, option == 'D' ? "                Units: m/rad/degree" : "                Units: m/rad^2");
  say(s, "");
}

}  // namespace tavo
