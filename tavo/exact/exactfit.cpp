// EXACT/F: the soft fringe fields move the paraxial images; the coupled
// fields are refitted with the minimiser until the soft-edged system is
// stigmatic at the system end again, as STIG does for the hard-edged one.
#include <cmath>
#include <string>
#include <vector>

#include "gxlib/fortran/fortio.h"
#include "tavo/design/design.h"
#include "tavo/exact/exact.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/talk.h"
#include "tavo/system/system.h"

namespace tavo {

namespace {

std::string g135(double v) { return gx::fG(v + 0.0, 13, 5, 1); }

// First-order (x|theta), (y|phi) of the soft-edged system, and the size of
// the cross terms (x|phi), (y|theta) that a solenoid's or a round magnetic
// lens's rotation brings: an image needs all four at zero, or the fit could
// stop where the rotation turns (x|theta) away instead. False when the map
// cannot be made.
bool softAstigmatism(Tavo& s, double& ex, double& ey, double& cross, std::string& why) {
  const da::Space sp(4, 1);  // outlives the series that refer to it
  std::vector<da::Poly> map;
  if (!softSystemMap(s, sp, map, why)) return false;
  ex = map[0].coef({0, 1, 0, 0, 0});
  ey = map[2].coef({0, 0, 0, 1, 0});
  cross = std::hypot(map[0].coef({0, 0, 0, 1, 0}), map[2].coef({0, 1, 0, 0, 0}));
  return true;
}

}  // namespace

void exactFit(Tavo& s, double precision) {
  Mat4 a;
  stigmat(s, 1, a);
  couple(s);
  if (s.blk1.nv == 0) {
    say(s, "No variable first order elements.");
    return;
  }
  double ex = 0, ey = 0, cross = 0;
  std::string why;
  if (!softAstigmatism(s, ex, ey, cross, why)) {
    say(s, "?EXACT- " + why);
    return;
  }
  std::vector<double> before(s.blk1.x.begin(), s.blk1.x.end());
  say(s, "Soft edge, fringe length " + exactNum(s.fringe) + " x bore radius");
  say(s, "Initial combined astigmatism = " + g135(std::sqrt(ex * ex + ey * ey + cross * cross)));
  say(s, "(N)  Comb. Astg.  - FIELDS (" + gx::fI(s.blk1.nv, 2) + ")............");
  if (!(precision > 0.0)) precision = static_cast<double>(1e-10f);
  if (diagLevel(s) > 0) s.bdata(1, 5) = -1.0;
  s.idiag = diagLevel(s);
  bool failed = false;
  Objective objective = [&](Tavo& t) {
    reload(t);
    double fx = 0, fy = 0, fc = 0;
    std::string w;
    if (!softAstigmatism(t, fx, fy, fc, w)) {
      if (!failed) why = w;
      failed = true;
      fx = fy = 1e10;
    }
    t.blk2.chisq = std::sqrt(fx * fx + fy * fy + fc * fc);
    const int n = ++t.mon.ncall;
    if (n <= 10 || n % 10 == 0) {
      std::string line = " " + gx::fI(n, 3) + " " + g135(t.blk2.chisq) + "  ";
      for (int i = 1; i <= std::min(t.blk1.nv, 20); ++i) line += g135(t.blk1.x[i]) + " ";
      t.gx.io.write(t.inout.term, line);
    }
  };
  setup(s, precision);
  stepit(s, objective);
  reload(s);
  s.iflag = 1;
  if (failed || !softAstigmatism(s, ex, ey, cross, why)) {
    // Fields found with a map that could not be made are no result: the
    // system goes back to the fields it had.
    for (int v = 1; v <= s.blk1.nv; ++v) s.blk1.x[v] = before[v];
    reload(s);
    Mat4 back;
    stigmat(s, 3, back);
    say(s, "?EXACT- The soft-edge map failed during the fit: " + why);
    say(s, "No fields changed.");
    return;
  }
  say(s, "After minimisation (soft edge)  (X/TH) = " + gx::fG(ex, 12, 5, 1) + " m/rad");
  say(s, "                                (Y/PH) = " + gx::fG(ey, 12, 5, 1) + " m/rad");
  if (cross != 0.0) say(s, "        cross terms (X/PH), (Y/TH): " + gx::fG(cross, 12, 5, 1) + " m/rad");
  say(s, "Field changes:");
  for (int v = 1; v <= s.blk1.nv; ++v) {
    say(s, " X(" + gx::fI(v, 2) + ")  " + g135(before[v]) + " -> " + g135(s.blk1.x[v]) +
               "   change " + g135(s.blk1.x[v] - before[v]));
  }
  stigmat(s, 3, a);
}

}  // namespace tavo
