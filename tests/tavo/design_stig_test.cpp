// The astigmatism fit STIG, its prompt and SPEC in whole sessions.
#include <cmath>

#include "session.h"

using abertest::numbersAfter;

namespace {

class StigSession : public abertest::SessionDir {
 protected:
  const std::vector<double> particle = {0.0, 1.0, 1.007276, 3.0, -1.0};
  const std::vector<double> beam = {1.0, 1e-5, 2e-4, 1e-5, 2e-4, 0.01};
  // The example triplet with its fields a few per cent off.
  void writeDetuned() {
    writeSystem("detuned.tav", "Detuned triplet",
                {particle, beam, {3, 3.0, 0, 0}, {4.1, 0.06, 0.125, 0.006}, {3, 0.05, 0, 0},
                 {4.02, 0.06, -0.22, 0.006}, {3, 0.05, 0, 0}, {4.1, 0.06, 0.125, 0.006},
                 {3, 0.2, 0, 0}, {9, 0, 0, 0}});
  }
};

TEST_F(StigSession, MakesTheTripletStigmatic) {
  writeDetuned();
  const std::string out = run("DATA detuned\nSTIG\nS\n");
  const auto before = numbersAfter(out, "Initial combined astigmatism = ", 1);
  EXPECT_GT(before[0], 1e-3) << out;
  const auto x = numbersAfter(out, "After minimisation  (X/TH) = ", 1);
  const auto y = numbersAfter(out, "(Y/PH) = ", 1, 2);
  EXPECT_LT(std::fabs(x[0]), 1e-6) << out;
  EXPECT_LT(std::fabs(y[0]), 1e-6) << out;
  // The fields found are in the table: S shows the same.
  const auto sx = numbersAfter(out, "Astigmatism    (X/TH) = ", 1, 1);
  EXPECT_DOUBLE_EQ(sx[0], x[0]);
  // Progress: calls 1 to 10, then every tenth.
  EXPECT_NE(out.find(" Call to STEPIT: NV=           2"), std::string::npos);
  EXPECT_NE(out.find("\n  10 "), std::string::npos);
  EXPECT_EQ(out.find("\n  11 "), std::string::npos);
  EXPECT_NE(out.find("\n  20 "), std::string::npos);
  EXPECT_NE(out.find("(N)  Comb. Astg.  - FIELDS ( 2)............"), std::string::npos);
}

TEST_F(StigSession, OnePlaneOnlyAndNoVariables) {
  writeDetuned();
  const std::string out = run("DATA detuned\nSTIG/X\n");
  const auto x = numbersAfter(out, "After minimisation  (X/TH) = ", 1);
  const auto y = numbersAfter(out, "(Y/PH) = ", 1, 1);
  EXPECT_LT(std::fabs(x[0]), 1e-6) << out;
  // The y plane is not part of the objective: it stays far from stigmatic.
  EXPECT_GT(std::fabs(y[0]), 1e-5) << out;

  writeSystem("fixed.tav", "No coupling",
              {particle, beam, {3, 1.0, 0, 0}, {4, 0.06, 0.2, 0.006}, {3, 0.5, 0, 0}, {9, 0, 0, 0}});
  const std::string none = run("DATA fixed\nSTIG\nPTF\n\n");
  EXPECT_NE(none.find("No variable first order elements."), std::string::npos);
  EXPECT_EQ(none.find("Call to STEPIT"), std::string::npos);
  EXPECT_NE(none.find("field =     0.20000 Tesla"), std::string::npos) << none;
}

TEST_F(StigSession, PromptShowsAstigmatismBelowLevelMinusOne) {
  writeDetuned();
  const std::string out = run("DATA detuned\nDIAG -2\nSTIG\nDIAG -1\n");
  // Astigmatic: "sti>"; after the fit the combined value is below 1e-4.
  const size_t fit = out.find("Call to STEPIT");
  ASSERT_NE(fit, std::string::npos);
  EXPECT_NE(out.rfind("sti> ", fit), std::string::npos) << out;
  EXPECT_NE(out.find("tav> ", fit), std::string::npos);
}

TEST_F(StigSession, SpecWritesTheAstigmatismAlongZ) {
  const std::string out = run("DATA triplet\nSMAT\nSPEC astig.dat\n0 0 10\n");
  EXPECT_NE(out.find("Generate a file of (Z, Astig) ordered pairs."), std::string::npos);
  auto l = lines("astig.dat");
  // Z final not above Z initial: the whole system, 11 points.
  ASSERT_EQ(l.size(), 11u) << out;
  double z, a;
  ASSERT_EQ(std::sscanf(l[1].c_str(), " %lf , %lf", &z, &a), 2);
  // In the first drift both images lie at the object: no astigmatism.
  EXPECT_DOUBLE_EQ(z, 0.348);
  EXPECT_EQ(a, 0.0);
  ASSERT_EQ(std::sscanf(l[10].c_str(), " %lf , %lf", &z, &a), 2);
  EXPECT_DOUBLE_EQ(z, 3.48);
  // At the end: A(3,4)/A(4,4) - A(1,2)/A(2,2) of the whole system.
  const auto b12 = numbersAfter(out, "B(1,2) =", 1), b22 = numbersAfter(out, "B(2,2) =", 1);
  const auto b34 = numbersAfter(out, "B(3,4) =", 1), b44 = numbersAfter(out, "B(4,4) =", 1);
  EXPECT_NEAR(a, b34[0] / b44[0] - b12[0] / b22[0], 1e-10);

  // An existing name is refused and asked again; a blank name ends.
  const std::string again = run("DATA triplet\nSPEC astig.dat\n\n");
  EXPECT_NE(again.find("Unable to open astig.dat"), std::string::npos);
  EXPECT_NE(again.find("Filename for output > "), std::string::npos);
  EXPECT_EQ(lines("astig.dat").size(), 11u);
}

}  // namespace
