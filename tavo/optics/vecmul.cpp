// The beam vector through a matrix with the system's aberration terms, and
// the deflection of a dipole.
#include <cmath>

#include "tavo/model/model.h"
#include "tavo/optics/optics.h"

namespace tavo {

void vecmul(Tavo& s, int n, double v[4], const Mat4& m) {
  const double x = v[0], t = v[1], y = v[2], p = v[3];
  double w[4];
  for (int r = 1; r <= 4; ++r)
    w[r - 1] = m(r, 1) * x + m(r, 2) * t + m(r, 3) * y + m(r, 4) * p;
  int an = std::abs(n);
  if (an >= 2 && n >= -2) {
    const double mono[10] = {x * x, x * t, x * y, x * p, t * t, t * y, t * p, y * y, y * p, p * p};
    for (int j = 0; j < 10; ++j) {
      w[0] += s.aber2(1, j + 5) * mono[j];
      w[2] += s.aber2(3, j + 5) * mono[j];
    }
    double d = std::fabs(s.bdata(2, 6));
    w[0] += s.aber0(1) * t * d;
    w[2] += s.aber0(2) * p * d;
    if (n != -2) {
      w[0] += s.aber0(3) * x * d;
      w[2] += s.aber0(4) * y * d;
    }
  }
  if (an >= 3 && n != -2) {
    double mx, my;
    mag(s, s.syspa, mx, my, false);
    const Third& c = s.aber3.total;
    w[0] += mx * (c(1, 1) * t * t * t + c(1, 2) * t * p * p);
    w[2] += my * (c(2, 1) * p * p * p + c(2, 2) * t * t * p);
    if (n != -3 && n != -4) {
      w[0] += mx * (c(1, 3) * t * t * x + c(1, 4) * x * p * p + c(1, 5) * t * p * y +
                    c(1, 6) * t * x * x + c(1, 7) * t * y * y + c(1, 8) * x * y * p +
                    c(1, 9) * x * x * x + c(1, 10) * x * y * y);
      w[2] += my * (c(2, 3) * p * p * y + c(2, 4) * y * t * t + c(2, 5) * p * t * x +
                    c(2, 6) * p * y * y + c(2, 7) * p * x * x + c(2, 8) * y * x * t +
                    c(2, 9) * y * y * y + c(2, 10) * y * x * x);
    }
  }
  for (int k = 0; k < 4; ++k) v[k] = w[k];
}

void dipadd(Tavo& s, int i, double v[4]) {
  int raw = rawCode(s, i);
  if (raw != 2 && raw != 12) return;
  Kinematics kin = kinematics(s, i);
  double len = s.bdata(i, 2);
  for (int plane = 0; plane < 2; ++plane) {
    double f = s.bdata(i, 3 + plane);
    if (std::fabs(f) <= 1e-20) continue;
    // Inverse bending radius: magnetic Q e B/p, electric Q E/(2 T).
    double inv = raw == 2 ? kin.qep * f : (kin.t > 0 ? kin.q * f / (2.0 * kin.t) : 0.0);
    v[2 * plane] -= len * len * inv / 2.0;
    v[2 * plane + 1] -= len * inv;
  }
}

}  // namespace tavo
