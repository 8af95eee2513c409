// Excitation coefficients (EXCITE), the coefficient fit (MASK) and the
// objective grid (AGP) in whole sessions.
#include <cmath>

#include "session.h"

using abertest::numbersAfter;

namespace {

class FitSession : public abertest::SessionDir {
 protected:
  // Mask rows for the triplet: Q1 and Q3 tied (group 1), Q2 free (group 2).
  static constexpr const char* kVarMask = "1 4 3 1\n1 6 3 2\n1 8 3 1\n1 0 0 0\n";
  // Targets x/theta and y/phi of the system matrix.
  static constexpr const char* kStigMask = "1 1 2 0\n1 2 4 0\n1 0 0 0\n";
  static std::string matrix(const std::string& out, int k) {
    size_t at = std::string::npos;
    for (int i = 0; i <= k; ++i) at = out.find("System Beam Matrix:", at == std::string::npos ? 0 : at + 1);
    if (at == std::string::npos) return std::string();
    return out.substr(at, out.find("tav>", at) - at);
  }
};

TEST_F(FitSession, ExcitationMovesTheImageAsARaisedFieldDoes) {
  const std::string out = run("DATA triplet\nSMAT\nEXCITE\nSMAT\nEXCITE S\n0\n");
  EXPECT_NE(out.find("Excitation Aberration Coefficients  ( % )"), std::string::npos);
  EXPECT_NE(out.find("Perturbation =     0.500%"), std::string::npos);
  // The table is given back: the matrix after EXCITE is the one before.
  EXPECT_EQ(matrix(out, 0), matrix(out, 1));
  // A reply of 0 to the perturbation prompt uses 0.5 %.
  EXPECT_NE(out.find("Perturbation > "), std::string::npos);
  const auto first = numbersAfter(out, "X/THE 1 = ", 1, 0), again = numbersAfter(out, "X/THE 1 = ", 1, 1);
  EXPECT_EQ(first[0], again[0]);

  // The same shift from a system file with the first lens 0.5 % stronger:
  // the ray of angle 1/(100 x 0.005) = 2 reaches x = 2 A(1,2).
  writeSystem("q1up.tav", "Q1 raised",
              {{0, 1, 1.007276, 3, 0}, {1, 1e-5, 2e-4, 1e-5, 2e-4, 0.01}, {3, 3, 0, 0},
               {4.1, 0.06, 0.129905 * 1.005, 0.006}, {3, 0.05, 0, 0}, {4.02, 0.06, -0.226126, 0.006},
               {3, 0.05, 0, 0}, {4.1, 0.06, 0.129905, 0.006}, {3, 0.2, 0, 0}, {9, 0, 0, 0}});
  const std::string up = run("DATA q1up\nSMAT\n");
  const auto b12 = numbersAfter(up, "B(1,2) =", 1), b34 = numbersAfter(up, "B(3,4) =", 1);
  const auto y1 = numbersAfter(out, "Y/PHE 1 = ", 1);
  EXPECT_NEAR(first[0], 2000.0 * b12[0], 1e-4 * std::fabs(first[0])) << out << up;
  EXPECT_NEAR(y1[0], 2000.0 * b34[0], 1e-4 * std::fabs(y1[0]));
}

TEST_F(FitSession, MaskFitReachesAReachableTarget) {
  const std::string out = run(std::string("DATA triplet\nMASK 1e-10\n") + kVarMask + kStigMask +
                              "SMAT\nPTF\n\n\n\nMASK/F V\n");
  const auto first = numbersAfter(out, "Initial quadrature summed coeff = ", 1);
  const auto last = numbersAfter(out, "Final quadrature summed coeff = ", 1);
  EXPECT_LE(last[0], first[0]) << out;
  EXPECT_LT(last[0], 1e-6) << out;
  EXPECT_NE(out.find("No. of variables =   2"), std::string::npos);
  const auto b12 = numbersAfter(out, "B(1,2) =", 1), b34 = numbersAfter(out, "B(3,4) =", 1);
  EXPECT_LT(std::fabs(b12[0]), 1e-6);
  EXPECT_LT(std::fabs(b34[0]), 1e-6);
  // Tied rows moved together: Q1 and Q3 still carry one field.
  const auto q1 = numbersAfter(out, "Quadrupole 1 field = ", 1), q3 = numbersAfter(out, "Quadrupole 3 field = ", 1);
  EXPECT_EQ(q1[0], q3[0]);
  // MASK/F V reuses the masks and only evaluates: the value of the fit.
  const auto again = numbersAfter(out, "Initial quadrature summed coeff = ", 1, 1);
  EXPECT_NEAR(again[0], last[0], 1e-5 * last[0] + 1e-15);
  EXPECT_EQ(out.find("Call to STEPIT", out.find("MASK/F")), std::string::npos);
}

TEST_F(FitSession, EveryTargetKindEvaluates) {
  // Chromatic, excitation, octupole excitation and third-order targets in
  // one objective; V evaluates it without a fit and leaves the table.
  const std::string out = run(std::string("DATA triplet\nSMAT\nMASK V\n") + kVarMask +
                              "2 1 1 0\n3 2 1 2\n4 1 1 0\n7 1 1 2\n9 1 1 0\n1 0 0 0\nSMAT\n");
  const auto v = numbersAfter(out, "Initial quadrature summed coeff = ", 1);
  EXPECT_GT(v[0], 0.0) << out;
  EXPECT_TRUE(std::isfinite(v[0]));
  EXPECT_EQ(out.find("Call to STEPIT"), std::string::npos);
  EXPECT_EQ(matrix(out, 0), matrix(out, 1));
}

TEST_F(FitSession, AgpWritesTheObjectiveOverAGrid) {
  const std::string three = run("DATA triplet\nAGP\n1 4 3 1\n1 6 3 2\n1 8 3 3\n1 0 0 0\n");
  EXPECT_NE(three.find(" No. of variables =   3"), std::string::npos);
  EXPECT_EQ(three.find("Minimun and maximum values"), std::string::npos);

  const std::string out = run(std::string("DATA triplet\nSMAT\nAGP\n") + kVarMask + kStigMask +
                              "0.12 0.14\n-0.23 -0.22\n10000 10000\n2 3\ngrid.agp\nSMAT\n");
  EXPECT_NE(out.find("Central value of variable  1 is "), std::string::npos);
  EXPECT_NE(out.find("%AGP- At most 1000000 points."), std::string::npos);
  EXPECT_NE(out.find("6 points generated total."), std::string::npos) << out;
  auto l = lines("grid.agp");
  ASSERT_EQ(l.size(), 9u);
  EXPECT_EQ(l[1], "X");
  EXPECT_EQ(l[2], "Y");
  double a, b, c;
  ASSERT_EQ(std::sscanf(l[3].c_str(), " %lf , %lf , %lf", &a, &b, &c), 3);
  EXPECT_DOUBLE_EQ(a, 0.12);
  EXPECT_DOUBLE_EQ(b, -0.23);
  ASSERT_EQ(std::sscanf(l[8].c_str(), " %lf , %lf , %lf", &a, &b, &c), 3);
  EXPECT_DOUBLE_EQ(a, 0.13);
  EXPECT_NEAR(b, -0.23 + 2 * 0.01 / 3, 1e-5);
  EXPECT_GT(c, 0.0);
  // The fields are given back after the grid.
  EXPECT_EQ(matrix(out, 0), matrix(out, 1));

  // A grid of 0 points is 30 x 30; an existing file is refused.
  const std::string zero = run(std::string("DATA triplet\nAGP\n") + kVarMask + kStigMask +
                               "0.12 0.14\n-0.23 -0.22\n0 0\ngrid.agp\ngrid30.agp\n");
  EXPECT_NE(zero.find("Unable to open grid.agp"), std::string::npos);
  EXPECT_NE(zero.find("900 points generated total."), std::string::npos);
  EXPECT_EQ(lines("grid30.agp").size(), 903u);
}

}  // namespace
