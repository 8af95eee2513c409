// Correction of the third-order spherical aberration with three magnetic
// octupoles: the strengths that cancel P, PB and the mean of S and SB solve
// a 3x3 linear system; the pole-tip fields follow from the
// particle's rigidity at each octupole.
#include <cmath>
#include <string>

#include "gxlib/fortran/fortio.h"
#include "gxlib/mat.h"
#include "tavo/design/design.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/talk.h"

namespace tavo {

namespace {

std::string g135(double v) { return gx::fG(v, 13, 5, 1); }

// A unit number that can be written: the listing unit when it is open,
// otherwise the terminal.
int writable(Tavo& s, int unit) {
  return (unit == s.inout.term || s.gx.io.isOpen(unit)) ? unit : s.inout.term;
}

// The first three magnetic octupoles into oct[1..3]; returns how many the
// system has.
int magneticOctupoles(Tavo& s, int oct[4]) {
  int count = 0;
  const int last = std::min(s.syspa, kRows);
  for (int r = 1; r <= last; ++r) {
    const TypeCode tc = decodeType(s, s.bdata(r, 1));
    if (tc.kind != 8 || tc.field != 1) continue;
    if (count < 3) oct[count + 1] = r;
    ++count;
  }
  return count;
}

// The response of P, S and PB (rows) to the strengths of the three
// octupoles (columns), each referred to the object through the
// magnifications of the lenses before it.
void octupoleResponse(Tavo& s, const int oct[4], gx::Mat<3, 3>& m) {
  double mx[4], my[4], dx5[4], dy5[4], w[4];
  const double fifth = static_cast<double>(0.2f);
  for (int j = 1; j <= 3; ++j) {
    const int r = oct[j];
    int k;
    double dx, dy;
    lastFocusing(s, r, k, dx, dy);
    // An octupole that sees the object directly has unit magnification.
    mx[j] = k >= 3 ? s.bdata(k, 9) : 1.0;
    my[j] = k >= 3 ? s.bdata(k, 10) : 1.0;
    const double len = s.bdata(r, 2);
    const double a = dx - len / 2.0, b = dy - len / 2.0;
    dx5[j] = -(std::pow(len + a, 5) - std::pow(a, 5)) / 5.0;
    dy5[j] = -(std::pow(len + b, 5) - std::pow(b, 5)) / 5.0;
    w[j] = 3.0 * (len * a * a * b * b + a * b * (a + b) * len * len +
                  (a * a + b * b + 4.0 * a * b) * std::pow(len, 3) / 3.0 +
                  std::pow(len, 4) * (a + b) / 2.0 + fifth * std::pow(len, 5));
  }
  m(1, 1) = dx5[1] / std::pow(mx[1], 4);
  m(1, 2) = dx5[2] / std::pow(mx[1] * mx[2], 4);
  m(1, 3) = dx5[3] / std::pow(mx[2] * mx[3] * mx[1], 4);
  m(2, 1) = w[1] / std::pow(my[1] * mx[1], 2);
  m(2, 2) = w[2] / std::pow(my[2] * mx[2] * mx[1] * my[1], 2);
  m(2, 3) = w[3] / std::pow(my[3] * mx[3] * mx[2] * my[2] * mx[1] * my[1], 2);
  m(3, 1) = dy5[1] / std::pow(my[1], 4);
  m(3, 2) = dy5[2] / std::pow(my[1] * my[2], 4);
  m(3, 3) = dy5[3] / std::pow(my[2] * my[3] * my[1], 4);
}

// The strengths str(1..3) that give m str = rhs; delta receives minus the
// determinant, the sign it has always been printed with (that of the rows
// taken in the order P, PB, S). False when the system is singular: only an
// exactly singular matrix is refused, for the strengths of a poorly
// conditioned one are still the best the three octupoles can do.
bool solveStrengths(const gx::Mat<3, 3>& m, const gx::Vec<3>& rhs, double& delta,
                    gx::Vec<3>& str) {
  delta = -gx::det(m);
  return delta != 0.0 && std::isfinite(delta) && gx::solve(m, rhs, str, 0.0);
}

// Pole-tip field from the strength K = (Q e/p) B / R^3, with the momentum
// of the particle at the octupole (relativistic, the same as the octupole
// itself uses), so that the fields give back exactly these strengths.
// False, with the message on unit msg, when a particle has no momentum.
bool poleTipFields(Tavo& s, int msg, const int oct[4], const gx::Vec<3>& str, double field[4]) {
  for (int j = 1; j <= 3; ++j) {
    const Kinematics kin = kinematics(s, oct[j]);
    if (kin.qep <= 0.0) {
      s.gx.io.write(msg, " %CRAMER- No particle momentum at octupole " + gx::fI(oct[j], 2) +
                             ", no fields set.");
      return false;
    }
    field[j] = std::pow(s.bdata(oct[j], 4), 3) * str(j) / kin.qep;
  }
  return true;
}

}  // namespace

bool octupoleCorrection(Tavo& s, double p, double& sx, double pb, double sb) {
  auto& io = s.gx.io;
  const int msg = writable(s, s.idiag >= 1 ? s.inout.lst : s.inout.term);
  const int lst = writable(s, s.inout.lst);
  int oct[4] = {0, 0, 0, 0};
  const int count = magneticOctupoles(s, oct);
  s.nlens.noct = count;
  if (count < 3) {
    io.write(msg, " %CRAMER- Insufficient Octupoles for correction,");
    io.write(msg, " at least 3 are required, you have only " + gx::fI(count, 2));
    return false;
  }
  if (count > 3)
    io.write(msg, " %CRAMER - FIRST 3/" + gx::fI(count, 1) + " OF AVAILABLE OCTUPOLES USED.");
  sx = (sx + sb) / 2.0;
  gx::Mat<3, 3> m;
  octupoleResponse(s, oct, m);
  const gx::Vec<3> rhs{{-p, -sx, -pb}};
  double delta = 0.0;
  gx::Vec<3> str;
  if (!solveStrengths(m, rhs, delta, str)) {
    io.write(msg, " ");
    io.write(msg, " %CRAMER-Determinant of coefficient matrix zero, system");
    io.write(msg, " %CRAMER-cannot be corrected with octupoles. ");
    return false;
  }
  double field[4] = {0, 0, 0, 0};
  if (!poleTipFields(s, msg, oct, str, field)) return false;
  double z[4];
  z[1] = m(1, 1) * str(1) + m(1, 2) * str(2) + m(1, 3) * str(3) + p;
  z[2] = m(3, 1) * str(1) + m(3, 2) * str(2) + m(3, 3) * str(3) + pb;
  z[3] = m(2, 1) * str(1) + m(2, 2) * str(2) + m(2, 3) * str(3) + sx;
  const double ztot = std::fabs(z[1]) + std::fabs(z[2]) + std::fabs(z[3]);
  if (ztot > static_cast<double>(1.0e-4f))
    io.write(msg, " %CRAMER - Partial correction  Z = " + g135(ztot));
  for (int j = 1; j <= 3; ++j) {
    s.bdata(oct[j], 8) = str(j);
    s.bdata(oct[j], 3) = field[j];
  }
  io.write(msg, gx::fX(40) + "Determinant = " + g135(delta));
  if (s.idiag >= 0) {
    for (int j = 1; j <= 3; ++j) {
      if (rawCode(s, oct[j]) != 8) continue;
      io.write(lst, gx::fX(10) + "Octupole " + gx::fI(j, 2) + " = " + g135(field[j]) +
                        " Tesla (Z" + gx::fI(j, 1) + " = " + gx::fG(z[j], 9, 2, 1) + ")");
    }
  }
  return true;
}

}  // namespace tavo
