// Shared first-order routines: lens parameters of one element, the last
// focusing element, particle kinematics, plane rotation and exchange, and
// matrix products.
#include <algorithm>
#include <cmath>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"

namespace tavo {

int diagLevel(const Tavo& s) {
  return gx::gxnint(s.bdata(1, 5));
}

double kineticEnergyMeV(const Tavo& s, int i) {
  // Energy at the entrance of row i: the stored energy plus the gain
  // (voltage times charge) of every accelerating section before it.
  double q = std::fabs(s.bdata(1, 2));
  double t = s.bdata(1, 12);
  int last = std::min(i - 1, kRows);
  for (int k = 3; k <= last; ++k)
    if (rawCode(s, k) == 10) t += s.bdata(k, 3) * q;
  return t;
}

Kinematics kinematics(const Tavo& s, int i) {
  const tavo_const& k = s.cnst;
  Kinematics r;
  r.q = std::fabs(s.bdata(1, 2));
  r.m = s.bdata(1, 3) * k.u;
  r.t = kineticEnergyMeV(s, i) * 1e6;
  if (r.t > 0) {
    double x = (r.t / k.c) * (r.t / k.c) + 2.0 * r.m * r.t / k.e;
    if (x > 0) r.p = k.e * std::sqrt(x);
  }
  if (r.p > 0) r.qep = r.q * k.e / r.p;
  return r;
}

Mat4 rotmat(double alpha) {
  Mat4 r = Mat4::identity();
  if (alpha != 0.0) {
    double c = std::cos(alpha), sn = std::sin(alpha);
    r(1, 1) = r(2, 2) = r(3, 3) = r(4, 4) = c;
    r(1, 3) = r(2, 4) = -sn;
    r(3, 1) = r(4, 2) = sn;
  }
  return r;
}

void gxmatmul(const Mat4& a, Mat4& b) {
  Mat4 w;
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 4; ++c) {
      double sum = 0.0;
      for (int k = 1; k <= 4; ++k) sum += a(r, k) * b(k, c);
      w(r, c) = sum;
    }
  b = w;
}

void gxmatmul(const Mat14& a, Mat14& b) {
  Mat14 w;
  for (int r = 1; r <= 14; ++r)
    for (int c = 1; c <= 14; ++c) {
      double sum = 0.0;
      for (int k = 1; k <= 14; ++k) sum += a(r, k) * b(k, c);
      w(r, c) = sum;
    }
  b = w;
}

void rotate(double alpha, Mat4& m) {
  Mat4 t = m;
  Mat4 back = rotmat(-alpha);
  gxmatmul(t, back);             // M R(-a)
  Mat4 fwd = rotmat(alpha);
  gxmatmul(fwd, back);           // R(a) M R(-a)
  m = back;
}

void swap(Mat4& m) {
  auto mod4 = [](int k) { int r = k % 4; return r == 0 ? 4 : r; };
  Mat4 t;
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 4; ++c) t(r, c) = m(mod4(r + 2), mod4(c + 2));
  m = t;
}

void lastFocusing(Tavo& s, int i, int& k, double& dx, double& dy) {
  // Drifts and collimators form no image of their own: they are passed over.
  bool found = false;
  for (k = std::min(i - 1, kRows); k >= 3; --k) {
    int raw = rawCode(s, k);
    if (raw <= 19 && raw != 3 && raw != 5 && std::fabs(s.bdata(k, 3)) >= 1e-5) {
      found = true;
      break;
    }
  }
  if (found) {
    dx = s.bdata(i, 5) - s.bdata(k, 6);
    dy = s.bdata(i, 5) - s.bdata(k, 7);
  } else {
    k = 2;
    dx = dy = s.bdata(i, 5);
  }
  if (diagLevel(s) == -3)
    s.gx.io.write(s.inout.term,
                  " %ELELAS- ITHIS = " + gx::fI(i, 2) + " ILAST = " + gx::fI(k, 2));
}

namespace {
// One plane of a lens: focal length f, principal-plane offsets p (entrance)
// and q (exit), image distance from the element centre v and magnification.
void lensPlane(double a11, double a21, double a22, double d, double len,
               double& f, double& v, double& p, double& q, double& mm) {
  if (a21 == 0.0) {
    f = 1e30;
    v = -d;
    p = q = 0.0;
    mm = 1.0;
    return;
  }
  f = -1.0 / a21;
  p = (a22 - 1.0) / a21;
  q = (a11 - 1.0) / a21;
  double u = d - len / 2.0 + p;   // object distance from the entrance principal plane
  double img;
  if (u == 0.0) {
    img = 0.0;                     // object on the principal plane: image there too
    mm = 1.0;
  } else {
    double den = 1.0 / f - 1.0 / u;
    if (den == 0.0 || !std::isfinite(1.0 / den)) {
      img = 1e10;                  // object in the focal plane: image at infinity
    } else {
      img = 1.0 / den;
    }
    mm = -img / u;
  }
  v = len / 2.0 + img - q;
}
}  // namespace

LensParams light(Tavo& s, int i, const Mat4& m) {
  double len = rawCode(s, i) == 9 ? 0.0 : s.bdata(i, 2);
  int k;
  double dx, dy;
  lastFocusing(s, i, k, dx, dy);
  LensParams r;
  lensPlane(m(1, 1), m(2, 1), m(2, 2), dx, len, r.fx, r.vx, r.px, r.qx, r.mx);
  lensPlane(m(3, 3), m(4, 3), m(4, 4), dy, len, r.fy, r.vy, r.py, r.qy, r.my);
  return r;
}

}  // namespace tavo

namespace tavo {
void storeLens(Tavo& s, int i, const LensParams& lp) {
  s.bdata(i, 6) = s.bdata(i, 5) + lp.vx;
  s.bdata(i, 7) = s.bdata(i, 5) + lp.vy;
  s.bdata(i, 9) = lp.mx;
  s.bdata(i, 10) = lp.my;
  s.bdata(i, 11) = lp.fx;
  s.bdata(i, 12) = lp.fy;
}
void wrongKind(Tavo& s, const std::string& text, int i, int w, int d) {
  std::string msg = " " + text + gx::fI(i, 2);
  if (w > 0) msg += "ITYPE=" + gx::fF(s.bdata(i, 1), w, d);
  s.gx.io.write(s.inout.term, msg);
}

}  // namespace tavo
