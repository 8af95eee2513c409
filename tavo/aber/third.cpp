// Third-order geometric aberrations of quadrupoles (with superimposed
// octupoles), octupoles and solenoids, and their transfer to the system
// object.
#include <array>
#include <cmath>
#include <string>

#include "gxlib/fortran/fortio.h"
#include "tavo/aber/aber.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"

namespace tavo {

namespace {

bool superimposed(const Tavo& s, int row) {
  const int raw = rawCode(s, row);
  return raw >= 20 && raw < 40;
}

std::string g135(double v) { return gx::fG(v + 0.0, 13, 5, 1); }

// Adds to T the position terms that follow from aperture terms A (own
// plane) and B (mixed) by the substitution theta -> theta + x/v,
// phi -> phi + y/w.  plane 0: x row, 1: y row.
void positionTerms(Third& t, int plane, double a, double b, double v, double w) {
  auto e = [&](int j) -> double& { return t(plane + 1, j); };
  e(3) += 3.0 * a / v;
  e(6) += 3.0 * a / (v * v);
  e(9) += a / (v * v * v);
  e(4) += b / v;
  e(5) += 2.0 * b / w;
  e(7) += b / (w * w);
  e(8) += 2.0 * b / (v * w);
  e(10) += b / (v * w * w);
}

}  // namespace

void zero(Third& t) { t.fill(0.0); }

void third(Tavo& s, int i, Third& t) {
  zero(t);
  const int raw = rawCode(s, i);
  if (raw == 4 || raw == 14) {
    qspher(s, i, t);
  } else if (raw == 8 || raw == 18) {
    // Octupole in a field-free region: the kick x'' ~ K (x^3 - 3 x y^2)
    // integrated along the rays from the element's object.
    const double big = s.bdata(i, 8);
    const double k = raw == 18 ? -big : big;
    const double len = s.bdata(i, 2);
    int last = 0;
    double dx = 0.0, dy = 0.0;
    lastFocusing(s, i, last, dx, dy);
    // The fractions are single-precision values of the decimal constants.
    const double f5 = static_cast<double>(0.2f);
    const double f3 = static_cast<double>(1.0f / 3.0f);
    for (int plane = 0; plane < 2; ++plane) {
      const double u = (plane == 0 ? dx : dy) - len / 2.0;
      const double w = (plane == 0 ? dy : dx) - len / 2.0;
      auto e = [&](int j) -> double& { return t(plane + 1, j); };
      const double l2 = len * len, l3 = l2 * len, l4 = l3 * len, l5 = l4 * len;
      e(1) = -(k * f5) * (std::pow(u + len, 5) - std::pow(u, 5));
      e(2) = 3.0 * k * (l5 * f5 + u * u * w * w * len + u * w * (u + w) * l2 +
                        l3 * (u * u + 4.0 * u * w + w * w) * f3 + l4 * (u + w) / 2.0);
      e(3) = -(3.0 * k / 4.0) * (std::pow(u + len, 4) - std::pow(u, 4));
      e(4) = 3.0 * k * (l4 / 4.0 + u * w * w * len + (2.0 * u + w) * w * l2 / 2.0 +
                        l3 * (2.0 * w + u) * f3);
      e(5) = 6.0 * k * (l4 / 4.0 + u * u * w * len + (2.0 * w + u) * u * l2 / 2.0 +
                        l3 * (2.0 * u + w) * f3);
      e(6) = -k * (std::pow(u + len, 3) - std::pow(u, 3));
      e(7) = -e(6);
      e(8) = 6.0 * k * (l3 * f3 + u * w * len + (u + w) * l2 / 2.0);
      e(9) = -(2.0 * u + len) * k * len / 2.0;
      // The octupole's x-kick goes as x^3 - 3xy^2.
      e(10) = -3.0 * e(9);
    }
  } else if (raw == 11) {
    const double k = s.bdata(i, 8);
    t(1, 1) = t(2, 1) = s.cnst.pi * k * s.bdata(i, 2) / 6.0;
  }
}

namespace {

// Electric share of the lens: that of a superimposed partner quadrupole
// when there is one.
double electricShare(const Tavo& s, int i) {
  double eps = rawCode(s, i) == 14 ? -1.0 : 0.0;
  for (int j = i + 1; j <= kRows && superimposed(s, j); ++j) {
    if (rawCode(s, j) % 10 == 4) {
      eps = s.bdata(j, 8);
      break;
    }
  }
  return eps;
}

// The thin quadrupole's terms from its focal lengths, written out in powers
// of the object distances so that a lens standing in an intermediate image
// (u = 0) gives the finite limit.
void thinQuadTerms(Third& t, double a, double b, double fx, double fy, double len, double ux,
                   double uy) {
  const double cx = a / (fx * fx * len), cy = a / (fy * fy * len);
  const double cm = -b / (fx * fy * len);
  const double ux2 = ux * ux, uy2 = uy * uy;
  auto ex = [&](int j) -> double& { return t(1, j); };
  auto ey = [&](int j) -> double& { return t(2, j); };
  ex(1) = ux2 * ux2 * cx;
  ey(1) = uy2 * uy2 * cy;
  ex(2) = ey(2) = ux2 * uy2 * cm;
  ex(3) = 3.0 * ux2 * ux * cx;
  ex(6) = 3.0 * ux2 * cx;
  ex(9) = ux * cx;
  ex(4) = ux * uy2 * cm;
  ex(5) = 2.0 * ux2 * uy * cm;
  ex(7) = ux2 * cm;
  ex(8) = 2.0 * ux * uy * cm;
  ex(10) = ux * cm;
  ey(3) = 3.0 * uy2 * uy * cy;
  ey(6) = 3.0 * uy2 * cy;
  ey(9) = uy * cy;
  ey(4) = uy * ux2 * cm;
  ey(5) = 2.0 * uy2 * ux * cm;
  ey(7) = uy2 * cm;
  ey(8) = 2.0 * ux * uy * cm;
  ey(10) = uy * cm;
}

// Octupoles superimposed on the quadrupole of row i (strength k, length
// len, object distances ux, uy) add their terms to t; gamma receives the
// first two strengths, noct their number. The closed form integrates from
// the lens entrance, so it is given the distances from the images to the
// entrance rather than to the centre.
void superposedOctupoles(Tavo& s, int i, double k, double len, double ux, double uy, Third& t,
                         std::array<double, 2>& gamma, int& noct) {
  const Kinematics kin = kinematics(s, i);
  for (int j = i + 1; j <= kRows && superimposed(s, j); ++j) {
    const int raw = rawCode(s, j);
    if (raw % 10 != 8) continue;
    const double rad = s.bdata(j, 4);
    if (std::fabs(rad) < 1e-10) {
      s.gx.io.write(s.inout.term, " Zero radius third order element at " + gx::fI(j, 3));
      continue;
    }
    double kk = 0.0;
    if (raw == 28) {
      kk = kin.qep * s.bdata(j, 3) / (rad * rad * rad);
    } else {
      kk = kin.t > 0.0 ? -2.0 * kin.q * s.bdata(j, 3) / (rad * rad * rad * rad * kin.t) : 0.0;
    }
    if (noct < 2) gamma[noct] = kk;
    ++noct;
    if (kk == 0.0) continue;
    double ax = 0.0, bx = 0.0, ay = 0.0, by = 0.0;
    supra(k, ux - len / 2.0, uy - len / 2.0, kk, s.bdata(j, 2), ax, bx, ay, by);
    t(1, 1) += ax;
    t(1, 2) += bx;
    t(2, 1) += ay;
    t(2, 2) += by;
    positionTerms(t, 0, ax, bx, ux, uy);
    positionTerms(t, 1, ay, by, uy, ux);
  }
}

}  // namespace

void qspher(Tavo& s, int i, Third& t) {
  zero(t);
  const int level = diagLevel(s);
  const double k = s.bdata(i, 8);
  std::array<double, 2> gamma{0.0, 0.0};
  int noct = 0;
  if (std::fabs(k) > 1e-6) {
    int last = 0;
    double ux = 0.0, uy = 0.0;
    lastFocusing(s, i, last, ux, uy);
    const double len = s.bdata(i, 2);
    const double eps = electricShare(s, i);
    const double a = (3.0 * eps * eps - 2.0 * eps + 2.0) / 6.0;
    const double b = -(eps * eps - 2.0 * eps - 2.0) / 2.0;

    double fx = s.bdata(i, 11), fy = s.bdata(i, 12);
    if (level == -8) {
      fx = std::fabs(1.0 / (k * k * len));
      if (s.bdata(i, 3) < 0.0) fx = -fx;
      fy = -fx;
    }

    if (level == -9) {
      const double kl = k * len;
      t(1, 1) = t(2, 1) = a / (k * kl * kl * kl);
      t(1, 2) = t(2, 2) = b / (k * kl * kl * kl);
      positionTerms(t, 0, t(1, 1), t(1, 2), ux, uy);
      positionTerms(t, 1, t(2, 1), t(2, 2), uy, ux);
    } else {
      thinQuadTerms(t, a, b, fx, fy, len, ux, uy);
    }
    superposedOctupoles(s, i, k, len, ux, uy, t, gamma, noct);
  }

  if (level == -4) {
    auto& io = s.gx.io;
    const int out = s.inout.term;
    io.write(out, " %QSPHER- Third order aberration coeffs");
    io.write(out, " T(1,1) = " + g135(t(1, 1)) + "  T(1,2) = " + g135(t(1, 2)) +
                      "  Beta = " + g135(k));
    std::string line = " T(2,1) = " + g135(t(2, 1)) + "  T(2,2) = " + g135(t(2, 2)) +
                       "  Gamma = " + g135(gamma[0]);
    if (noct >= 2) line += "  Gamma = " + g135(gamma[1]);
    io.write(out, line);
  }
}

void supra(double k, double ux, double uy, double K, double L,
           double& ax, double& bx, double& ay, double& by) {
  ax = bx = ay = by = 0.0;
  if (k == 0.0 || L == 0.0 || K == 0.0) return;
  const double a = k >= 0.0 ? ux : uy;   // focusing plane
  const double b = k >= 0.0 ? uy : ux;   // defocusing plane
  const double p = (k * a) * (k * a);
  const double q = (k * b) * (k * b);
  const double om = 2.0 * k * L;
  const double c = K * L / (8.0 * k * k * k * k);
  const double al = a / L, bl = b / L;
  const double so = std::sin(om), co = std::cos(om);
  const double sh = std::sinh(om), ch = std::cosh(om);

  const double af = -c * (3.0 * (p + 1.0) * (p + 1.0) + 4.0 * al * (p + 1.0) * (1.0 - co) -
                          4.0 * (1.0 - p * p) * so / om - (1.0 - std::cos(2.0 * om)) * al * (1.0 - p) +
                          std::sin(2.0 * om) * (p * p + 1.0 - 6.0 * p) / (2.0 * om));
  const double ad = -c * (3.0 * (1.0 - q) * (1.0 - q) + 4.0 * bl * (1.0 - q) * (1.0 - ch) -
                          4.0 * (1.0 - q * q) * sh / om - (1.0 - std::cosh(2.0 * om)) * bl * (q + 1.0) +
                          std::sinh(2.0 * om) * (q * q + 6.0 * q + 1.0) / (2.0 * om));
  const double kab = 4.0 * k * k * a * b;
  const double bm =
      3.0 * c *
      (-((1.0 - p) * (q + 1.0) + kab) * sh * co / om - 2.0 * (p + 1.0) * (1.0 - q) -
       (1.0 - 3.0 * q) * al - (3.0 * p + 1.0) * bl +
       2.0 * (1.0 - q) * (so * (1.0 - p) / om + al * co) +
       2.0 * (p + 1.0) * (sh * (q + 1.0) / om + bl * ch) +
       (al * (q + 1.0) - (1.0 - p) * bl) * so * sh - (al * (q + 1.0) + bl * (1.0 - p)) * co * ch -
       ((1.0 - p) * (q + 1.0) - kab) * so * ch / om);
  if (k >= 0.0) {
    ax = af;
    ay = ad;
  } else {
    ax = ad;
    ay = af;
  }
  bx = by = bm;
}

void addReferredToObject(Tavo& s, int i, const Third& t, Third& sv) {
  int kp = 0;
  double dx = 0.0, dy = 0.0;
  lastFocusing(s, i, kp, dx, dy);
  if (kp <= 2) {
    sv = t;   // the element sees the system object directly
    return;
  }
  double mx = 1.0, my = 1.0, fx = 1e10, fy = 1e10;
  mag(s, kp, mx, my, false);
  focal(s, kp, fx, fy, false);
  if (std::fabs(mx * my) == 0.0) {
    s.gx.io.write(s.inout.term, " ?TADD - ZERO MAGNIFICATION AT IZ = " + gx::fI(i, 3));
    s.gx.io.write(s.inout.term, " TMX = " + g135(mx) + "  TMY = " + g135(my));
  }
  const bool inter = std::fabs(fx) + std::fabs(fy) >= 1e-10 && std::fabs(fx) + std::fabs(fy) <= 1e10;
  Third nv = sv;
  for (int plane = 0; plane < 2; ++plane) {
    const double m = plane == 0 ? mx : my;
    const double n = plane == 0 ? my : mx;
    const double f = plane == 0 ? fx : fy;
    const double g = plane == 0 ? fy : fx;
    auto e = [&](int j) { return t(plane + 1, j); };
    auto o = [&](int j) { return sv(plane + 1, j); };
    auto nn = [&](int j) -> double& { return nv(plane + 1, j); };
    const double m2 = m * m, n2 = n * n;
    nn(1) = o(1) + e(1) / (m2 * m2);
    nn(2) = o(2) + e(2) / (m2 * n2);
    nn(3) = o(3) + e(3) / m2;
    nn(4) = o(4) + e(4) / n2;
    nn(5) = o(5) + e(5) / m2;
    nn(6) = o(6) + e(6);
    nn(7) = o(7) + n2 * e(7) / m2;
    nn(8) = o(8) + e(8);
    nn(9) = o(9) + m2 * e(9);
    nn(10) = o(10) + n2 * e(10);
    if (inter) {
      // The rays at the element are not those of a pure image.
      nn(3) -= 3.0 * e(1) / (m2 * m * f);
      nn(4) -= e(2) / (m * f * n2);
      nn(5) -= 2.0 * e(2) / (m2 * n * g);
      nn(6) += 3.0 * e(1) / (m2 * f * f) - 2.0 * e(3) / (m * f);
      nn(7) += e(2) / (m2 * g * g) - n * e(5) / (g * m2);
      nn(8) += 2.0 * e(2) / (m * n * f * g) - 2.0 * e(4) / (n * g) - e(5) / (m * f);
      nn(9) += e(3) / (f * f) - e(1) / (m * f * f * f) - m * e(6) / f;
      nn(10) += n * e(5) / (m * f * g) - e(2) / (m * f * g * g) + e(4) / (g * g) -
                n2 * e(7) / (m * f) - n * e(8) / g;
    }
  }
  sv = nv;
}

void printThird(Tavo& s, int mode, const Third& t) {
  static constexpr const char* kTitle[4] = {
      "Third order lens coefficients", "Third order system coefficients",
      "Mag. included third order system coeffs", "Mag. included third order lens coeffs"};
  static constexpr char kLetter[4] = {'T', 'S', 'R', 'W'};
  if (mode < 1 || mode > 4) return;
  const char l = kLetter[mode - 1];
  auto& io = s.gx.io;
  const int out = s.inout.term;
  io.write(out, " ");
  io.write(out, std::string(" ") + kTitle[mode - 1]);
  for (int plane = 1; plane <= 2; ++plane) {
    io.write(out, plane == 1 ? " X-Plane" : " Y-Plane");
    auto item = [&](int j) {
      const double v = t(plane, j) + 0.0;
      if (j < 10) return std::string(1, l) + "(" + gx::fI(plane, 1) + "," + gx::fI(j, 1) + ") = " + gx::fG(v, 13, 5);
      return std::string(1, l) + "(" + gx::fI(plane, 1) + "," + gx::fI(j, 2) + ")= " + gx::fG(v, 13, 5);
    };
    std::string a = " ", b = " ";
    for (int j = 1; j <= 5; ++j) a += item(j);
    for (int j = 6; j <= 10; ++j) b += item(j);
    io.write(out, a);
    io.write(out, b);
  }
}

}  // namespace tavo
