// Second-order transfer matrices: the quadratic monomials carried through
// an element's first-order matrix, plus the sextupole's own terms.
#include <cmath>

#include "gxlib/fortran/fortio.h"
#include "tavo/aber/aber.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"

namespace tavo {

namespace {
// First-order components of the quadratic monomials 5..14.
constexpr int kPair[10][2] = {{1, 1}, {1, 2}, {1, 3}, {1, 4}, {2, 2},
                              {2, 3}, {2, 4}, {3, 3}, {3, 4}, {4, 4}};
}  // namespace

void bsqsub(const Mat4& m, Mat14& sm) {
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 4; ++c) sm(r, c) = m(r, c);
  for (int o = 0; o < 10; ++o) {
    const int k = kPair[o][0], l = kPair[o][1];
    for (int n = 0; n < 10; ++n) {
      const int i = kPair[n][0], j = kPair[n][1];
      sm(5 + o, 5 + n) = m(k, i) * m(l, j) + (1.0 - kronecker(i, j)) * m(l, i) * m(k, j);
    }
  }
}

void second(Tavo& s, int i, const Mat4& m, Mat14& sm) {
  sm = Mat14{};
  bsqsub(m, sm);

  // Only sextupole fields add second-order terms of their own: a sextupole
  // row, or a quadrupole carrying a superimposed sextupole.
  const int raw = rawCode(s, i);
  int j = 0;
  if (raw == 6 || raw == 16) {
    j = i;
  } else if (raw == 4 || raw == 14) {
    for (int r = i + 1; r <= kRows; ++r) {
      const int rr = rawCode(s, r);
      if (rr < 20 || rr >= 40) break;
      if (rr % 10 == 6) {
        j = r;
        break;
      }
    }
  }
  if (j == 0) return;

  const double len = s.bdata(j, 2);
  const double b3 = s.bdata(j, 3);
  const double a = s.bdata(j, 4);
  if (a < 1e-10) {
    s.gx.io.write(s.inout.term, " Zero radius second order element at " + gx::fI(j, 3));
    return;
  }

  // Kinematics from the kinetic energy at the element; the field acts on
  // charge Q: magnetic factor Q e/p, electric Q/T.
  const Kinematics kin = kinematics(s, i);
  const int rj = rawCode(s, j);
  const bool electric = rj == 16 || rj == 36;
  double ks = 0.0;
  if (electric) {
    if (kin.t > 0.0) ks = std::sqrt(std::fabs(kin.q * b3 / (a * a * a * kin.t)));
  } else {
    ks = std::sqrt(std::fabs(b3) * kin.qep / (a * a));
  }
  s.bdata(j, 8) = ks;
  const double s2 = b3 < 0.0 ? -ks * ks : ks * ks;
  if (s2 == 0.0) return;

  // Weak-sextupole expansion along the straight rays; the fractions are
  // single-precision values of the decimal constants.
  const double h2 = static_cast<double>(0.5f);
  const double h3 = static_cast<double>(1.0f / 3.0f);
  const double h12 = static_cast<double>(1.0f / 12.0f);
  const double h6 = static_cast<double>(1.0f / 6.0f);
  const double t3 = static_cast<double>(2.0f / 3.0f);
  const double l2 = len * len, l3 = l2 * len, l4 = l3 * len;
  // Columns: 5 x2, 6 xT, 7 xy, 8 xP, 9 T2, 10 Ty, 11 TP, 12 y2, 13 yP, 14 P2.
  sm(1, 5) = -s2 * l2 * h2;
  sm(1, 6) = -s2 * l3 * h3;
  sm(1, 9) = -s2 * l4 * h12;
  sm(1, 12) = s2 * l2 * h2;
  sm(1, 13) = s2 * l3 * h3;
  sm(1, 14) = s2 * l4 * h12;
  sm(2, 5) = -s2 * len;
  sm(2, 6) = -s2 * l2;
  sm(2, 9) = -s2 * l3 * h3;
  sm(2, 12) = s2 * len;
  sm(2, 13) = s2 * l2;
  sm(2, 14) = s2 * l3 * h3;
  sm(3, 7) = s2 * l2;
  sm(3, 8) = s2 * l3 * h3;
  sm(3, 10) = s2 * l3 * h3;
  sm(3, 11) = s2 * l4 * h6;
  sm(4, 7) = 2.0 * s2 * len;
  sm(4, 8) = s2 * l2;
  sm(4, 10) = s2 * l2;
  sm(4, 11) = t3 * s2 * l3;
}

}  // namespace tavo
