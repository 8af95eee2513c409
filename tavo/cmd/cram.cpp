// CRAM: the octupole fields that cancel the spherical aberration, from the
// system's own coefficients or from values typed (CRAM S), and the list of
// the fields required.
#include <string>

#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/design/design.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace tavo {

namespace {

std::string g135(double v) { return gx::fG(v, 13, 5, 1); }

}  // namespace

void correctionList(Tavo& s, const Command& c) {
  say(s, "Required corrections;");
  say(s, "     Octupole          Field      Unit");
  int n = 0;
  for (int r = 3; r <= s.syspa && r <= kRows; ++r) {
    const TypeCode tc = decodeType(s, s.bdata(r, 1));
    if (tc.kind != 8) continue;
    ++n;
    int idx = 1;
    double factor = 1.0;
    if (tc.field < 0) {
      idx = c.letter == 'V' ? 7 : 6;
    } else {
      switch (c.letter) {
        case 'G': idx = 2; break;
        case 'K': idx = 3; break;
        case 'M': idx = 4; break;
        case 'O': idx = 5; break;
        case 'A': idx = 10; break;
        default: idx = 1; break;
      }
    }
    factor = idx == 10 ? s.bdata(r, 4) / s.cnst.mu0 : s.unitFactor[idx];
    double value = s.bdata(r, 3) * factor;
    std::string unit = kUnitNames[idx];
    if (c.letter == 'B') {
      value = s.bdata(r, 8);
      unit = kUnitNames[9];
    }
    say(s, gx::fX(8) + gx::fI(n, 2) + gx::fX(5) + g135(value) + "   " + unit);
  }
}

void cmdCram(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  Mat4 a;
  stigmat(s, -3, a);
  const auto& q = s.aber3.quad;
  // P (x/theta^3), S (x/theta phi^2), PB (y/phi^3), SB (y/theta^2 phi).
  double p = q(1, 1), sx = q(1, 2), pb = q(2, 1), sb = q(2, 2);
  if (c.letter == 'S') {
    struct Ask {
      const char* text;
      double* v;
    } asks[4] = {{"(X/TH3)   = ", &p}, {"(X/TH2PH) = ", &sx}, {"(Y/THPH2) = ", &sb},
                 {"(Y/PH3)   = ", &pb}};
    for (const Ask& k : asks) {
      const std::string text = " " + std::string(k.text) + gx::fF(*k.v, 11, 3) + " > ";
      if (gx::gxaskupdate(s.gx, s.inout.cmd, s.inout.term, s.imacr, text, *k.v) == gx::Reply::End)
        return;
    }
  }
  if (octupoleCorrection(s, p, sx, pb, sb)) correctionList(s, c);
}

}  // namespace tavo
