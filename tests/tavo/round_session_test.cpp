// Round lenses through the programs' commands: EXACT's round-lens table,
// EXACT/F setting an einzel lens so that the image falls on the system end,
// COFOUT/E and its hard-edge refusal, BELL, and the limits of a lens that
// fades into a drift.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "round_support.h"
#include "session.h"

namespace {

class RoundSession : public abertest::SessionDir {
 protected:
  // 30 keV gallium ions; an einzel lens (coupling code 1) at 23.5 mm.
  void einzelColumn(double ratio, double code = 15.1) {
    writeSystem("einz.tav", "Einzel",
                {{0, 1, 69.723, 0.03, 0}, {1, 1e-5, 2e-3, 1e-5, 2e-3, 1e-4}, {3, 0.022, 0, 0},
                 {code, 0.003, ratio, 0.0015}, {3, 0.03, 0, 0}, {9, 0, 0, 0}});
  }
};

// Numbers of the line starting with label after marker.
std::vector<double> after(const std::string& out, const std::string& marker,
                          const std::string& label, int n) {
  const size_t at = out.find(marker);
  if (at == std::string::npos) return std::vector<double>(n, NAN);
  return abertest::numbersAfter(out.substr(at), label, n);
}

TEST_F(RoundSession, ExactFitPutsTheEinzelImageOnTheSystemEnd) {
  einzelColumn(0.25);
  const std::string out = run("DATA einz\nEXACT/F\nEXACT\nEXIT\n");
  ASSERT_NE(out.find("After minimisation"), std::string::npos) << out;
  // The image of the refitted lens: at the system end, 0.022 + 0.003 + 0.03.
  const auto img = after(out, "Round lenses, axial object", " System", 3);
  EXPECT_NEAR(img[0], 0.055, 1e-6) << out;
  const double m = img[1];
  // Object and image side: Cs_i = M^4 Cs for an einzel lens (same energy
  // on both sides), Cc_i = M^2 Cc, angle-based C5 = C5 + Cs.
  const auto obj = after(out, "Object side (m)", " System", 5);
  const auto ims = after(out, "Image side (m)", " System", 4);
  EXPECT_NEAR(ims[0], std::pow(m, 4) * obj[0], 2e-4 * std::fabs(ims[0]));
  EXPECT_NEAR(ims[3], m * m * obj[3], 2e-4 * std::fabs(ims[3]));
  EXPECT_NEAR(obj[4], obj[1] + obj[0], 2e-4 * std::fabs(obj[4]));
  EXPECT_EQ(obj[2], 0.0);   // no anisotropy in an electric lens
  // With the image on the system end the map's (x|theta^3) is M Cs
  // (micron/mrad^3 = 1e3 m/rad^3).
  const size_t t3at = out.find(" (X/T3)", out.find("Third-order coefficients"));
  ASSERT_NE(t3at, std::string::npos);
  const std::string t3line = out.substr(t3at, out.find('\n', t3at) - t3at);
  const double t3 = std::stod(t3line.substr(t3line.find_last_of(' ', t3line.find_last_not_of(' '))));
  EXPECT_NEAR(t3 * 1e3, m * obj[0], 2e-4 * std::fabs(m * obj[0])) << out;
  // The refitted ratio, checked by the engine's own image search in a fresh
  // system: the einzel row now holds it.
  const auto fitted = abertest::numbersAfter(out.substr(out.find("X( 1)")), "->", 1);
  roundtest::System sys(1.0, 69.723, 0.03,
                        {{3.0, 0.022, 0, 0}, {15.0, 0.003, fitted[0], 0.0015}, {3.0, 0.03, 0, 0}});
  ASSERT_TRUE(sys.ok) << sys.why;
  EXPECT_NEAR(sys.optics().zi, 0.055, 1e-6);
}

TEST_F(RoundSession, ExactFitSetsABellLensFieldForAnImageNotARotation) {
  // Symmetric about the lens: the image on the system end has M = -1. The
  // rotation must not be taken for an image (a quarter turn also clears
  // (x|theta) and (y|phi)).
  writeSystem("bf.tav", "Bell fit",
              {{0, 1, roundtest::kElectronAmu, 0.2, 0}, {1, 1e-5, 2e-4, 1e-5, 2e-4, 1e-2},
               {3, 0.01, 0, 0}, {19.1, 0.004, 1.0, 0.002}, {3, 0.01, 0, 0}, {9, 0, 0, 0}});
  const std::string out = run("DATA bf\nEXACT/F\nEXACT\nEXIT\n");
  const auto img = after(out, "Round lenses, axial object", " System", 2);
  EXPECT_NEAR(img[0], 0.024, 1e-7) << out;
  EXPECT_NEAR(img[1], -1.0, 1e-5) << out;
}

TEST_F(RoundSession, ColumnListsEachLensAloneAndTheLastImage) {
  writeSystem("col.tav", "Two einzel lenses",
              {{0, 1, 69.723, 0.03, 0}, {1, 1e-5, 2e-3, 1e-5, 2e-3, 1e-4}, {3, 0.02, 0, 0},
               {15, 0.003, 0.3, 0.0015}, {3, 0.1, 0, 0}, {15, 0.003, 0.2, 0.0015},
               {3, 0.03, 0, 0}, {9, 0, 0, 0}});
  const std::string out = run("DATA col\nEXACT\nEXIT\n");
  const auto first = after(out, "Round lenses, axial object", " System  ", 2);
  const auto last = after(out, "Round lenses, axial object", " System, last image", 2);
  const auto l1 = after(out, "Round lenses, axial object", " Row  4 Einzellens", 2);
  const auto l2 = after(out, "Round lenses, axial object", " Row  6 Einzellens", 2);
  // The first image is the condenser's; the last is near the objective's
  // own, and the column's magnification is the product of the two.
  EXPECT_NEAR(first[0], l1[0], 1e-4 * l1[0]) << out;
  EXPECT_NEAR(last[0], l2[0], 2e-3 * l2[0]) << out;
  EXPECT_NEAR(last[1], l1[1] * l2[1], 2e-2 * std::fabs(last[1])) << out;
}

TEST_F(RoundSession, CofoutWritesTheRoundLensMapAndTheHardEdgeRefuses) {
  einzelColumn(0.3);
  const std::string out = run("DATA einz\nCOFOUT/E round\nC\nCOFOUT/H hard\nC\nEXIT\n");
  std::ifstream f("round.cof");
  ASSERT_TRUE(f.good()) << out;
  std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_GT(all.size(), 100u);
  EXPECT_NE(out.find("?COFOUT- Round lenses have no hard-edged model"), std::string::npos) << out;
  std::ifstream h("hard.cof");
  EXPECT_FALSE(h.good());
}

TEST_F(RoundSession, BellLensIsListedWithItsMatrix) {
  writeSystem("bell.tav", "Bell",
              {{0, 1, roundtest::kElectronAmu, 0.2, 0}, {1, 1e-5, 2e-3, 1e-5, 2e-3, 1e-4},
               {3, 0.01, 0, 0}, {19, 0.004, 1.5, 0.002}, {3, 0.05, 0, 0}, {9, 0, 0, 0}});
  const std::string out = run("DATA bell\nBELL 1\nEXIT\n");
  EXPECT_NE(out.find("Bell lens   MATRIX"), std::string::npos) << out;
  // A rotated focusing block: A(1,1) = A(2,2) = A(3,3) = A(4,4), and the
  // rotation mixes the planes as the solenoid's does.
  const auto r1 = abertest::numbersAfter(out, "A(1,1) =", 1);
  const auto r4 = abertest::numbersAfter(out, "A(4,4) =", 1);
  EXPECT_NEAR(r1[0], r4[0], 1e-6);
}

TEST_F(RoundSession, AFieldTooFineToIntegrateIsRefusedBeforeAnyStep) {
  // An einzel lens of tube radius 1 nm: its potential changes over
  // R/1.318 = 0.759 nm, so its 3 mm centre electrode alone asks for some
  // 6e7 steps of 0.05 nm. EXACT, EXACT/F and COFOUT/E name the row and the
  // scale and give up before integrating; the fields and the directory stay
  // as they were.
  einzelColumn(0.3);
  writeSystem("thin.tav", "Thin einzel",
              {{0, 1, 69.723, 0.03, 0}, {1, 1e-5, 2e-3, 1e-5, 2e-3, 1e-4}, {3, 0.022, 0, 0},
               {15.1, 0.003, 0.3, 1e-9}, {3, 0.03, 0, 0}, {9, 0, 0, 0}});
  const std::string out =
      run("DATA thin\nSAVE before\nEXACT\nEXACT/F\nCOFOUT/E thin\nSAVE after\nEXIT\n");
  const std::string why = "Row 4: the potential's width R/1.318 of 0.75873E-09 m needs steps too "
                          "short to integrate the map (more than 200000 steps).";
  EXPECT_NE(out.find(" Soft edge: " + why), std::string::npos) << out;
  EXPECT_NE(out.find("?EXACT- " + why), std::string::npos) << out;
  EXPECT_NE(out.find("?COFOUT- " + why), std::string::npos) << out;
  EXPECT_EQ(out.find("After minimisation"), std::string::npos) << out;
  ASSERT_GE(lines("after.tav").size(), 5u);
  EXPECT_EQ(lines("after.tav"), lines("before.tav"));
  EXPECT_FALSE(std::filesystem::exists("thin.cof"));
  // The same lens at a sensible radius is integrated.
  const std::string ok = run("DATA einz\nCOFOUT/E fine\nC\nEXIT\n");
  EXPECT_TRUE(std::filesystem::exists("fine.cof")) << ok;
}

TEST(RoundLimits, RatioNearOneIsADrift) {
  // The immersion lens fades into the drift as V2/V1 -> 1: (x|theta) by the
  // momentum change, linear in V2/V1 - 1; the focusing (theta|x),
  // quadratic; the spherical term at least linearly. At 1 it is the drift.
  std::vector<std::array<double, 3>> dev;
  for (double e : {1e-3, 1e-4, 0.0}) {
    roundtest::System sys(1.0, 69.723, 0.01,
                          {{3.0, 0.01, 0, 0}, {17.0, 0.004, 1.0 + e, 0.001}, {3.0, 0.05, 0, 0}});
    ASSERT_TRUE(sys.ok) << sys.why;
    const tavo::da::Space sp(4, 3);
    std::vector<tavo::da::Poly> map;
    tavo::MapSettings set;
    ASSERT_TRUE(tavo::systemMap(sys.lat, set, sp, map, sys.why)) << sys.why;
    dev.push_back({std::fabs(map[0].coef({0, 1, 0, 0, 0}) - 0.064),
                   std::fabs(map[1].coef({1, 0, 0, 0, 0})), std::fabs(map[0].coef({0, 3, 0, 0, 0}))});
  }
  EXPECT_NEAR(dev[1][0] / dev[0][0], 0.1, 0.01);
  EXPECT_NEAR(dev[1][1] / dev[0][1], 0.01, 0.002);
  EXPECT_LT(dev[1][2] / dev[0][2], 0.15);
  for (double d : dev[2]) EXPECT_LT(d, 1e-15);
}

}  // namespace

namespace {

// First-order map (x|x), (x|th), (th|x), (th|th) of a row list at its end.
std::array<double, 4> firstOrder(roundtest::System& sys) {
  const tavo::da::Space sp(4, 1);
  std::vector<tavo::da::Poly> map;
  tavo::MapSettings set;
  EXPECT_TRUE(tavo::systemMap(sys.lat, set, sp, map, sys.why)) << sys.why;
  if (map.size() < 2) return {NAN, NAN, NAN, NAN};
  return {map[0].coef({1, 0, 0, 0, 0}), map[0].coef({0, 1, 0, 0, 0}),
          map[1].coef({1, 0, 0, 0, 0}), map[1].coef({0, 1, 0, 0, 0})};
}

}  // namespace

TEST(RoundLimits, NarrowGapLensesBecomeDavissonCalbickApertures) {
  // 5 keV gallium ions through a 40 kV section of 20 mm with a gap lens at
  // each end. As the gap radius shrinks each field step becomes the thin
  // aperture lens 1/f = (E_after - E_before) / (4 V), V the kinetic
  // potential there, and the section between them the uniform field,
  // slopes scaled by 1/r over a drift of 2L/(1+r), r = sqrt(V1/V0).
  const double v0 = 5000.0, e = 40e3 / 0.02, v1 = v0 + 40e3, r = std::sqrt(v1 / v0);
  using M2 = std::array<double, 4>;   // (11, 12, 21, 22)
  auto mul = [](const M2& a, const M2& b) {
    return M2{a[0] * b[0] + a[1] * b[2], a[0] * b[1] + a[1] * b[3],
              a[2] * b[0] + a[3] * b[2], a[2] * b[1] + a[3] * b[3]};
  };
  auto drift = [](double l) { return M2{1, l, 0, 1}; };
  auto lens = [](double p) { return M2{1, 0, -p, 1}; };
  const M2 thin = mul(drift(0.055),
                      mul(lens(-e / (4 * v1)),
                          mul(M2{1, 2 * 0.02 / (1 + r), 0, 1 / r}, mul(lens(e / (4 * v0)), drift(0.025)))));
  std::vector<double> dev;
  for (double gap : {4e-4, 2e-4, 1e-4, 2.3e-5, 1e-5}) {
    roundtest::System sys(1.0, 69.723, 0.005,
                          {{3.0, 0.02, 0, 0}, {13.0, 0.005, gap, 0}, {10.0, 0.02, 0.04, 0},
                           {13.0, 0.005, gap, 0}, {3.0, 0.05, 0, 0}});
    ASSERT_TRUE(sys.ok) << sys.why;
    const M2 m = firstOrder(sys);
    double d = 0.0;
    for (int k = 0; k < 4; ++k) d = std::max(d, std::fabs(m[k] - thin[k]) / std::fabs(thin[k]));
    dev.push_back(d);
    // A map of equal momenta at both ends would have determinant 1; here
    // the slopes shrink with the momentum: det = p0/p1, with p from
    // phi (1 + Q e phi / (2 m c^2)).
    const double eps = 1.0 / (2.0 * 69.723 * 931494102.42);
    EXPECT_NEAR(m[0] * m[3] - m[1] * m[2], std::sqrt(v0 * (1 + eps * v0) / (v1 * (1 + eps * v1))),
                1e-12);
  }
  // The thick-lens correction falls in proportion to the radius.
  EXPECT_NEAR(dev[1] / dev[0], 0.5, 0.05);
  EXPECT_NEAR(dev[2] / dev[1], 0.5, 0.05);
  EXPECT_NEAR(dev[3] / dev[2], 0.23, 0.03);
  EXPECT_NEAR(dev[4] / dev[3], 0.1 / 0.23, 0.05);
  EXPECT_LT(dev[4], 1e-2);
}

TEST_F(RoundSession, AcceleratingSectionsNeedGapLensesAtTheirEnds) {
  // A section whose field would step with no gap lens to shape the step is
  // refused, naming the row and the end; a gap lens without a radius too.
  writeSystem("open.tav", "Open end",
              {{0, 1, 69.723, 0.005, 0}, {1, 1e-5, 2e-3, 1e-5, 2e-3, 1e-4}, {3, 0.02, 0, 0},
               {13, 0.005, 0.002, 0}, {10, 0.02, 0.04, 0}, {3, 0.1, 0, 0}, {9, 0, 0, 0}});
  writeSystem("norad.tav", "No radius",
              {{0, 1, 69.723, 0.005, 0}, {1, 1e-5, 2e-3, 1e-5, 2e-3, 1e-4}, {3, 0.02, 0, 0},
               {13, 0.005, 0, 0}, {10, 0.02, 0.04, 0}, {13, 0.005, 0.002, 0}, {3, 0.1, 0, 0},
               {9, 0, 0, 0}});
  // Two sections of one field in a row: no step between them, the same
  // column as one section of twice the length and voltage.
  writeSystem("split.tav", "Split",
              {{0, 1, 69.723, 0.005, 0}, {1, 1e-5, 2e-3, 1e-5, 2e-3, 1e-4}, {3, 0.02, 0, 0},
               {13, 0.005, 0.002, 0}, {10, 0.01, 0.02, 0}, {10, 0.01, 0.02, 0},
               {13, 0.005, 0.002, 0}, {3, 0.1, 0, 0}, {9, 0, 0, 0}});
  writeSystem("whole.tav", "Whole",
              {{0, 1, 69.723, 0.005, 0}, {1, 1e-5, 2e-3, 1e-5, 2e-3, 1e-4}, {3, 0.02, 0, 0},
               {13, 0.005, 0.002, 0}, {10, 0.02, 0.04, 0}, {13, 0.005, 0.002, 0},
               {3, 0.1, 0, 0}, {9, 0, 0, 0}});
  const std::string out = run(
      "DATA open\nEXACT\nCOFOUT/E open\nDATA norad\nEXACT\nDATA split\nEXACT\nDATA whole\nEXACT\n"
      "EXIT\n");
  EXPECT_NE(out.find("?EXACT- The field of the accelerating section in row 5 (Elec Accelerate) "
                     "steps at its exit with no gap lens there"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("?COFOUT- The field of the accelerating section in row 5"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists("open.cof"));
  EXPECT_NE(out.find("?EXACT- The gap lens of row 4 (Elec Gap Lens) needs its radius"),
            std::string::npos)
      << out;
  const size_t split = out.find("Title:  Split"), whole = out.find("Title:  Whole");
  ASSERT_NE(split, std::string::npos);
  ASSERT_NE(whole, std::string::npos);
  const auto a = abertest::numbersAfter(out.substr(split), "  System   ", 2);
  const auto b = abertest::numbersAfter(out.substr(whole), "  System   ", 2);
  EXPECT_NEAR(a[0], b[0], 1e-9) << out;
  EXPECT_NEAR(a[1], b[1], 1e-8) << out;
}
