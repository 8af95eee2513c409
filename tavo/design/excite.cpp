// Excitation (power-supply) aberrations: how far the image moves per unit
// aperture angle when one lens field, or one coupled group, is raised by a
// small fraction; for octupoles the third-order change. And the EXCITE
// listing.
#include <cmath>
#include <string>

#include "gxlib/fortran/fortio.h"
#include "tavo/design/design.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/talk.h"
#include "tavo/system/system.h"

namespace tavo {

namespace {

// What an analysis that perturbs the system must give back.
struct Snapshot {
  tavo_bdata bdata;
  Mat14 aber2;
  tavo_aber3 aber3;
  std::array<double, 4> bspec;
  int syspa;
  tavo_syspb syspb;
  tavo_nlens nlens;
  int nv;
  std::array<double, 21> x;
  std::array<int, 41> coupl;
  explicit Snapshot(const Tavo& s)
      : bdata(s.bdata), aber2(s.aber2), aber3(s.aber3), bspec(s.bspec), syspa(s.syspa),
        syspb(s.syspb), nlens(s.nlens), nv(s.blk1.nv), x(s.blk1.x), coupl(s.coupl) {}
  void restore(Tavo& s) const {
    s.bdata = bdata;
    s.aber2 = aber2;
    s.aber3 = aber3;
    s.bspec = bspec;
    s.syspa = syspa;
    s.syspb = syspb;
    s.nlens = nlens;
    s.blk1.nv = nv;
    s.blk1.x = x;
    s.coupl = coupl;
  }
};

// The ray (x, theta, y, phi) through the system at the given order.
void traceRay(Tavo& s, int order, const Mat4& a, double x, double t, double y, double p,
              double out[4]) {
  out[0] = x;
  out[1] = t;
  out[2] = y;
  out[3] = p;
  vecmul(s, order, out, a);
}

}  // namespace

void excite(Tavo& s, double& dp) {
  // The caller's model (its variables too: a fit calls this from inside its
  // objective) is given back unchanged.
  const Snapshot keep(s);
  couple(s);
  if (dp == 0.0) dp = 0.5;
  const double d = dp / 100.0;
  dp = d;
  const double theta = 1.0 / (100.0 * d);
  const int last = std::min(s.syspa, kRows);
  int nfield = 0, noct = 0;
  Mat4 a;
  double r[4];
  for (int k = 1; k <= last; ++k) {
    const TypeCode tc = decodeType(s, s.bdata(k, 1));
    if (tc.field == 0 || tc.kind == 2 || tc.kind == 12) continue;
    const bool oct = tc.kind == 8;
    const int order = oct ? 3 : 1;
    const double b3 = s.bdata(k, 3);
    s.bdata(k, 3) = (1.0 + d) * b3;
    stigmat(s, order, a);
    if (oct) {
      ++noct;
      const double den = theta * theta * theta * 1.0e5 * d;
      traceRay(s, order, a, 0.0, theta, 0.0, 0.0, r);
      const double cx = r[0] / den;
      traceRay(s, order, a, 0.0, 0.0, 0.0, theta, r);
      const double cy = r[2] / den;
      if (noct <= 20) {
        s.aber0(63 + 2 * noct) = cx;
        s.aber0(64 + 2 * noct) = cy;
      }
    } else {
      ++nfield;
      traceRay(s, order, a, 0.0, theta, 0.0, theta, r);
      if (nfield <= 20) {
        s.aber0(3 + 2 * nfield) = r[0] * 1000.0;
        s.aber0(4 + 2 * nfield) = r[2] * 1000.0;
      }
    }
    s.bdata(k, 3) = b3;
  }
  couple(s);
  const int nv = std::min(s.blk1.nv, 10);
  for (int j = 1; j <= nv; ++j) {
    const double xj = s.blk1.x[j];
    s.blk1.x[j] = (1.0 + d) * xj;
    reload(s);
    stigmat(s, 1, a);
    traceRay(s, 1, a, 0.0, theta, 0.0, theta, r);
    s.blk1.x[j] = xj;
    s.aber0(43 + 2 * j) = r[0] * 1000.0;
    s.aber0(44 + 2 * j) = r[2] * 1000.0;
  }
  reload(s);
  keep.restore(s);
}

}  // namespace tavo
