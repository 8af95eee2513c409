// Octupole correction (CRAM), the thin-lens spherical coefficients (FISHK)
// and VECTOR -4 in whole sessions.
#include <filesystem>
#include <cmath>

#include "session.h"

using abertest::numbersAfter;
using abertest::Proton;

namespace {

class CramSession : public abertest::SessionDir {
 protected:
  void SetUp() override {
    abertest::SessionDir::SetUp();
    std::filesystem::copy_file(std::filesystem::path(TK_SOURCE_DIR) / "examples" / "triplet_oct.tav",
                               dir_ / "triplet_oct.tav");
  }
  // P, S, PB, SB of the system line of the k-th THIRD listing.
  static std::vector<double> third(const std::string& out, int k) {
    return numbersAfter(out, "SB\n System     ", 4, k);
  }
  // The triplet with three octupoles of the given raw code, lengths and
  // fields, for a particle of charge q, mass m (u) and energy t (MeV).
  void writeOctTriplet(const std::string& name, double code, double len, double field, double q = 1,
                       double m = 1.007276, double t = 3.0, bool fourth = false) {
    std::vector<std::vector<double>> rows = {
        {0, q, m, t, -1}, {1, 1e-5, 2e-4, 1e-5, 2e-4, 0.01}, {3, 3.0, 0, 0},
        {4.1, 0.06, 0.129905, 0.006}, {code, len, field, 0.006}, {3, 0.05 - len, 0, 0},
        {4.02, 0.06, -0.226126, 0.006}, {code, len, field, 0.006}, {3, 0.05 - len, 0, 0},
        {4.1, 0.06, 0.129905, 0.006}, {code, len, field, 0.006}, {3, 0.2 - len, 0, 0}};
    if (fourth) {
      rows.back() = {3, 0.1, 0, 0};
      rows.push_back({8, 0.02, 0.001, 0.006});
      rows.push_back({3, 0.08 - len, 0, 0});
    }
    rows.push_back({9, 0, 0, 0});
    writeSystem(name, "Octupole triplet", rows);
  }
};

TEST_F(CramSession, CancelsTheSphericalAberrationOfTheExample) {
  const std::string out = run("DATA triplet_oct\nTHIRD\nCRAM\nTHIRD\n");
  const auto before = third(out, 0), after = third(out, 1);
  ASSERT_GT(before[0], 1.0) << out;
  EXPECT_LT(std::fabs(after[0]), 1e-6 * std::fabs(before[0])) << out;
  EXPECT_LT(std::fabs(after[2]), 1e-6 * std::fabs(before[2]));
  const double meanBefore = (before[1] + before[3]) / 2, meanAfter = (after[1] + after[3]) / 2;
  EXPECT_LT(std::fabs(meanAfter), 1e-6 * std::fabs(meanBefore));
  EXPECT_NE(out.find("Required corrections;"), std::string::npos);
  EXPECT_NE(out.find("Determinant = "), std::string::npos);
  EXPECT_EQ(out.find("FIRST 3/"), std::string::npos);
  EXPECT_EQ(out.find("Partial correction"), std::string::npos);
}

TEST_F(CramSession, TypedCoefficientsAreCancelled) {
  // CRAM S: the octupoles then carry minus the typed P and PB, and minus
  // the mean of the typed S and SB in both of their mixed terms.
  const std::string out = run("DATA triplet_oct\nCRAM S\n1000\n300\n100\n2000\nTHIRD\n");
  EXPECT_NE(out.find("(X/TH3)   = "), std::string::npos);
  EXPECT_NE(out.find("(Y/PH3)   = "), std::string::npos);
  const auto oct = numbersAfter(out, " Octupoles  ", 4);
  EXPECT_NEAR(oct[0], -1000.0, 1e-3) << out;
  EXPECT_NEAR(oct[1], -200.0, 1e-2);
  EXPECT_NEAR(oct[2], -2000.0, 1e-3);
  EXPECT_NEAR(oct[3], -200.0, 1e-2);
}

TEST_F(CramSession, FieldsGiveBackTheStrengthsForAnyCharge) {
  // Doubly charged ions of the same rigidity: the pole-tip fields follow
  // from p/(Q e), so the corrected system is as well corrected as for protons.
  writeOctTriplet("alpha.tav", 8, 0.02, 0.0, 2, 4.001506, 3.0);
  const std::string out = run("DATA alpha\nTHIRD\nCRAM G\nTHIRD\nPTF T\n\n\n\n\n\n\n");
  const auto before = third(out, 0), after = third(out, 1);
  EXPECT_LT(std::fabs(after[0]), 1e-6 * std::fabs(before[0])) << out;
  EXPECT_LT(std::fabs(after[2]), 1e-6 * std::fabs(before[2]));
  EXPECT_LT(std::fabs(after[1] + after[3]), 2e-6 * std::fabs(before[1] + before[3]));
  // Gauss in the list: 1e4 times the tesla value the table holds.
  const auto g = numbersAfter(out, "Unit\n          1 ", 1);
  const auto t = numbersAfter(out, "Octupole   1 field = ", 1);
  EXPECT_NEAR(g[0], 1e4 * t[0], 1e-4 * std::fabs(g[0])) << out;
}

TEST_F(CramSession, RefusesWhatItCannotCorrect) {
  const std::string none = run("DATA triplet\nCRAM\n");
  EXPECT_NE(none.find("%CRAMER- Insufficient Octupoles for correction,"), std::string::npos);
  EXPECT_NE(none.find("at least 3 are required, you have only  0"), std::string::npos);

  writeOctTriplet("elec.tav", 18, 0.02, 10.0);
  const std::string elec = run("DATA elec\nCRAM\n");
  EXPECT_NE(elec.find("you have only  0"), std::string::npos) << elec;

  // Octupoles without length have no effect: the determinant is zero and
  // the table keeps its fields.
  writeOctTriplet("flat.tav", 8, 0.0, 0.01);
  const std::string flat = run("DATA flat\nCRAM\nPTF\n\n\n\n\n\n\n");
  EXPECT_NE(flat.find("%CRAMER-Determinant of coefficient matrix zero, system"), std::string::npos);
  EXPECT_NE(flat.find("%CRAMER-cannot be corrected with octupoles."), std::string::npos);
  EXPECT_EQ(flat.find("Required corrections;"), std::string::npos);
  EXPECT_NE(flat.find("Octupole   3 field =     0.01000 Tesla"), std::string::npos) << flat;

  // Four octupoles: the first three are used, the fourth is untouched.
  writeOctTriplet("four.tav", 8, 0.02, 0.0, 1, 1.007276, 3.0, true);
  const std::string four = run("DATA four\nCRAM\nPTF\n\n\n\n\n\n\n\n");
  EXPECT_NE(four.find("%CRAMER - FIRST 3/4 OF AVAILABLE OCTUPOLES USED."), std::string::npos);
  EXPECT_NE(four.find("Octupole   4 field =     0.00100 Tesla"), std::string::npos) << four;
}

TEST_F(CramSession, FishkovaFormulaForOneQuadrupole) {
  writeSystem("one.tav", "One quadrupole",
              {{0, 1, 1.007276, 3.0, -1}, {1, 0, 0.01, 0, 0.01, 0}, {3, 1.0, 0, 0},
               {4, 0.1, 0.1, 0.01}, {3, 0.5, 0, 0}, {9, 0, 0, 0}});
  const std::string out = run("DATA one\nFISHK\nVECTOR 1\nVECTOR -4\n");
  const double len = 0.1, k = std::sqrt(Proton().qep() * 0.1 / 0.01);
  const double fx = 1.0 / (k * std::sin(k * len)), fy = -1.0 / (k * std::sinh(k * len));
  const double z1 = 1.05, z4 = std::pow(z1, 4);
  const double p = z4 / (3 * fx * fx * len), sv = -z4 / (fx * len * fy);
  const auto gp = numbersAfter(out, "P  = ", 1), gs = numbersAfter(out, "S  = ", 1);
  EXPECT_NEAR(gp[0], p, 5e-5 * p) << out;
  EXPECT_NEAR(gs[0], sv, 5e-5 * std::fabs(sv));
  const auto gpb = numbersAfter(out, "PB = ", 1);
  EXPECT_NEAR(gpb[0], z4 / (3 * fy * fy * len), 5e-5 * gpb[0]);
  EXPECT_EQ(out.find("antisymmetric"), std::string::npos);
  EXPECT_NE(out.find("Hawkes' coefficients: "), std::string::npos);
  // VECTOR -4 adds Mx (P theta^3 + S theta phi^2) to the first-order image.
  const auto mx = numbersAfter(out, "X/X     =", 1);
  const auto x1 = numbersAfter(out, "X         ", 3, 0), x4 = numbersAfter(out, "X         ", 3, 1);
  const double t = 0.01;
  EXPECT_NEAR(x4[1] - x1[1], mx[0] * (gp[0] + gs[0]) * t * t * t * 1e6, 1e-3 * std::fabs(x4[1] - x1[1]))
      << out;
  EXPECT_NE(out.find("First order and Fishk spherical aberraions only."), std::string::npos);
}

TEST_F(CramSession, FishkHandsObjectSideValuesToTheCorrection) {
  const std::string out = run("DATA triplet_oct\nFISHK\nTHIRD\nFISHK\n");
  const auto p = numbersAfter(out, "P  = ", 1), pb = numbersAfter(out, "PB = ", 1);
  // The octupoles now cancel FISHK's own P and PB (object side, m/rad^3).
  const auto oct = numbersAfter(out, "SB\n System     ", 4, 0);
  const auto octs = numbersAfter(out, " Octupoles  ", 4);
  EXPECT_NEAR(octs[0], -p[0], 5e-5 * p[0]) << out;
  EXPECT_NEAR(octs[2], -pb[0], 5e-5 * pb[0]);
  EXPECT_NE(out.find("Required corrections;"), std::string::npos);
  (void)oct;

  // Quadruplet: the antisymmetry line; no quadrupole: zero coefficients.
  const std::string q4 = run("DATA quadruplet\nFISHK\n");
  EXPECT_NE(q4.find("% an antisymmetric quadruplet."), std::string::npos) << q4;
  writeSystem("empty.tav", "Drift only",
              {{0, 1, 1.007276, 3.0, -1}, {1, 1e-5, 2e-4, 1e-5, 2e-4, 0.01}, {3, 1.0, 0, 0}, {9, 0, 0, 0}});
  const std::string e = run("DATA empty\nFISHK\nVECTOR -4\n");
  EXPECT_NE(e.find("%FISHK- No quadrupoles in the system; their coefficients are zero."),
            std::string::npos);
  // VECTOR -4 then shows the first-order image: 10 um + 1 m x 0.2 mrad.
  const auto x = numbersAfter(e, "X         ", 3);
  EXPECT_NEAR(x[1], 210.0, 1e-9) << e;
  EXPECT_NE(e.find("First order and Fishk spherical aberraions only."), std::string::npos);
}

}  // namespace
