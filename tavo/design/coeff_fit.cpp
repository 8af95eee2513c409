// The coefficient fit: the objective that sums the coefficients chosen by
// the coefficient mask in quadrature, and the objective over a grid of two
// variables.
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

std::string g135(double v) { return gx::fG(v, 13, 5, 1); }

int usedTargets(const Mask& m) {
  int n = 0;
  while (n < 8 && m(n + 1, 1) != 0) ++n;
  return n;
}

// The coefficient of one target kind at plane p and index n.
double coefficient(const Tavo& s, const Mat4& a, int kind, int p, int n) {
  if (p != 1 && p != 2) return 0.0;
  auto store = [&](int base) {
    const int i = base + p + 2 * (n - 1);
    return (i >= 1 && i <= 104) ? s.aber0(i) : 0.0;
  };
  switch (kind) {
    case 1:
      if (n >= 1 && n <= 4) return a(2 * p - 1, n);
      if (n >= 5 && n <= 8) return a(2 * p, n - 4);
      return 0.0;
    case 2: return store(0);
    case 3: return store(4);
    case 4: return store(44);
    case 5: return store(64);
    case 6: return store(84);
    case 7: return (n >= 1 && n <= 10) ? s.aber3.total(p, n) : 0.0;
    default: return 0.0;
  }
}

}  // namespace

void coefficientObjective(Tavo& s) {
  const Mask& cm = s.masks.coef;
  storeMasked(s, s.masks.var, s.blk1.nv);
  const int nt = usedTargets(cm);
  bool third = false, chrom = false, exc = false;
  for (int t = 1; t <= nt; ++t) {
    const int kind = cm(t, 1);
    if (kind == 5 || kind == 7) third = true;
    if (kind == 2) chrom = true;
    if (kind == 3 || kind == 4 || kind == 5) exc = true;
  }
  Mat4 a;
  stigmat(s, third ? -3 : 1, a);
  // The system's own values, before the perturbing analyses run.
  const Mat4 sys = a;
  const tavo_aber3 aber3 = s.aber3;
  if (chrom) {
    double dp = 0.005;
    chroma(s, dp);
  }
  if (exc) {
    double dp = 0.005;
    excite(s, dp);
  }
  s.aber3 = aber3;
  double sum = 0.0;
  for (int t = 1; t <= nt; ++t) {
    const int kind = cm(t, 1), p = cm(t, 2), n1 = cm(t, 3), n2 = cm(t, 4);
    const double c1 = coefficient(s, sys, kind, p, n1);
    sum += c1 * c1;
    if (n2 != 0) {
      const double c2 = coefficient(s, sys, kind, p, n2);
      sum += c2 * c2;
    }
  }
  s.blk2.chisq = std::sqrt(sum);
  const int n = ++s.mon.ncall;
  if (n % 5 == 2) {
    std::string line = " " + gx::fI(n, 5);
    int col = 0;
    auto put = [&](double v) {
      if (col == 5) {
        s.gx.io.write(s.inout.term, line);
        line = " " + gx::fX(5);
        col = 0;
      }
      line += g135(v);
      ++col;
    };
    for (int i = 1; i <= s.blk1.nv && i <= 20; ++i) put(s.blk1.x[i]);
    put(s.blk2.chisq);
    s.gx.io.write(s.inout.term, line);
  }
}

void coefficientGrid(Tavo& s, const double range[2][2], int n, int m, int unit) {
  const double centre[2] = {s.blk1.x[1], s.blk1.x[2]};
  auto& io = s.gx.io;
  io.write(unit, std::string(gx::trimRight(s.title)));
  io.write(unit, "X");
  io.write(unit, "Y");
  const double d1 = (range[0][1] - range[0][0]) / n;
  const double d2 = (range[1][1] - range[1][0]) / m;
  long long count = 0;
  for (int j = 1; j <= m; ++j) {
    for (int i = 1; i <= n; ++i) {
      s.blk1.x[1] = range[0][0] + (i - 1) * d1;
      s.blk1.x[2] = range[1][0] + (j - 1) * d2;
      const double v1 = s.blk1.x[1], v2 = s.blk1.x[2];
      coefficientObjective(s);
      io.write(unit, g135(v1) + " , " + g135(v2) + " , " + g135(s.blk2.chisq));
      if (++count % 100 == 0) say(s, gx::fI(count, 8) + " points generated.");
    }
  }
  // The grid gets its name when it is closed: a full disk, a size limit or
  // another session that took the name first shows there.
  const std::string name = io.nameOf(unit);
  if (io.close(unit))
    say(s, gx::fI(count, 8) + " points generated total.");
  else
    say(s, "?AGP- Unable to write " + name + io.reason() + "; not written.");
  s.blk1.x[1] = centre[0];
  s.blk1.x[2] = centre[1];
  storeMasked(s, s.masks.var, s.blk1.nv);
}

}  // namespace tavo
