// EXCITE: the excitation aberration coefficients, the image shift per
// percent error of each power supply.
#include <cmath>
#include <string>

#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/design/design.h"
#include "tavo/model/model.h"

namespace tavo {

void cmdExcite(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
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
    const TypeCode tc = decodeType(s, s.bdata(row, 1));
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
    if (decodeType(s, s.bdata(row, 1)).kind == 8) ++noct;
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
