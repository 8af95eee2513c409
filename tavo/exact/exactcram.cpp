// EXACT/C: the octupole correction of CRAM done against the soft-edged
// field map instead of the closed-form third order. The third-order terms
// are linear in the octupole strengths (two octupole kicks make fifth order
// at least), so one map per octupole with its field stepped gives the exact
// response, and a 3x3 solve cancels (x|theta^3), (y|phi^3) and the mean of
// the mixed terms (x|theta phi^2), (y|theta^2 phi).
#include <cmath>
#include <string>
#include <vector>

#include "gxlib/fortran/fortio.h"
#include "gxlib/mat.h"
#include "tavo/design/design.h"
#include "tavo/exact/exact.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/talk.h"
#include "tavo/system/system.h"

namespace tavo {

namespace {

std::string g146(double v) { return gx::fG(v + 0.0, 14, 6, 1); }

// The three targeted soft-edge terms in micron/mrad^3 at the system end.
bool softTargets(Tavo& s, double t[3], std::string& why) {
  const da::Space sp(4, 3);  // outlives the series that refer to it
  std::vector<da::Poly> map;
  if (!softSystemMap(s, sp, map, why)) return false;
  t[0] = map[0].coef({0, 3, 0, 0, 0}) * 1e-3;
  t[1] = map[2].coef({0, 0, 0, 3, 0}) * 1e-3;
  t[2] = 0.5 * (map[0].coef({0, 1, 0, 2, 0}) + map[2].coef({0, 2, 0, 1, 0})) * 1e-3;
  return true;
}

// The first three magnetic octupoles into oct[0..2]; returns how many the
// system has.
int magneticOctupoles(Tavo& s, int oct[3]) {
  int count = 0;
  const int last = std::min(s.syspa, kRows);
  for (int r = 1; r <= last; ++r) {
    const TypeCode tc = decodeType(s, s.bdata(r, 1));
    if (tc.kind != 8 || tc.field != 1) continue;
    if (count < 3) oct[count] = r;
    ++count;
  }
  return count;
}

// Response m(i, j) of target i to the field of octupole j, from one step
// of each field (any step gives the same slope); the fields are left at b0.
bool softResponse(Tavo& s, const int oct[3], const double b0[3], const double before[3],
                  gx::Mat<3, 3>& m, std::string& why) {
  for (int j = 0; j < 3; ++j) {
    const double step = std::fabs(b0[j]) > 1e-3 ? std::fabs(b0[j]) : 0.01;
    s.bdata(oct[j], 3) = b0[j] + step;
    double t[3];
    const bool ok = softTargets(s, t, why);
    s.bdata(oct[j], 3) = b0[j];
    if (!ok) return false;
    for (int i = 0; i < 3; ++i) m(i + 1, j + 1) = (t[i] - before[i]) / step;
  }
  return true;
}

// The targets before and after, and the fields changed.
void printCorrection(Tavo& s, const int oct[3], const double before[3], const double after[3],
                     const double b0[3], const gx::Vec<3>& d) {
  say(s, "Octupole correction against the soft-edge map, fringe length " + exactNum(s.fringe) +
             " x bore radius");
  say(s, "                          Before         After   (micron/mrad^3)");
  say(s, gx::pad(" (X/T3)", 20) + g146(before[0]) + g146(after[0]));
  say(s, gx::pad(" (Y/P3)", 20) + g146(before[1]) + g146(after[1]));
  say(s, gx::pad(" [(X/TP2)+(Y/PT2)]/2", 20) + g146(before[2]) + g146(after[2]));
  say(s, " Octupole  Row      Field before   Field after        Change (Tesla)");
  for (int j = 0; j < 3; ++j)
    say(s, gx::fX(6) + gx::fI(j + 1, 2) + gx::fX(3) + gx::fI(oct[j], 3) + g146(b0[j]) +
               g146(b0[j] + d(j + 1)) + g146(d(j + 1)));
}

}  // namespace

void exactCram(Tavo& s) {
  int oct[3] = {0, 0, 0};
  const int count = magneticOctupoles(s, oct);
  if (count < 3) {
    say(s, "?EXACT- The correction needs 3 magnetic octupoles, the system has " +
               std::to_string(count) + ": no fields changed.");
    return;
  }
  if (count > 3)
    say(s, "%EXACT- The first 3 of " + std::to_string(count) + " octupoles are used.");

  double before[3], b0[3];
  std::string why;
  for (int j = 0; j < 3; ++j) b0[j] = s.bdata(oct[j], 3);
  auto restore = [&]() {
    for (int j = 0; j < 3; ++j) s.bdata(oct[j], 3) = b0[j];
    Mat4 a;
    stigmat(s, 1, a);
  };
  gx::Mat<3, 3> m;
  if (!softTargets(s, before, why) || !softResponse(s, oct, b0, before, m, why)) {
    restore();
    say(s, "?EXACT- " + why);
    return;
  }
  const gx::Vec<3> rhs{{-before[0], -before[1], -before[2]}};
  gx::Vec<3> d;
  if (!gx::solve(m, rhs, d)) {
    restore();
    say(s, "?EXACT- The octupoles cannot correct these terms (singular system): no fields "
           "changed.");
    return;
  }
  for (int j = 0; j < 3; ++j) s.bdata(oct[j], 3) = b0[j] + d(j + 1);
  double after[3];
  if (!softTargets(s, after, why)) {
    restore();
    say(s, "?EXACT- " + why);
    return;
  }
  // The strengths the closed-form evaluation reads, from the same rigidity.
  for (int j = 0; j < 3; ++j) {
    const Kinematics kin = kinematics(s, oct[j]);
    const double a = s.bdata(oct[j], 4);
    if (a != 0.0) s.bdata(oct[j], 8) = kin.qep * s.bdata(oct[j], 3) / (a * a * a);
  }
  Mat4 a;
  stigmat(s, -3, a);
  printCorrection(s, oct, before, after, b0, d);
}

}  // namespace tavo
