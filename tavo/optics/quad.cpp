// Multipoles: the quadrupole (magnetic, electric, or both superimposed),
// the sextupole and the octupole.
#include <cmath>

#include "gxlib/fortran/fortio.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/talk.h"

namespace tavo {

namespace {

// Strength of a multipole row of order n (1 quadrupole, 2 sextupole):
// magnetic k_m^2 = (Q e/p) B/a^n, electric k_e^2 = Q V/(a^(n+1) T), both
// signed with the field. False (with a message) when the row cannot be
// evaluated: no energy or no bore.
bool multipoleK(Tavo& s, int row, int n, const char* who, double& km2, double& ke2) {
  km2 = ke2 = 0.0;
  double b3 = s.bdata(row, 3);
  if (b3 == 0.0) return true;
  double a = s.bdata(row, 4);
  if (a == 0.0) {
    say(s, std::string(who) + " Zero bore radius in element " + gx::fI(row, 2) +
               ", taken as a drift.");
    return false;
  }
  TypeCode tc = decodeType(s, s.bdata(row, 1));
  Kinematics kin = kinematics(s, row);
  if (tc.field < 0) {
    if (kin.t <= 0) {
      say(s, std::string(who) + " No particle energy at element " + gx::fI(row, 2) +
                 ", taken as a drift.");
      return false;
    }
    ke2 = kin.q * std::fabs(b3 / (std::pow(a, n + 1) * kin.t));
    ke2 = std::copysign(ke2, b3);
  } else {
    if (kin.p <= 0) {
      say(s, std::string(who) + " No particle energy at element " + gx::fI(row, 2) +
                 ", taken as a drift.");
      return false;
    }
    km2 = std::copysign(kin.qep * std::fabs(b3) / std::pow(std::fabs(a), n), b3);
  }
  return true;
}

// The combined strength of row i and a superimposed partner of the same
// family (kind 4 or 6) on row i+1. Returns false when the row is to be a drift.
bool combined(Tavo& s, int i, int n, int kind, const char* who, double& k, double& phi2) {
  double km2, ke2;
  if (!multipoleK(s, i, n, who, km2, ke2)) return false;
  double len = s.bdata(i, 2);
  k = km2 - ke2;
  phi2 = len * len * k;
  int j = i + 1;
  if (j <= kRows && rawCode(s, j) > 20) {
    TypeCode pc = decodeType(s, s.bdata(j, 1));
    if (pc.superposed) {
      for (int c = 5; c <= 12; ++c) s.bdata(j, c) = 0.0;
      if (pc.kind == kind) {
        double km2p, ke2p;
        if (multipoleK(s, j, n, who, km2p, ke2p)) {
          double lp = s.bdata(j, 2);
          k += km2p - ke2p;
          phi2 += lp * lp * (km2p - ke2p);
          if (k != 0.0) s.bdata(j, 8) = (ke2 + ke2p) / k;
        }
      }
    }
  }
  return true;
}

// Thin-lens image distance v and magnification of an object at distance d.
void thinImage(double f, double d, double& v, double& mm) {
  if (d == 0.0) {
    v = 0.0;       // object in the lens: image there, unmagnified
    mm = 1.0;
    return;
  }
  double den = 1.0 / f - 1.0 / d;
  v = den == 0.0 ? 1e10 : 1.0 / den;   // object in the focal plane: image at infinity
  mm = -v / d;
}

}  // namespace

void quad(Tavo& s, int i, Mat4& m) {
  TypeCode tc = decodeType(s, s.bdata(i, 1));
  if (tc.kind != 4) {
    wrongKind(s, "?QUAD- Called for non-quad ELE=", i, 5, 1);
    return;
  }
  double k = 0, phi2 = 0;
  if (!combined(s, i, 1, 4, "?QUAD-", k, phi2) || phi2 == 0.0) {
    driftMatrix(s, i, m);
    return;
  }
  double len = s.bdata(i, 2);
  double aphi = std::sqrt(std::fabs(phi2));
  double c = std::cos(aphi), sn = std::sin(aphi);
  double ch = std::cosh(aphi), sh = std::sinh(aphi);
  m = Mat4{};
  m(1, 1) = m(2, 2) = c;
  m(1, 2) = sn * len / aphi;
  m(2, 1) = -sn * aphi / len;
  m(3, 3) = m(4, 4) = ch;
  m(3, 4) = sh * len / aphi;
  m(4, 3) = sh * aphi / len;
  if (phi2 < 0) swap(m);
  double rot = s.rotat[i];
  if (std::fabs(rot) > 1e-10) rotate(rot, m);
  if (m(4, 3) == 0.0 || m(2, 1) == 0.0) {
    say(s, "?QUAD- Error in element " + gx::fI(i, 2));
    say(s, "A(2,1) = " + gx::fF(m(2, 1), 10, 5));
    say(s, "A(4,3) = " + gx::fF(m(4, 3), 10, 5));
  }
  LensParams lp = light(s, i, m);
  if (diagLevel(s) == -6) {
    // Thin-lens values at the element centre.
    int kl;
    double dx, dy;
    lastFocusing(s, i, kl, dx, dy);
    lp.fx = std::copysign(len / std::fabs(phi2), phi2);
    lp.fy = -lp.fx;
    thinImage(lp.fx, dx, lp.vx, lp.mx);
    thinImage(lp.fy, dy, lp.vy, lp.my);
  }
  s.bdata(i, 8) = std::copysign(std::sqrt(std::fabs(k)), k);
  storeLens(s, i, lp);
}

void sext(Tavo& s, int i, Mat4& m) {
  TypeCode tc = decodeType(s, s.bdata(i, 1));
  if (tc.kind != 6) {
    wrongKind(s, "?SEXT- Called for non-sextupole ELE=", i, 5, 1);
    return;
  }
  double k = 0, phi2 = 0;
  if (!combined(s, i, 2, 6, "?SEXT-", k, phi2) || phi2 == 0.0) {
    driftMatrix(s, i, m);
    return;
  }
  double len = s.bdata(i, 2);
  m = Mat4::identity();
  m(1, 2) = m(3, 4) = len;
  double rot = s.rotat[i];
  if (std::fabs(rot) > 1e-10) rotate(rot, m);
  LensParams lp = light(s, i, m);
  s.bdata(i, 8) = std::copysign(std::sqrt(std::fabs(k)), k);
  storeLens(s, i, lp);
}

void octu(Tavo& s, int i, Mat4& m) {
  int raw = rawCode(s, i);
  if (raw != 8 && raw != 18) {
    wrongKind(s, "?OCTU- Called for non-octupole IZ = ", i, 0, 0);
    return;
  }
  double len = s.bdata(i, 2);
  m = Mat4::identity();
  m(1, 2) = m(3, 4) = len;
  double b3 = s.bdata(i, 3), a = s.bdata(i, 4);
  Kinematics kin = kinematics(s, i);
  double k = 0.0;
  if (b3 != 0.0) {
    if (a == 0.0) {
      say(s, "?OCTU- Zero bore radius in element " + gx::fI(i, 2) + ", no strength.");
    } else if (raw == 8) {
      if (kin.p > 0) k = kin.qep * b3 / (a * a * a);
      else say(s, "?OCTU- No particle energy at element " + gx::fI(i, 2) + ", no strength.");
    } else {
      if (kin.t > 0) k = -2.0 * kin.q * b3 / (a * a * a * a * kin.t);
      else say(s, "?OCTU- No particle energy at element " + gx::fI(i, 2) + ", no strength.");
    }
  }
  s.bdata(i, 8) = k;
  int kl;
  double dx, dy;
  lastFocusing(s, i, kl, dx, dy);
  s.bdata(i, 6) = s.bdata(i, 5) - dx;
  s.bdata(i, 7) = s.bdata(i, 5) - dy;
  s.bdata(i, 9) = s.bdata(i, 10) = 1.0;
  s.bdata(i, 11) = s.bdata(i, 12) = 1e30;
}

}  // namespace tavo
