// The aberration polynomial of the coefficient store and its accessors.
#include <cmath>

#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"

namespace kestrim {

void coftran(const Kestrim& k, double x, double th, double y, double ph, double de,
             double& xo, double& tho, double& yo, double& pho) {
  xo = x;
  tho = th;
  yo = y;
  pho = ph;
  if (k.coffile != 1) return;
  const cofbmat& b = k.bmat;
  const double u[4] = {x, th, y, ph};
  // The ten second-order monomials, pairs (i, j) with i <= j.
  const double m[10] = {x * x,   x * th,  x * y,  x * ph, th * th,
                        th * y,  th * ph, y * y,  y * ph, ph * ph};
  double v[4];
  for (int r = 1; r <= 4; ++r) {
    double s = 0.0;
    for (int c = 1; c <= 4; ++c) s += b(r, c) * u[c - 1];
    for (int kk = 1; kk <= 10; ++kk) s += b(r, 8 + kk) * m[kk - 1];
    v[r - 1] = s;
  }
  tho = v[1];
  pho = v[3];

  const double th2 = th * th, ph2 = ph * ph;
  const double th3 = th2 * th, ph3 = ph2 * ph;
  const double th4 = th2 * th2, ph4 = ph2 * ph2;
  const double th5 = th4 * th, ph5 = ph4 * ph;
  auto tx = [&](int n) { return b.t3(1, n); };
  auto ty = [&](int n) { return b.t3(2, n); };
  auto fx = [&](int n) { return b.t5(1, n); };
  auto fy = [&](int n) { return b.t5(2, n); };

  xo = v[0] + tx(1) * th3 + tx(2) * th * ph2 + tx(3) * x * th2 + tx(4) * x * ph2 +
       tx(5) * th * y * ph + tx(6) * x * x * th + tx(7) * th * y * y + tx(8) * x * y * ph +
       tx(9) * x * x * x + tx(10) * x * y * y + tx(11) * th2 * ph + tx(12) * ph3 +
       fx(1) * th5 + fx(2) * th4 * ph + fx(3) * th3 * ph2 + fx(4) * th2 * ph3 +
       fx(5) * th * ph4 + fx(6) * ph5 + k.chrm[0] * th * de + k.chrm[2] * x * de;
  // The y plane is the x plane with x and y, theta and phi exchanged.
  yo = v[2] + ty(1) * ph3 + ty(2) * ph * th2 + ty(3) * y * ph2 + ty(4) * y * th2 +
       ty(5) * ph * x * th + ty(6) * y * y * ph + ty(7) * ph * x * x + ty(8) * y * x * th +
       ty(9) * y * y * y + ty(10) * y * x * x + ty(11) * ph2 * th + ty(12) * th3 +
       fy(1) * ph5 + fy(2) * ph4 * th + fy(3) * ph3 * th2 + fy(4) * ph2 * th3 +
       fy(5) * ph * th4 + fy(6) * th5 + k.chrm[1] * ph * de + k.chrm[3] * y * de;
}

void cofsole(const Kestrim& k, double x, double th, double y, double ph, double de,
             double& xo, double& tho, double& yo, double& pho) {
  xo = x;
  tho = th;
  yo = y;
  pho = ph;
  if (k.coffile != 1) return;
  const cofbmat& b = k.bmat;
  const double alpha = std::sqrt(th * th + ph * ph);
  const double u[4] = {x, th, y, ph};
  double v[4];
  for (int r = 1; r <= 4; ++r) {
    double s = 0.0;
    for (int c = 1; c <= 4; ++c) s += b(r, c) * u[c - 1];
    v[r - 1] = s;
  }
  // The spherical aberration acts radially, along the ray's own direction
  // (a ray moving in y alone is displaced in y alone).
  const double psi = std::atan2(v[3], v[1]);
  const double s = b.t3(1, 1) * alpha * alpha * alpha;
  const double chrom = k.chrm[0] * alpha * de + k.chrm[2] * alpha * de;
  const double sgx = v[0] >= 0.0 ? 1.0 : -1.0;
  const double sgy = v[2] >= 0.0 ? 1.0 : -1.0;
  xo = v[0] + std::fabs(std::cos(psi) * s) * sgx + chrom;
  yo = v[2] + std::fabs(std::sin(psi) * s) * sgy + chrom;
  tho = v[1];
  pho = v[3];
}

void coffocal(const Kestrim& k, double& fx, double& fy) {
  fx = 1e10;
  fy = 1e10;
  if (k.coffile != 1) return;
  const cofbmat& b = k.bmat;
  if (std::fabs(b(2, 1)) > 1e-10) fx = -b(1, 1) / b(2, 1);
  if (std::fabs(b(4, 3)) > 1e-10) fy = -b(3, 3) / b(4, 3);
}

gx::Mat<4, 4> cof1(const Kestrim& k) {
  gx::Mat<4, 4> a;
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 4; ++c) a(r, c) = k.bmat(r, c);
  return a;
}

void cof3(const Kestrim& k, double& d1, double& d2) {
  d1 = k.dis.objap;
  d2 = k.dis.shadow;
}

std::string cofcap(const Kestrim& k) { return gx::pad(k.coftitle, 100); }

int cofcheck(const Kestrim& k, double x, double th, double y, double ph) {
  if (k.coffile != 1) return 1;
  const double d = k.dis.objap;
  const double xa = x + d * th;
  const double ya = y + d * ph;
  const double hx = k.obap.v[2], hy = k.obap.v[3];
  const double cx = k.obap.v[6], cy = k.obap.v[7];
  if (k.cofshape == 'S') {
    if (xa < cx - hx || xa > cx + hx) return 1;
    if (ya < cy - hy || ya > cy + hy) return 1;
    return 0;
  }
  // An elliptical opening; a zero half-width leaves that axis open.
  double s = 0.0;
  if (hx != 0.0) s += ((xa - cx) / hx) * ((xa - cx) / hx);
  if (hy != 0.0) s += ((ya - cy) / hy) * ((ya - cy) / hy);
  return s > 1.0 ? 1 : 0;
}

}  // namespace kestrim
