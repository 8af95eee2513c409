// The misalignment analyses PARASI, ROTN and DISP: against finite
// differences, thick-lens optics and explicitly superimposed multipoles,
// and the element table they must give back untouched.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "session.h"
#include "tavo/edit/edit.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace {

using abertest::numbersAfter;
using abertest::Proton;

const std::vector<double> kParticle = {0.0, 1.0, 1.007276, 3.0, 0.0};
const std::vector<double> kBeam = {1.0, 1e-5, 2e-4, 1e-5, 2e-4, 0.01};

class Misalign : public abertest::SessionDir {
 protected:
  void lone(const char* name = "lone.tav", double field = 0.15) {
    writeSystem(name, "One quadrupole",
                {kParticle, kBeam, {3, 0.5, 0, 0}, {4, 0.06, field, 0.006}, {3, 0.3, 0, 0},
                 {9, 0, 0, 0}});
  }
};

TEST_F(Misalign, RotationCoefficientsAreTheSlopeOfTheCoupling) {
  const double h = 1e-4;   // rad
  std::ostringstream in;
  in << "DATA triplet\n"
     << "ROTN/I\n\n" << h << "\n\nSMAT\n"
     << "ROTN/I\n\n" << -h << "\n\nSMAT\n"
     << "ROTN Z\nROTN 0.01\nROTN/D 2\n";
  const std::string out = run(in.str());
  // Central difference of the coupling terms over the rotation of lens 2.
  const double b14p = numbersAfter(out, "B(1,4) =", 1, 0)[0];
  const double b14m = numbersAfter(out, "B(1,4) =", 1, 1)[0];
  const double b32p = numbersAfter(out, "B(3,2) =", 1, 0)[0];
  const double b32m = numbersAfter(out, "B(3,2) =", 1, 1)[0];
  const double dx = (b14p - b14m) / (2 * h), dy = (b32p - b32m) / (2 * h);
  ASSERT_GT(std::fabs(dx), 1.0);
  EXPECT_NE(out.find("Rotational aberration coefficients ( 1.00000E-02 deg) :"), std::string::npos);
  auto rows = numbersAfter(out, "(y/th.rho)", 12, 0);
  EXPECT_EQ(rows[4], 2.0);   // quadrupole number
  EXPECT_EQ(rows[5], 6.0);   // its row
  EXPECT_NEAR(rows[6], dx, 1e-3 * std::fabs(dx));
  EXPECT_NEAR(rows[7], dy, 1e-3 * std::fabs(dy));
  // Per degree: times 0.0175 rad, at any angle in the linear range.
  EXPECT_NE(out.find("(  2.0000     deg) :"), std::string::npos);
  auto deg = numbersAfter(out, "(y/th.rho)", 12, 1);
  EXPECT_NEAR(deg[6], 0.0175 * rows[6], 2e-3 * std::fabs(0.0175 * rows[6]));
  EXPECT_NE(out.find("                 Units: m/rad/degree"), std::string::npos);
  EXPECT_NE(out.find("                 Units: m/rad^2"), std::string::npos);
}

TEST_F(Misalign, DisplacedQuadrupoleShiftsTheImageByThickLensOptics) {
  lone();
  const std::string out = run("DATA lone\nDISP\nDISP 0.0001\n");
  // The offset a is added to the ray before the lens and taken off behind
  // it: x -> M (x + a) - a, so behind the drift d the image moves by
  // -a (1 - m11 - d m21), in x (focusing) and y (defocusing).
  const double len = 0.06, k = std::sqrt(Proton().qep() * 0.15 / 0.006), phi = k * len, d = 0.3;
  const double cx = -(1 - std::cos(phi) + d * k * std::sin(phi));
  const double cy = -(1 - std::cosh(phi) - d * k * std::sinh(phi));
  EXPECT_NE(out.find(" 1 Order displacement aberration coefficients (offset   1.0000     mm) :"),
            std::string::npos);
  auto first = numbersAfter(out, "(y/b)", 4, 0);
  EXPECT_EQ(first[0], 1.0);
  EXPECT_EQ(first[1], 4.0);
  EXPECT_NEAR(first[2], cx, 1e-4 * std::fabs(cx));
  EXPECT_NEAR(first[3], cy, 1e-4 * std::fabs(cy));
  // The same slope for a smaller offset, and three orders in each run.
  EXPECT_NE(out.find("(offset  0.10000     mm)"), std::string::npos);
  EXPECT_NE(out.find(" 3 Order displacement"), std::string::npos);
  auto small = numbersAfter(out, "(y/b)", 4, 3);
  EXPECT_NEAR(small[2], cx, 1e-4 * std::fabs(cx));
  EXPECT_NE(out.find("                 Units: m/m"), std::string::npos);
}

TEST_F(Misalign, ParasiticSextupoleEqualsAnExplicitSuperimposedOne) {
  lone();
  // 2 % of 0.15 T superimposed on the lens as its own row.
  writeSystem("withsext.tav", "Quadrupole and its sextupole",
              {kParticle, kBeam, {3, 0.5, 0, 0}, {4, 0.06, 0.15, 0.006}, {26, 0.06, 0.003, 0.006},
               {3, 0.3, 0, 0}, {9, 0, 0, 0}});
  const std::string par = run("DATA lone\nPARASI/S 2\n");
  const std::string ab2 = run("DATA withsext\nAB2\n");
  EXPECT_NE(par.find("Quadrupole lens  1 in position  4 Parasitic lens field  3.00000E-03 (   2.00%)"),
            std::string::npos);
  EXPECT_EQ(par.find("Octupole"), std::string::npos);   // sextupole pass only
  const double xt2 = numbersAfter(ab2, "(X/TH2)  =", 1)[0];
  const double yp = numbersAfter(ab2, "(Y/THPH) =", 1)[0];
  const double xp2 = numbersAfter(ab2, "(X/PH2)  =", 1)[0];
  ASSERT_GT(std::fabs(xt2), 1.0);
  EXPECT_NEAR(numbersAfter(par, "(X/TH2S)  ", 1)[0] * 2.0, xt2, 1e-4 * std::fabs(xt2));
  EXPECT_NEAR(numbersAfter(par, "(Y/THPHS) ", 1)[0] * 2.0, yp, 1e-4 * std::fabs(yp));
  EXPECT_NEAR(numbersAfter(par, "(X/PH2S)  ", 1)[0] * 2.0, xp2, 1e-4 * std::fabs(xp2));
}

TEST_F(Misalign, ParasiticOctupoleIsTheChangeOfTheSpherical) {
  lone();
  // Without a value the octupole pass puts 100 % of the field on the lens.
  writeSystem("withoct.tav", "Quadrupole and its octupole",
              {kParticle, kBeam, {3, 0.5, 0, 0}, {4, 0.06, 0.15, 0.006}, {28, 0.06, 0.15, 0.006},
               {3, 0.3, 0, 0}, {9, 0, 0, 0}});
  const std::string par = run("DATA lone\nPARASI\n");
  const std::string with = run("DATA withoct\nAB3\n");
  const std::string without = run("DATA lone\nAB3\n");
  EXPECT_NE(par.find("(   5.00%)"), std::string::npos);
  EXPECT_NE(par.find("( 100.00%)"), std::string::npos);
  const double w = numbersAfter(with, "(X/T3)  =", 1)[0], wo = numbersAfter(without, "(X/T3)  =", 1)[0];
  ASSERT_TRUE(std::isfinite(w) && std::isfinite(wo)) << with;
  const double expect = (w - wo) / 100.0;
  ASSERT_GT(std::fabs(expect), 1e-3);
  EXPECT_NEAR(numbersAfter(par, "(X/TH3O)   ", 1)[0], expect, 1e-3 * std::fabs(expect) + 1e-5);
}

TEST_F(Misalign, ZeroFieldLensIsMeasuredWithUnitField) {
  lone("zero.tav", 0.0);
  const std::string out = run("DATA zero\nPARASI/S\nSAVE after\n");
  EXPECT_NE(out.find("Parasitic lens field  5.00000E-02 (   5.00%)"), std::string::npos);
  auto l = lines("after.tav");
  ASSERT_GE(l.size(), 5u);
  EXPECT_NE(l[4].find("0.000000,    0.006000"), std::string::npos) << l[4];
}

TEST_F(Misalign, NoQuadrupolesGiveHeadingsOnly) {
  writeSystem("drifts.tav", "Drifts", {kParticle, kBeam, {3, 0.5, 0, 0}, {3, 0.3, 0, 0}, {9, 0, 0, 0}});
  const std::string out = run("DATA drifts\nPARASI\nROTN\nDISP\n");
  EXPECT_NE(out.find("Reduced Parasitic Sextupole Aberration Coefficients: (m/rad^2/%)"),
            std::string::npos);
  EXPECT_NE(out.find("Reduced Parasitic Octupole Aberration Coefficients: (micron/millirad^3/%)"),
            std::string::npos);
  EXPECT_EQ(out.find("Quadrupole lens"), std::string::npos);
  EXPECT_NE(out.find("Quadrupole       Position     (x/ph.rho)        (y/th.rho)\n \n \n"),
            std::string::npos);
  EXPECT_NE(out.find("Quadrupole       Position     (x/a)        (y/b)\n \n \n                 Units: m/m"),
            std::string::npos);
}

TEST_F(Misalign, FullTableRefusesTheParasiticRow) {
  std::vector<std::vector<double>> rows = {kParticle, kBeam, {3, 0.5, 0, 0}, {4, 0.06, 0.15, 0.006}};
  for (int r = 5; r < 40; ++r) rows.push_back({3, 0.01, 0, 0});
  rows.push_back({9, 0, 0, 0});
  writeSystem("full.tav", "Forty rows", rows);
  const std::string out = run("DATA full\nPARASI\nSAVE back\n");
  EXPECT_NE(out.find("?PARASI- The system fills all 40 rows"), std::string::npos);
  EXPECT_EQ(out.find("Reduced Parasitic"), std::string::npos);
  EXPECT_EQ(lines("back.tav").size(), 42u);   // title, 40 rows, sentinel
}

// The analyses on a loaded state: the whole table, the rotations, the
// displacements and the links come back bit for bit.
TEST(MisalignState, AnalysesGiveTheTableBack) {
  std::istringstream in;
  std::ostringstream out;
  tavo::Tavo s(in, out);
  const std::vector<std::vector<double>> rows = {
      kParticle, kBeam, {3, 3.0, 0, 0}, {4.1, 0.06, 0.129905, 0.006}, {3, 0.05, 0, 0},
      {4.02, 0.06, -0.226126, 0.006}, {28, 0.06, 0.01, 0.006}, {3, 0.05, 0, 0},
      {4.1, 0.06, 0.129905, 0.006}, {3, 0.2, 0, 0}, {9, 0, 0, 0}};
  for (size_t r = 0; r < rows.size(); ++r)
    for (size_t c = 0; c < rows[r].size(); ++c) s.bdata(static_cast<int>(r) + 1, static_cast<int>(c) + 1) = rows[r][c];
  s.bdata(1, 12) = s.bdata(1, 4);
  for (int c = 2; c <= 6; ++c) s.bdata(2, c + 5) = s.bdata(2, c);
  s.syspa = static_cast<int>(rows.size());
  s.rotat[4] = 0.002;
  s.rotat[9] = -0.001;
  s.displ[6] = {1e-5, -2e-5};
  s.displ[9] = {3e-6, 0.0};
  tavo::Mat4 a;
  tavo::stigmat(s, 1, a);
  tavo::couple(s);
  const tavo::TableCopy before(s);
  auto same = [&](const char* what) {
    EXPECT_EQ(s.bdata.b, before.bdata.b) << what;
    EXPECT_EQ(s.rotat, before.rotat) << what;
    EXPECT_EQ(s.displ, before.displ) << what;
    EXPECT_EQ(s.coupl, before.coupl) << what;
    EXPECT_EQ(s.syspa, before.syspa) << what;
  };
  tavo::parasiticAberrations(s, ' ', 0.0);
  same("PARASI");
  tavo::parasiticAberrations(s, 'O', 3.0);
  same("PARASI O");
  tavo::rotationAberrations(s, 'D', 0.5);
  same("ROTN");
  tavo::displacementAberrations(s, 0.0);
  same("DISP");
  EXPECT_NE(out.str().find("Quadrupole lens  3 in position  9"), std::string::npos);
}

}  // namespace
