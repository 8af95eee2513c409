// Stigmation: the astigmatism measure, the objective of the astigmatism fit
// and the STIG command that drives the minimiser with it.
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

// Astigmatism of the evaluated system in both planes: at the thin-lens
// level the distances of the last lens's x and y images from the system
// end, otherwise the matrix entries x/theta and y/phi.
void measure(Tavo& s, const Mat4& a, double& ex, double& ey) {
  if (s.idiag == -6) {
    int k;
    double dx, dy;
    lastFocusing(s, s.syspa, k, dx, dy);
    const double zlen = s.syspb.totlen;
    ex = zlen - s.bdata(k, 6);
    ey = zlen - s.bdata(k, 7);
  } else {
    ex = a(1, 2);
    ey = a(3, 4);
  }
}

std::string g135(double v) { return gx::fG(v, 13, 5, 1); }

}  // namespace

void astigmatismSquared(Tavo& s, double& v) {
  Mat4 a;
  stigmat(s, 1, a);
  double ex, ey;
  measure(s, a, ex, ey);
  v = ex * ex + ey * ey;
}

void astigmatismObjective(Tavo& s) {
  reload(s);
  Mat4 a;
  stigmat(s, 1, a);
  double ex, ey;
  measure(s, a, ex, ey);
  const int plane = gx::gxnint(s.bdata(1, 6));
  if (plane == 2) ex = 0.0;
  if (plane == 1) ey = 0.0;
  double chisq = std::sqrt(ex * ex + ey * ey);
  if (s.idiag == -6) chisq *= 1.0e6;
  s.blk2.chisq = chisq;
  const int n = ++s.mon.ncall;
  if (n <= 10 || n % 10 == 0) {
    std::string line = " " + gx::fI(n, 3) + " " + g135(chisq) + "  ";
    const int nv = std::min(s.blk1.nv, 20);
    for (int i = 1; i <= nv; ++i) line += g135(s.blk1.x[i]) + " ";
    s.gx.io.write(s.inout.term, line);
  }
}

}  // namespace tavo
