// PARASI: the sensitivity of the image to parasitic sextupole and octupole
// fields of the quadrupoles (pole-face errors). Each quadrupole in turn
// carries a superimposed multipole of a given percentage of its own field.
#include <cmath>

#include "gxlib/fortran/fortio.h"
#include "tavo/aber/aber.h"
#include "tavo/edit/edit.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/talk.h"
#include "tavo/system/system.h"
#include "tavo/cof/cof.h"

namespace tavo {

namespace {

std::string g(double v) { return gx::fG(v, 13, 5, 1); }

// The four image-side spherical values X/TH3, Y/PH3, X/THPH2, Y/TH2PH.
void spherical(Tavo& s, double out[4]) {
  double c[2][10];
  imageCoefficients(s, s.syspa, s.aber3.total, c);
  out[0] = c[0][0];
  out[1] = c[1][0];
  out[2] = c[0][1];
  out[3] = c[1][1];
}

// Switches off the multipoles of one kind, so that only the parasitic
// field is measured; row keep is the parasitic lens itself.
void clearMultipoles(Tavo& s, int kind, int keep) {
  for (int r = 3; r <= s.syspa && r <= kRows; ++r)
    if (r != keep && decodeType(s, s.bdata(r, 1)).kind == kind) s.bdata(r, 3) = 0.0;
}

}  // namespace

int quadrupoleRows(Tavo& s, std::array<int, 41>& rows) {
  int n = 0;
  for (int r = 3; r < s.syspa && r <= kRows; ++r) {
    TypeCode tc = decodeType(s, s.bdata(r, 1));
    if (tc.kind == 4 && !tc.superposed) rows[++n] = r;
  }
  return n;
}

void parasiticAberrations(Tavo& s, char option, double value) {
  const TableCopy saved(s);
  Mat4 a;
  stigmat(s, 3, a);
  const int end = s.syspa;
  if (end >= kRows) {
    say(s, "?PARASI- The system fills all " + std::to_string(kRows) +
               " rows: there is no row left for the parasitic lens.");
    saved.restore(s);
    return;
  }
  // Quadrupoles of the system: kind 4, not superimposed.
  std::array<int, 41> quads{};
  const int nq = quadrupoleRows(s, quads);

  for (int pass = 2; pass <= 3; ++pass) {
    if (pass == 2 && option == 'O') continue;
    if (pass == 3 && option == 'S') continue;
    const bool sext = pass == 2;
    const int kind = sext ? 6 : 8;
    say(s, "");
    say(s, sext ? "Reduced Parasitic Sextupole Aberration Coefficients: (m/rad^2/%)"
                : "Reduced Parasitic Octupole Aberration Coefficients: (micron/millirad^3/%)");
    say(s, "");
    double ref[4] = {0, 0, 0, 0};
    if (!sext) {
      clearMultipoles(s, kind, 0);
      stigmat(s, 3, a);
      spherical(s, ref);
      saved.restore(s);
    }
    for (int q = 1; q <= nq; ++q) {
      const int k = quads[q];
      // Room for the parasitic lens behind the quadrupole.
      for (int r = end; r > k; --r) copyRow(s, r + 1, r);
      clearRow(s, k + 1);
      const TypeCode tc = decodeType(s, s.bdata(k, 1));
      s.bdata(k + 1, 1) = (tc.field > 0 ? 20.0 : 30.0) + kind;
      for (int c = 2; c <= kCols; ++c) s.bdata(k + 1, c) = s.bdata(k, c);
      if (std::fabs(s.bdata(k, 3)) < 1e-10) s.bdata(k, 3) = 1.0;
      double f = value > 1e-10 ? value / 100.0 : static_cast<double>(0.05f);
      if (!sext) f *= 20.0;
      s.bdata(k + 1, 3) = f * s.bdata(k, 3);
      const double p = 100.0 * s.bdata(k + 1, 3) / s.bdata(k, 3);
      s.syspa = end + 1;
      clearMultipoles(s, kind, k + 1);
      stigmat(s, pass, a);
      double v[4] = {0, 0, 0, 0};
      if (!sext) spherical(s, v);
      say(s, "Quadrupole lens " + gx::fI(q, 2) + " in position " + gx::fI(k, 2) +
                 " Parasitic lens field " + gx::fG(s.bdata(k + 1, 3), 12, 5, 1) + " (" +
                 gx::fF(p, 7, 2) + "%)");
      if (sext) {
        say(s, "  (X/TH2S)  " + g(s.aber2(1, 9) / p) + "   (Y/TH2S)  " + g(s.aber2(3, 9) / p));
        say(s, "  (X/THPHS) " + g(s.aber2(1, 11) / p) + "   (Y/THPHS) " + g(s.aber2(3, 11) / p));
        say(s, "  (X/PH2S)  " + g(s.aber2(1, 14) / p) + "   (Y/PH2S)  " + g(s.aber2(3, 14) / p));
      } else {
        say(s, "  (X/TH3O)   " + g((v[0] - ref[0]) / p) + "   (Y/PH3O)   " + g((v[1] - ref[1]) / p));
        say(s, "  (X/THPH2O) " + g((v[2] - ref[2]) / p) + "   (Y/TH2PHO) " + g((v[3] - ref[3]) / p));
      }
      say(s, "");
      saved.restore(s);
    }
  }
  saved.restore(s);
}

}  // namespace tavo
