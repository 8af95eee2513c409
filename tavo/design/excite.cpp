// Excitation (power-supply) aberrations: how far the image moves per unit
// aperture angle when one lens field, or one coupled group, is raised by a
// small fraction; for octupoles the third-order change. And the EXCITE
// listing.
#include <cmath>
#include <string>

#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/design/design.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"

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
    const TypeCode tc = gxpack(s, s.bdata(k, 1));
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

void cmdExcite(Tavo& s, Command& c) {
  if (s.syspa < 3) {
    say(s, "No lens system loaded: type DATA first.");
    return;
  }
  double dp = 0.0;
  if (!perturbation(s, c, dp)) return;
  const int unit = s.exciteUnit;
  const double factor = s.unitFactor[unit] != 0.0 ? s.unitFactor[unit] : 1.0;
  const std::string uname = unit == 1 ? " % " : std::string(kUnitNames[unit]);
  say(s, "Excitation Aberration Coefficients  (" + uname + ")");
  say(s, "Perturbation = " + gx::fF(dp, 9, 3) + "%");
  say(s, "First Order");
  double d = dp;
  excite(s, d);
  auto g = [](double v) { return gx::fG(v, 13, 5, 1); };
  auto scaleFor = [&](double field) {
    return (field != 0.0 && unit != 1) ? 100.0 / (factor * field) : 1.0;
  };
  int k = 0;
  for (int row = 3; row <= s.syspa && row <= kRows && k < 20; ++row) {
    const TypeCode tc = gxpack(s, s.bdata(row, 1));
    if (tc.field == 0 || tc.kind == 2 || tc.kind == 12 || tc.kind == 8) continue;
    ++k;
    const double cx = s.aber0(3 + 2 * k), cy = s.aber0(4 + 2 * k);
    if (std::fabs(cx) + std::fabs(cy) < 1e-4) break;
    const double sc = scaleFor(s.bdata(row, 3));
    say(s, "X/THE" + gx::fI(k, 2) + " = " + g(cx * sc) + "   Y/PHE" + gx::fI(k, 2) + " = " +
               g(cy * sc));
  }
  couple(s);
  if (s.blk1.nv > 1) {
    say(s, "Coupled excitation  First order");
    for (int j = 1; j <= 10 && j <= s.blk1.nv; ++j) {
      const double xj = s.blk1.x[j];
      if (std::fabs(xj) < 1e-5) break;
      const double sc = scaleFor(xj);
      say(s, "X/THG" + gx::fI(j, 2) + " = " + g(s.aber0(43 + 2 * j) * sc) + "   Y/PHG" +
                 gx::fI(j, 2) + " = " + g(s.aber0(44 + 2 * j) * sc));
    }
  }
  say(s, "Units: micron/milliradian/%power supply error");
  int noct = 0;
  for (int row = 3; row <= s.syspa && row <= kRows; ++row)
    if (gxpack(s, s.bdata(row, 1)).kind == 8) ++noct;
  if (noct > 0) {
    say(s, "Third Order");
    for (int j = 1; j <= 10 && j <= noct; ++j) {
      const double cx = s.aber0(63 + 2 * j), cy = s.aber0(64 + 2 * j);
      if (std::fabs(cx) < 1e-5 && std::fabs(cy) < 1e-5) break;
      say(s, "3RD X/TH3F" + gx::fI(j, 2) + " = " + g(cx / factor) + "   Y/PH3F" + gx::fI(j, 2) +
                 " = " + g(cy / factor));
    }
    say(s, "Units: micron/milliradian^3/%power supply error");
  }
}

}  // namespace tavo
