// Whole sessions on the example lens systems: every first-order command
// through the program's own command loop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "session.h"
#include "tavo/commands.h"

namespace {

namespace fs = std::filesystem;

class Session : public abertest::SessionDir {};

// The number that follows a label in the output.
double after(const std::string& out, const std::string& label, int skip = 0) {
  size_t at = 0;
  for (int k = 0; k <= skip; ++k) {
    at = out.find(label, k == 0 ? 0 : at + 1);
    if (at == std::string::npos) return NAN;
  }
  return std::strtod(out.c_str() + at + label.size(), nullptr);
}

const char* kOneQuad =
    " One quadrupole\n"
    "  0.00   ,    1.000000,    1.007276,    3.000000,    0.000000\n"
    "  1.00   ,    0.000010,    0.001000,    0.000010,    0.001000,    0.000000\n"
    "  3.00   ,    0.500000,    0.000000,    0.000000\n"
    "  4.10   ,    0.100000,    0.300000,    0.010000\n"
    "  3.00   ,    0.200000,    0.000000,    0.000000\n"
    "  9.00   ,    0.000000,    0.000000,    0.000000\n"
    " SENTINEL\n";

// The 4x4 matrix printed by SMAT.
std::array<double, 16> matrix(const std::string& out, char letter = 'B') {
  std::array<double, 16> m{};
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 4; ++c) {
      std::string key = std::string(1, letter) + "(" + std::to_string(r) + "," + std::to_string(c) + ") =";
      m[(r - 1) * 4 + (c - 1)] = after(out, key);
    }
  return m;
}

TEST_F(Session, SmatAndSystemOnTheDoublet) {
  std::string o = run("DATA doublet\nSMAT\nSYSTEM\n");
  auto m = matrix(o);
  // Static magnetic system: unit determinant of each plane block.
  EXPECT_NEAR(m[0] * m[5] - m[1] * m[4], 1.0, 1e-5);
  EXPECT_NEAR(m[10] * m[15] - m[11] * m[14], 1.0, 1e-5);
  // The fields were chosen to image at the system end.
  EXPECT_LT(std::fabs(m[1]), 1e-4);
  EXPECT_LT(std::fabs(m[11]), 1e-4);
  EXPECT_NE(o.find("From system  B - matrix"), std::string::npos);
  EXPECT_NEAR(after(o, "Particle energy"), 3.0, 1e-9);
  // Object distance of the system: the first lens centre, 3.04 m.
  EXPECT_NEAR(after(o, "Object distance"), 3.04, 1e-6);
}

TEST_F(Session, SingleElementViews) {
  std::string o = run(
      "DATA doublet\nQUAD 2\nQUAD 3\nOCTU 1\nQUAD\n1\n"
      "DATA electrostatic\nGAP 1\nEINZ 1\nACCEL 1\nCYL 1\n");
  EXPECT_NE(o.find("Quadrupole  MATRIX"), std::string::npos);
  EXPECT_NE(o.find("Quadrupole  3 not found"), std::string::npos);
  EXPECT_NE(o.find("Octupole    1 not found"), std::string::npos);
  EXPECT_NE(o.find("Which?> "), std::string::npos);
  EXPECT_NE(o.find("Element  4 Magn Quadrupole"), std::string::npos);
  EXPECT_NE(o.find("Element  6 Magn Quadrupole"), std::string::npos);
  EXPECT_NE(o.find("Cyl lens    1 not found"), std::string::npos);
  // Exit of the 0.18 MV, 0.3 m column at 0.2 MeV: f = -4 * 0.2 / 0.6 m.
  size_t gap = o.find("Element  7 Elec Gap Lens");
  ASSERT_NE(gap, std::string::npos);
  EXPECT_NEAR(after(o.substr(gap), "Focal length"), -4.0 * 0.2 / 0.6, 1e-5);
  // The column itself: angles shrink by sqrt(0.02/0.2).
  auto acc = matrix(o.substr(o.find("Accelerate  MATRIX")), 'A');
  EXPECT_NEAR(acc[5], std::sqrt(0.1), 1e-6);
}

TEST_F(Session, RussAndAstigmatism) {
  std::string o = run("DATA triplet\nRUSS\nS\nS/I\n");
  // Drifts 3 + 0.05 + 0.05 + 0.2 and three 0.06 m lenses.
  EXPECT_NEAR(after(o, "System Total Length"), 3.48, 1e-9);
  // Lens section 3.00 .. 3.28: centre 3.14.
  EXPECT_NEAR(after(o, "Thin Lens Focal Length"), 1.0 / (1.0 / 0.34 + 1.0 / 3.14), 1e-5);
  EXPECT_LT(std::fabs(after(o, "Astigmatism    (X/TH) =")), 1e-4);
  EXPECT_LT(std::fabs(after(o, "(Y/PH) =")), 1e-4);
  EXPECT_NE(o.find("Astigmatism       C10 = "), std::string::npos);
  EXPECT_NE(o.find("C01 = "), std::string::npos);
}

TEST_F(Session, CoupleListsLinksAndSplitsLongSystems) {
  std::string o = run("DATA triplet\nCOUPLE\n");
  EXPECT_NE(o.find("  Element>  Pa Be Dr Qm Dr Qm Dr Qm Dr En"), std::string::npos);
  EXPECT_NE(o.find("     Links>   0  0  0  1  0 -2  0  1  0  0"), std::string::npos);
  EXPECT_NE(o.find("  Position>   1  2  3  4  5  6  7  8  9 10"), std::string::npos);
  std::string text =
      " Many\n 0.00, 1, 1.007276, 3, 0\n 1.00, 0.00001, 0.001, 0.00001, 0.001, 0\n";
  for (int k = 3; k <= 24; ++k) text += k == 10 ? " 14.1, 0.1, 1000, 0.01\n" : " 3.00, 0.1, 0, 0\n";
  text += " 9.00, 0, 0, 0\n";
  std::ofstream("many.tav") << text;
  o = run("DATA many\nCOUPLE\n");
  EXPECT_NE(o.find("Dr Dr Qe Dr"), std::string::npos);
  EXPECT_NE(o.find("Position>   1  2  3  4  5  6  7  8  9 10 11 12 13 14 15 16 17 18 19 20\n \n"),
            std::string::npos);
  EXPECT_NE(o.find("Position>  21 22 23 24 25\n"), std::string::npos);
}

TEST_F(Session, ChromaticCoefficients) {
  std::string o = run("DATA triplet\nCHROM\nCHROM S\n0\nCHROM 1\n");
  EXPECT_NE(o.find("Chromatic Aberration Coefficients"), std::string::npos);
  EXPECT_NEAR(after(o, "Perturbation = "), 0.5, 1e-9);
  EXPECT_NEAR(after(o, "Perturbation = ", 1), 0.5, 1e-9);
  EXPECT_NEAR(after(o, "Perturbation = ", 2), 1.0, 1e-9);
  EXPECT_NE(o.find("Perturbation > "), std::string::npos);
  // A higher energy focuses less: the image moves downstream, so at the
  // nominal image a ray that left the axis upwards has not crossed it yet.
  EXPECT_GT(after(o, "X/THDM ="), 0.0);
  EXPECT_GT(after(o, "Y/PHDM ="), 0.0);
  EXPECT_NE(o.find("Units: micron/milliradian/% momentum error"), std::string::npos);
}

TEST_F(Session, BeamVectorAtEveryOrder) {
  std::string o = run("DATA triplet\nSMAT\nVECTOR\nVECTOR 2\nVECTOR -2\nVECTOR 3\nVECTOR -3\nVECTOR -4\n");
  auto m = matrix(o);
  // First order: the matrix applied to (10 um, 0.2 mrad, 10 um, 0.2 mrad).
  size_t v1 = o.find("Order =  1");
  ASSERT_NE(v1, std::string::npos);
  std::istringstream row(o.substr(o.find("X     ", v1) + 6));
  double init, central, actual;
  row >> init >> central >> actual;
  EXPECT_NEAR(init, 10.0, 1e-9);
  EXPECT_NEAR(central, m[0] * 10.0 + m[1] * 200.0, 1e-4);
  EXPECT_NEAR(actual, central, 1e-9);
  EXPECT_NE(o.find("First order and all Chromatic aberrations."), std::string::npos);
  EXPECT_NE(o.find("First order and angle Chromatic aberrations only."), std::string::npos);
  EXPECT_NE(o.find("First, Chromatic and all third order aberrations."), std::string::npos);
  EXPECT_NE(o.find("First order and Spherical aberrations only."), std::string::npos);
  EXPECT_NE(o.find("First order and Fishk spherical aberraions only."), std::string::npos);
}

const char* kElectricQuad =
    " Electric quadrupole\n"
    "  0.00   ,    1.000000,    1.007276,    0.200000,    0.000000\n"
    "  1.00   ,    0.000010,    0.001000,    0.000010,    0.001000,    0.000000\n"
    "  3.00   ,    0.500000,    0.000000,    0.000000\n"
    " 14.00   ,    0.100000, 1500.000000,    0.010000\n"
    "  3.00   ,    0.200000,    0.000000,    0.000000\n"
    "  9.00   ,    0.000000,    0.000000,    0.000000\n"
    " SENTINEL\n";

TEST_F(Session, PtfShowsAndUpdatesFieldsInEveryUnit) {
  std::ofstream("one.tav") << kOneQuad;
  std::ofstream("elq.tav") << kElectricQuad;
  std::string o = run(
      "DATA one\nPTF G\n\nPTF F\n\nPTF A\n\nPTF K\n\nPTF M\n\nPTF O\n\nPTF B\n\nPTF H\n\n"
      "PTF G\n2000\nPTF T\n\n"
      "DATA elq\nPTF\n\nPTF V\n\nPTF B\n\n");
  auto shown = [&](int k) { return after(o, " field = ", k); };
  EXPECT_NEAR(shown(0), 3000.0, 1e-9);                           // gauss
  EXPECT_NEAR(shown(1), 30.0, 1e-9);                             // T/m at 10 mm bore
  EXPECT_NEAR(shown(2), 0.3 * 0.01 / (2 * 1.256637062e-6), 1e-4);  // ampere-turns per pole
  EXPECT_NEAR(shown(3), 3.0, 1e-9);                              // kilogauss
  EXPECT_NEAR(shown(4), 0.3 * 1398.0766, 1e-4);
  EXPECT_NEAR(shown(5), 0.3 * 22797.41, 1e-3);
  // Beta: k of the lens; Theta: k L, from the proton rigidity at 3 MeV.
  double t = 3e6, e = 1.6021892e-19, c = 299792458.0, m = 1.007276 * 1.660565416e-27;
  double brho = std::sqrt((t / c) * (t / c) + 2 * m * t / e);
  double k = std::sqrt(0.3 / (0.01 * brho));
  EXPECT_NEAR(shown(6), k, 1e-4);
  EXPECT_NEAR(shown(7), k * 0.1, 1e-5);
  EXPECT_NEAR(shown(9), 0.2, 1e-12);                             // 2000 G stored as 0.2 T
  EXPECT_NE(o.find("  1 Variable       Magn Quadrupole 1 field = "), std::string::npos);
  // Electric: kV by default, volts with V, Beta = sqrt(V/(a^2 T)).
  EXPECT_NEAR(shown(10), 1.5, 1e-9);
  EXPECT_NEAR(shown(11), 1500.0, 1e-9);
  EXPECT_NEAR(shown(12), std::sqrt(1500.0 / (1e-4 * 0.2e6)), 1e-5);
  EXPECT_NE(o.find("  0 Constant       Elec Quadrupole 1 field = "), std::string::npos);
  EXPECT_NE(o.find(" kV    > "), std::string::npos);
}

TEST_F(Session, PtfStopsAtTheEndOfAMacro) {
  std::ofstream("one.tav") << kOneQuad;
  std::ofstream("edit.tcm") << "PTF G\n";
  std::string o = run("DATA one\n@edit\nPTF T\n\n");
  EXPECT_NEAR(after(o, " field = ", 1), 0.3, 1e-12);   // nothing changed
}

}  // namespace
