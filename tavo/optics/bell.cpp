// Bell-shaped magnetic round lens: its paraxial rays are known in closed
// form (Glaser), so its matrix over the element needs no integration.
#include <cmath>

#include "tavo/model/model.h"
#include "tavo/optics/optics.h"

namespace tavo {

void glaserMatrix(double kk, double a, double zc, double z1, double z2, double m[4],
                  double& rot) {
  const double w = std::sqrt(1.0 + kk * kk);
  // r = v(f)/sin f, z - zc = a cot f, v'' + w^2 v = 0.
  auto sol = [&](double z, double out[4]) {
    const double f = std::atan2(1.0, (z - zc) / a);
    const double s = std::sin(f), c = std::cos(f);
    const double v1 = std::sin(w * f), d1 = w * std::cos(w * f);
    const double v2 = std::cos(w * f), d2 = -w * std::sin(w * f);
    out[0] = v1 / s;
    out[1] = v2 / s;
    out[2] = -(d1 * s - v1 * c) / a;
    out[3] = -(d2 * s - v2 * c) / a;
  };
  double p[4], q[4];
  sol(z1, p);
  sol(z2, q);
  const double det = p[0] * p[3] - p[1] * p[2];
  // W2 W1^-1, W = [[g1, g2], [g1', g2']].
  const double i00 = p[3] / det, i01 = -p[1] / det, i10 = -p[2] / det, i11 = p[0] / det;
  m[0] = q[0] * i00 + q[1] * i10;
  m[1] = q[0] * i01 + q[1] * i11;
  m[2] = q[2] * i00 + q[3] * i10;
  m[3] = q[2] * i01 + q[3] * i11;
  rot = -kk * (std::atan((z2 - zc) / a) - std::atan((z1 - zc) / a));
}

void bell(Tavo& s, int i, Mat4& m) {
  if (rawCode(s, i) != 19) {
    wrongKind(s, "?BELL- Called for non-bell lens ELE = ", i, 6, 2);
    return;
  }
  const double b0 = s.bdata(i, 3), a = s.bdata(i, 4), len = s.bdata(i, 2);
  Kinematics kin = kinematics(s, i);
  if (axialFileRow(s, i)) {
    axialFileDrift(s, i, m);
    return;
  }
  if (b0 == 0.0 || len == 0.0 || !(a > 0.0) || kin.p <= 0.0) {
    driftMatrix(s, i, m);
    return;
  }
  double f[4], rot = 0.0;
  glaserMatrix(0.5 * kin.qep * b0 * a, a, 0.0, -0.5 * len, 0.5 * len, f, rot);
  // The rotating frame turned back by the Larmor angle: x + iy = (X + iY) e^(i rot).
  const double c = std::cos(rot), sn = std::sin(rot);
  m = Mat4{};
  for (int r = 0; r < 2; ++r)
    for (int k = 0; k < 2; ++k) {
      const double v = f[2 * r + k];
      m(1 + r, 1 + k) = c * v;
      m(1 + r, 3 + k) = -sn * v;
      m(3 + r, 1 + k) = sn * v;
      m(3 + r, 3 + k) = c * v;
    }
  s.bdata(i, 8) = 0.5 * kin.qep * b0;
  if (m(2, 1) == 0.0 || m(4, 3) == 0.0) return;
  storeLens(s, i, light(s, i, m));
}

}  // namespace tavo
