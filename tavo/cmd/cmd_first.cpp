// First-order listings: SMAT, SYSTEM, the single-element views, RUSS, S,
// COUPLE, CHROM, VECTOR and PTF.
#include <cmath>
#include <cstdlib>

#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/design/design.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace tavo {

namespace {

// Element routine of a kind.
void elementMatrix(Tavo& s, int row, int kind, Mat4& m) {
  switch (kind) {
    case 2:
    case 12: dipole(s, row, m); break;
    case 4: quad(s, row, m); break;
    case 6: sext(s, row, m); break;
    case 7: velselect(s, row, m); break;
    case 8: octu(s, row, m); break;
    case 10: accel(s, row, m); break;
    case 11: solenoid(s, row, m); break;
    case 13: gap(s, row, m); break;
    case 15: einzel(s, row, m); break;
    case 19: bell(s, row, m); break;
    case 17: cyl(s, row, m); break;
    default: drift(s, row, m); break;
  }
}

std::string g135(double v) { return gx::fG(v, 13, 5, 1); }

}  // namespace

void cmdSmat(Tavo& s, Command&) {
  if (!haveSystem(s)) return;
  Mat4 a;
  stigmat(s, 1, a);
  say(s, "System Beam Matrix:");
  matprint(s, 5, a);
}

void cmdSystem(Tavo& s, Command&) {
  if (!haveSystem(s)) return;
  Mat4 a;
  stigmat(s, 1, a);
  say(s, "From system  B - matrix");
  geom(s, s.syspa, a);
  systemMerit(s);
}

void cmdElementView(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  int n = std::fabs(c.value) < 1e6 ? static_cast<int>(c.value) : 0;
  while (n <= 0 || n > 19) {
    std::string reply;
    long long v = 0;
    if (askUntil(s, "Which?> ", reply, 2, [&](const std::string& r) {
          return gx::readInt(r, v);
        }) == gx::Reply::End)
      return;
    n = static_cast<int>(v);
    break;
  }
  std::string w = gx::pad(c.word, 2).substr(0, 2);
  int kind = 4, alt = -1;
  if (w == "DI") { kind = 2; alt = 12; }
  else if (w == "SE") kind = 6;
  else if (w == "VS") kind = 7;
  else if (w == "OC") kind = 8;
  else if (w == "AC") kind = 10;
  else if (w == "SO") kind = 11;
  else if (w == "GA") kind = 13;
  else if (w == "EI") kind = 15;
  else if (w == "CY") kind = 17;
  else if (w == "BE") kind = 19;
  int row = 0, count = 0;
  for (int k = 3; k <= s.syspa && k <= kRows && row == 0; ++k) {
    int kk = decodeType(s, s.bdata(k, 1)).kind;
    if ((kk == kind || kk == alt) && ++count == n) row = k;
  }
  if (row == 0) {
    say(s, kindName(kind) + " " + gx::fI(n, 2) + " not found");
    return;
  }
  TypeCode tc = decodeType(s, s.bdata(row, 1));
  while (tc.superposed && row > 3) {
    say(s, "Lens ," + gx::fI(row, 2) + " is a supra lens on lens " + gx::fI(row - 1, 2) + ".");
    --row;
    tc = decodeType(s, s.bdata(row, 1));
  }
  s.bdata(1, 4) = kineticEnergyMeV(s, row);
  Mat4 m = Mat4::identity();
  elementMatrix(s, row, tc.kind, m);
  matprint(s, tc.kind, m);
  geom(s, row, m);
  s.bdata(1, 4) = s.bdata(1, 12);
}

void cmdRuss(Tavo& s, Command&) {
  if (!haveSystem(s)) return;
  Mat4 a;
  stigmat(s, 1, a);
  double fx, fy, mx, my, dx, dy;
  focal(s, s.syspa, fx, fy);
  mag(s, s.syspa, mx, my);
  int k;
  lastFocusing(s, s.syspa, k, dx, dy);
  double tot = s.syspb.totlen, ctr = s.syspb.centre;
  double ex = k > 2 ? (s.bdata(k, 6) - tot) * 1e6 : 0.0;
  double ey = k > 2 ? (s.bdata(k, 7) - tot) * 1e6 : 0.0;
  double thin = (ctr == 0.0 || tot - ctr == 0.0) ? 0.0 : 1.0 / (1.0 / (tot - ctr) + 1.0 / ctr);
  auto lab = [](const char* t) { return " " + gx::pad(t, 28); };
  say(s, "");
  say(s, "RUSSIAN PARAMETERS");
  s.gx.io.write(s.inout.term, lab("") + "   X-Plane       Y-Plane");
  s.gx.io.write(s.inout.term, lab("Focal Length") + gx::fF(fx, 10, 5) + " m  " + gx::fF(fy, 10, 5) + " m");
  s.gx.io.write(s.inout.term, lab("Magnification") + gx::fF(mx, 10, 5) + " m  " + gx::fF(my, 10, 5) + " m");
  s.gx.io.write(s.inout.term, lab("Errors (Totlen-L.Quad Im.)") + gx::fG(ex, 10, 3, 1) + " micron  " +
                                  gx::fG(ey, 10, 3, 1) + " micron");
  s.gx.io.write(s.inout.term, lab("Thin Lens Focal Length") + gx::fF(thin, 10, 5) + " m");
  s.gx.io.write(s.inout.term, lab("System Total Length") + gx::fF(tot, 10, 5) + " m");
}

void cmdS(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  Mat4 a;
  stigmat(s, 1, a);
  couple(s);
  if (c.qual == 'I') {
    double mx, my;
    mag(s, s.syspa, mx, my);
    say(s, "Astigmatism       C10 = " + g135(a(1, 2) * mx) + " m/rad");
    say(s, "                  C01 = " + g135(a(3, 4) * my) + " m/rad");
  } else {
    say(s, "Astigmatism    (X/TH) = " + g135(a(1, 2)) + " m/rad");
    say(s, "               (Y/PH) = " + g135(a(3, 4)) + " m/rad");
  }
}

void cmdCouple(Tavo& s, Command&) {
  if (!haveSystem(s)) return;
  couple(s);
  int last = s.syspa < kRows ? s.syspa : kRows;
  auto block = [&](int from, int to) {
    std::string tags = "  Element> ", codes = "Type-code> ", links = "    Links> ", pos = " Position> ";
    for (int r = from; r <= to; ++r) {
      TypeCode tc = decodeType(s, s.bdata(r, 1));
      std::string tag;
      if (r == 1) tag = "Pa";
      else if (tc.kind == 9) tag = "En";
      else {
        tag = gx::pad(kindName(tc.kind), 2).substr(0, 2);
        if (tc.field > 0) tag[1] = 'm';
        else if (tc.field < 0) tag[1] = 'e';
      }
      tags += " " + tag;
      double code = s.bdata(r, 1);
      codes += gx::fI(std::fabs(code) < 1e6 ? static_cast<long long>(code) : 0, 3);
      links += gx::fI(s.coupl[r], 3);
      pos += gx::fI(r, 3);
    }
    say(s, tags);
    say(s, codes);
    say(s, links);
    say(s, pos);
  };
  if (last > 21) {
    block(1, 20);
    say(s, "");
    block(21, last);
  } else {
    block(1, last);
  }
}

bool perturbation(Tavo& s, Command& c, double& dp) {
  switch (c.letter) {
    case ' ': s.exciteUnit = 1; break;
    case 'G': s.exciteUnit = 2; break;
    case 'K': s.exciteUnit = 3; break;
    case 'M': s.exciteUnit = 4; break;
    case 'O': s.exciteUnit = 5; break;
    default: break;  // another letter keeps the unit remembered last
  }
  if (s.exciteUnit < 1 || s.exciteUnit > 5) s.exciteUnit = 1;
  dp = c.value;
  if (c.letter == 'S') {
    std::string reply;
    if (askUntil(s, "Perturbation > ", reply, 0, [&](const std::string& r) {
          return gx::readReal(r, dp);
        }) == gx::Reply::End)
      return false;
  }
  if (dp == 0.0) dp = 0.5;
  return true;
}

void cmdChrom(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  double dp = 0.0;
  if (!perturbation(s, c, dp)) return;
  chroma(s, dp);
  say(s, "Chromatic Aberration Coefficients   ");
  say(s, "Perturbation = " + gx::fF(dp, 9, 3) + "%");
  say(s, "X/THDM = " + g135(s.aber0(1) * 2000.0) + "   Y/PHDM = " + g135(s.aber0(2) * 2000.0));
  say(s, "X/XDM  = " + g135(s.aber0(3) * 2.0) + "   Y/YDM  = " + g135(s.aber0(4) * 2.0));
  say(s, "Units: micron/milliradian/% momentum error");
}

void cmdVector(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  int n = std::fabs(c.value) < 100 ? static_cast<int>(std::lround(c.value)) : 1;
  if (n == 0) n = 1;
  if (n > 3) n = 3;
  if (n < -4) n = -3;
  double v0[4];
  for (int k = 0; k < 4; ++k) v0[k] = s.bdata(2, k + 2);
  if (std::abs(n) >= 2) {
    // The chromatic terms of the beam vector need their coefficients first.
    double dp = 0.5;
    chroma(s, dp);
  }
  Mat4 a;
  stigmat(s, std::abs(n), a);
  double v[4] = {v0[0], v0[1], v0[2], v0[3]};
  if (n == -4) {
    // The spherical terms of the quadrupoles by the thin-lens formulae.
    // Without quadrupoles their coefficients are zero; five or more are
    // beyond the formulae.
    double p = 0, sx = 0, pb = 0, sb = 0;
    if (!fishk(s, p, sx, pb, sb) && s.nlens.nquad != 0) return;
    const tavo_aber3 kept = s.aber3;
    s.aber3.total(1, 1) = p;
    s.aber3.total(1, 2) = sx;
    s.aber3.total(2, 1) = pb;
    s.aber3.total(2, 2) = sb;
    vecmul(s, n, v, a);
    s.aber3 = kept;
  } else {
    vecmul(s, n, v, a);
  }
  say(s, "Beam Vectors");
  say(s, "                    Order = " + gx::fI(n, 2));
  say(s, "              Initial value  Final central   Final actual");
  const char* names[4] = {"X     ", "Theta ", "Y     ", "Phi   "};
  const char* units[4] = {" micron", " mrad", " micron", " mrad"};
  for (int k = 0; k < 4; ++k) {
    double f = (k % 2 == 0) ? 1e6 : 1e3;
    say(s, std::string(names[k]) + "    " + gx::fG(v0[k] * f, 15, 6, 1) +
               gx::fG(v[k] * f, 15, 6, 1) + gx::fG(s.bspec[k] * f, 15, 6, 1) + units[k]);
  }
  switch (n) {
    case -3: say(s, "First order and Spherical aberrations only."); break;
    case -4: say(s, "First order and Fishk spherical aberraions only."); break;
    case 3: say(s, "First, Chromatic and all third order aberrations."); break;
    case -2: say(s, "First order and angle Chromatic aberrations only."); break;
    case 2: say(s, "First order and all Chromatic aberrations."); break;
    default: break;
  }
}

namespace {

constexpr double kFixedFactor[8] = {0.0, 1.0, 1e4, 10.0, 1398.0766, 22797.41, 0.001, 1.0};

// Display factor of a row in unit idx (9 Beta, 10 AmpTn, 12 Theta, 13 Fd Gr
// per element). False when the element's factor cannot be formed.
bool ptfFactor(Tavo& s, int row, const TypeCode& tc, int idx, double& f) {
  if (idx <= 7) {
    f = kFixedFactor[idx];
    return true;
  }
  double r = s.bdata(row, 4), len = s.bdata(row, 2);
  Kinematics kin = kinematics(s, row);
  double e = s.cnst.e, mu0 = s.cnst.mu0;
  double qep = kin.qep;                 // Q e / p
  double qt = kin.t > 0 ? kin.q / kin.t : 0.0;   // Q / T, T in eV
  double beta = 1.0, amp = 1.0, lpow = 1.0, grad = 1.0;
  bool elec = tc.field < 0;
  (void)e;
  switch (tc.kind) {
    case 2: beta = qep; amp = r / mu0; break;
    case 10: beta = qep / 2.0; amp = r / mu0; grad = 1.0 / r; break;
    case 11: beta = qep / 2.0; amp = len / mu0; lpow = len; break;
    case 4:
      beta = elec ? qt / (r * r) : qep / r;
      amp = elec ? r / mu0 : r / (2.0 * mu0);
      lpow = len * len;
      grad = 1.0 / r;
      break;
    case 6:
      beta = elec ? qt / (r * r * r) : qep / (r * r);
      amp = elec ? r / mu0 : r / (3.0 * mu0);
      lpow = std::pow(len, 4);
      grad = 1.0 / (r * r);
      break;
    case 8:
      beta = elec ? -2.0 * qt / (r * r * r * r) : qep / (r * r * r);
      amp = elec ? r / mu0 : r / (4.0 * mu0);
      lpow = std::pow(len, 6);
      grad = 1.0 / (r * r * r);
      break;
    default: break;   // electric dipole and the electrostatic lenses: 1
  }
  if (std::fabs(r) <= 1e-10) grad = 1.0;
  switch (idx) {
    case 9: f = beta; break;
    case 10: f = amp; break;
    case 12: f = beta * lpow; break;
    default: f = grad; break;
  }
  return std::isfinite(f) && f != 0.0;
}

}  // namespace

void cmdPtf(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  if (c.letter != ' ') s.ptfUnit = c.letter;
  const char u = s.ptfUnit;
  int perKind[21] = {};
  for (int row = 3; row <= s.syspa && row <= kRows; ++row) {
    TypeCode tc = decodeType(s, s.bdata(row, 1));
    if (tc.field == 0) continue;
    int ord = (tc.kind >= 0 && tc.kind <= 20) ? ++perKind[tc.kind] : 0;
    int idx;
    if (u == 'B') idx = 9;
    else if (u == 'H') idx = 12;
    else if (tc.field < 0) idx = u == 'V' ? 7 : 6;
    else {
      switch (u) {
        case 'G': idx = 2; break;
        case 'K': idx = 3; break;
        case 'M': idx = 4; break;
        case 'O': idx = 5; break;
        case 'A': idx = 10; break;
        case 'F': idx = 13; break;
        default: idx = 1; break;
      }
    }
    double f;
    if (!ptfFactor(s, row, tc, idx, f)) {
      // No radius or no energy: the element is shown in tesla or volts.
      idx = tc.field < 0 ? 7 : 1;
      f = 1.0;
    }
    bool root = (idx == 9 || idx == 12) && (tc.kind == 4 || tc.kind == 6 || tc.kind == 8);
    for (;;) {
      double v = s.bdata(row, 3) * f;
      if (root) v = std::copysign(std::sqrt(std::fabs(v)), v);
      double av = std::fabs(v);
      std::string shown = (av >= 0.001 && av < 10000.0) ? gx::fF(v, 11, 5) : gx::fG(v, 11, 4, 1);
      std::string text = " " + gx::fI(tc.coupling, 2) + " " +
                         (tc.coupling == 0 ? "Constant" : "Variable") + " " +
                         supraLabel(tc.superposed) + fieldLabel(tc.field) + " " +
                         kindName(tc.kind) + gx::fI(ord, 2) + " field = " + shown + " " +
                         kUnitNames[idx] + " > ";
      if (gx::gxaskupdate(s.gx, s.inout.cmd, s.inout.term, s.imacr, text, v) == gx::Reply::End)
        return;
      double shownValue = s.bdata(row, 3) * f;
      if (root) shownValue = std::copysign(std::sqrt(std::fabs(shownValue)), shownValue);
      // An unchanged answer keeps the stored field exactly.
      if (v != shownValue) s.bdata(row, 3) = root ? v * std::fabs(v) / f : v / f;
      break;
    }
  }
}

}  // namespace tavo
