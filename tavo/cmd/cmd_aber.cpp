// The aberration listings THIRD, AB3, AB2, the figure of merit of SYSTEM
// and COFOUT.
#include <cmath>
#include <string>

#include "gxlib/fortran/fortio.h"
#include "tavo/aber/aber.h"
#include "tavo/commands.h"
#include "tavo/exact/exact.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"
#include "tavo/cof/cof.h"

namespace tavo {

namespace {

// Short names of the ten terms of each plane (x plane, y plane).
constexpr const char* kTermName[2][10] = {
    {"T3", "TP2", "XT2", "XP2", "TYP", "X2T", "TY2", "XYP", "X3", "XY2"},
    {"P3", "PT2", "YP2", "YT2", "PXT", "Y2P", "PX2", "YXT", "Y3", "YX2"}};

// Adding 0 shows a negative zero (a zero share times a negative
// magnification) as 0.
std::string g146(double v) { return gx::fG(v + 0.0, 14, 6, 1); }
std::string g135(double v) { return gx::fG(v + 0.0, 13, 5, 1); }

// Entry of plane p (0 x, 1 y), term j (1..10) of a third-order vector.
double term(const Third& t, int p, int j) { return t(p + 1, j); }

}  // namespace

void cmdThird(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  Mat4 a;
  stigmat(s, -3, a);
  const bool image = c.qual == 'I';
  double mx = 1.0, my = 1.0;
  if (image) mag(s, s.syspa, mx, my);
  const Third* share[3] = {&s.aber3.total, &s.aber3.quad, &s.aber3.octu};
  const char* label[3] = {"System     ", "Quadrupoles", "Octupoles  "};

  say(s, "Third order aberration coefficients defined as in the early");
  say(s, "papers of Yavor et al.");
  if (image) {
    say(s, "Relative to the image plane:");
    say(s, "                       C30           C12           C03           C21");
  } else {
    say(s, "                        P             S             PB            SB");
  }
  for (int k = 0; k < 3; ++k) {
    const Third& t = *share[k];
    say(s, label[k] + g146(mx * term(t, 0, 1)) + g146(mx * term(t, 0, 2)) +
               g146(my * term(t, 1, 1)) + g146(my * term(t, 1, 2)));
  }
  say(s, "Units: m/rad^3");

  if (c.letter == 'A') {
    say(s, "");
    say(s, "Remaining terms     System   Quadrupoles     Octupoles");
    for (int p = 0; p < 2; ++p) {
      const double m = p == 0 ? mx : my;
      for (int j = 3; j <= 10; ++j) {
        std::string line = std::string(p == 0 ? "X/" : "Y/") + gx::pad(kTermName[p][j - 1], 4);
        for (int k = 0; k < 3; ++k) line += g146(m * term(*share[k], p, j));
        say(s, line);
      }
    }
    say(s, "Units: m and rad (X, Y positions at the object, T, P angles)");
  }
}

void cmdAb3(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  Mat4 a;
  stigmat(s, -3, a);
  double cc[2][10];
  imageCoefficients(s, s.syspa, s.aber3.total, cc);
  say(s, "Third order aberration coefficients");
  say(s, "(X/T3)  = " + g146(cc[0][0]) + "   (Y/P3)  = " + g146(cc[1][0]));
  say(s, "(X/TP2) = " + g146(cc[0][1]) + "   (Y/PT2) = " + g146(cc[1][1]));
  say(s, "Units: micron/mrad^3");
  if (c.letter == 'A') {
    static constexpr const char* kUnits[10] = {
        "", "", "micron/(mrad^2 micron)", "micron/(mrad^2 micron)", "micron/(mrad^2 micron)",
        "micron/(mrad micron^2)", "micron/(mrad micron^2)", "micron/(mrad micron^2)",
        "micron/micron^3", "micron/micron^3"};
    for (int j = 3; j <= 10; ++j) {
      say(s, "(X/" + gx::pad(std::string(kTermName[0][j - 1]) + ")", 4) + " = " + g146(cc[0][j - 1]) +
                 "   (Y/" + gx::pad(std::string(kTermName[1][j - 1]) + ")", 4) + " = " +
                 g146(cc[1][j - 1]) + "   " + kUnits[j - 1]);
    }
  }
}

void cmdAb2(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  Mat4 a;
  stigmat(s, 2, a);
  const Mat14& q = s.aber2;
  if (c.letter == 'A') {
    // Labels of the components and monomials, two characters each.
    static const std::string kLab = " X T Y PX2XTXYXPT2TYTPY2YPP2";
    auto entry = [&](int r, const char* rl, int col) {
      return std::string("(") + rl + "/" + kLab.substr(2 * (col - 1), 2) + ") " + g135(q(r, col));
    };
    say(s, "Second order aberration coefficients");
    for (int col = 5; col <= 14; ++col) say(s, entry(1, "X", col) + "  " + entry(3, "Y", col));
    for (int col = 5; col <= 14; ++col) say(s, entry(2, "T", col) + "  " + entry(4, "P", col));
    return;
  }
  double xt2 = q(1, 9), yt2 = q(3, 9), xtp = q(1, 11), ytp = q(3, 11), xp2 = q(1, 14), yp2 = q(3, 14);
  if (c.qual == 'I') {
    double mx = 1.0, my = 1.0;
    mag(s, s.syspa, mx, my);
    xt2 *= mx * mx;
    yt2 *= mx * mx;
    xtp *= mx * my;
    ytp *= mx * my;
    xp2 *= my * my;
    yp2 *= my * my;
    say(s, "Second order angle dependent aberration coeffs relative");
    say(s, "to the image plane.");
    say(s, "(C20)    = " + g135(xt2) + "   (D20)    = " + g135(yt2));
    say(s, "(C11)    = " + g135(xtp) + "   (D11)    = " + g135(ytp));
    say(s, "(C02)    = " + g135(xp2) + "   (D02)    = " + g135(yp2));
    say(s, "Units: m/rad^2 or micron/mrad^2");
    return;
  }
  say(s, "Second order angle dependent aberration coeffs");
  say(s, "(X/TH2)  = " + g135(xt2) + "   (Y/TH2)  = " + g135(yt2));
  say(s, "(X/THPH) = " + g135(xtp) + "   (Y/THPH) = " + g135(ytp));
  say(s, "(X/PH2)  = " + g135(xp2) + "   (Y/PH2)  = " + g135(yp2));
  say(s, "Units: m/rad^2");
}

void systemMerit(Tavo& s) {
  Mat4 a;
  stigmat(s, -3, a);
  double cc[2][10];
  imageCoefficients(s, s.syspa, s.aber3.total, cc);
  const double tt = a(2, 2), pp = a(4, 4);
  const double xt3 = cc[0][0], yp3 = cc[1][0];
  // Angular demagnification over the cube root of the spherical aberration.
  const double merit = tt * pp / std::cbrt(std::fabs(xt3 * yp3));
  say(s, "");
  say(s, "(th/th)  = " + g146(tt) + "   (ph/ph)  = " + g146(pp));
  say(s, "(x/th3)  = " + g146(xt3) + "   (y/ph3)  = " + g146(yp3) + "  micron/mrad^3");
  say(s, "Lenn Varo's Figure of Merit:");
  say(s, "    Q    = " + g146(merit));
}

void cmdCofout(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  Mat4 a;
  stigmat(s, 3, a);
  const std::string line = c.line.substr(0, 7) + c.typedArg();
  if (c.qual != 'H' && c.qual != 'E') {
    cofout(s, a, line);
    return;
  }
  // From the map integrated through the hard-edged (third order) or the
  // soft-edged fields (fifth order), with the energy deviation as a variable.
  const bool soft = c.qual == 'E';
  Lattice lat;
  std::string why;
  const da::Space sp(5, soft ? 5 : 3);
  std::vector<da::Poly> map;
  MapSettings set;
  set.model = soft ? EdgeModel::Soft : EdgeModel::Hard;
  set.fringe = s.fringe;
  if (!buildLattice(s, lat, why) || !systemMap(lat, set, sp, map, why)) {
    say(s, "?COFOUT- " + why);
    return;
  }
  cofout(s, a, line, &map, soft);
}

}  // namespace tavo
