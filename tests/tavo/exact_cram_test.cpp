// EXACT/C: the octupole correction against the soft-edged field map in
// whole sessions on the separated triplet with three octupoles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "session.h"

namespace {

class ExactCram : public abertest::SessionDir {
 protected:
  void SetUp() override {
    abertest::SessionDir::SetUp();
    std::filesystem::copy_file(std::filesystem::path(TK_SOURCE_DIR) / "examples" / "triplet_oct.tav", dir_ / "triplet_oct.tav");
  }
};

struct Result {
  double before[3], after[3];
  double field[3], change[3];
};

// The k-th (0-based) correction listing of a session.
Result result(const std::string& out, int k) {
  Result r{};
  size_t at = std::string::npos;
  for (int n = 0; n <= k; ++n) {
    at = out.find("Octupole correction against", at == std::string::npos ? 0 : at + 1);
    if (at == std::string::npos) {
      ADD_FAILURE() << "no listing " << k << "\n" << out;
      return r;
    }
  }
  const std::string listing = out.substr(at);
  const char* labels[3] = {" (X/T3)", " (Y/P3)", " [(X/TP2)+(Y/PT2)]/2"};
  for (int i = 0; i < 3; ++i) {
    const auto v = abertest::numbersAfter(listing, labels[i], 2);
    r.before[i] = v[0];
    r.after[i] = v[1];
  }
  at = out.find("Field before", at);
  at = out.find('\n', at);
  for (int j = 0; j < 3; ++j) {
    int n = 0, row = 0;
    double b = 0, a = 0, d = 0;
    EXPECT_EQ(std::sscanf(out.c_str() + at + 1, "%d %d %lf %lf %lf", &n, &row, &b, &a, &d), 5) << out;
    EXPECT_EQ(n, j + 1);
    r.field[j] = a;
    r.change[j] = d;
    // Six significant figures are printed.
    EXPECT_NEAR(a - b, d, 2e-6 * (std::fabs(a) + std::fabs(b)) + 1e-15);
    at = out.find('\n', at + 1);
  }
  return r;
}

}  // namespace

TEST_F(ExactCram, CancelsTheSoftEdgeApertureAndMixedTermsAndIsLinear) {
  const std::string out =
      run("DIAG -1\nDATA triplet_oct\nEXACT\nEXACT/C\nEXACT/C\nEXACT\nEXIT\n");
  const Result first = result(out, 0), second = result(out, 1);
  // The uncorrected triplet: the targets are what EXACT lists in its soft-edge
  // column, and they are large (hundreds of micron/mrad^3 for a probe line).
  const size_t sys = out.find(" System");
  ASSERT_NE(sys, std::string::npos);
  const auto listed = abertest::numbersAfter(out.substr(sys), "(X/T3)", 3);
  EXPECT_NEAR(first.before[0], listed[2], 1e-5 * std::fabs(listed[2]));
  for (int i = 0; i < 3; ++i) {
    EXPECT_GT(std::fabs(first.before[i]), 1.0) << i;
    // Third order is linear in the octupole strengths: one solve cancels it.
    EXPECT_LT(std::fabs(first.after[i]), 1e-3 * std::fabs(first.before[i])) << i;
    EXPECT_NE(first.change[i], 0.0);
    // A second application starts from the corrected system and finds almost
    // nothing left to do.
    EXPECT_NEAR(second.before[i], first.after[i], 1e-6 * std::fabs(first.before[i]) + 1e-9);
    EXPECT_LT(std::fabs(second.change[i]), 1e-4 * std::fabs(first.change[i])) << i;
    EXPECT_NEAR(second.field[i], first.field[i], 1e-4 * std::fabs(first.change[i]));
  }
  // The fields are kept: EXACT afterwards lists the corrected soft-edge term.
  const size_t sys2 = out.rfind(" System");
  const auto again = abertest::numbersAfter(out.substr(sys2), "(X/T3)", 3);
  EXPECT_LT(std::fabs(again[2]), 1e-3 * std::fabs(first.before[0]));
}

TEST_F(ExactCram, FieldsDoNotDependOnWhereTheCorrectionStarts) {
  // Linear response: correcting the uncorrected system and the system CRAM
  // has already corrected in the closed-form model ends at the same fields.
  const Result plain = result(run("DIAG -1\nDATA triplet_oct\nEXACT/C\nEXIT\n"), 0);
  const std::string out = run("DIAG -1\nDATA triplet_oct\nCRAM\nEXACT/C\nEXIT\n");
  const Result cram = result(out, 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(cram.field[i], plain.field[i], 1e-4 * std::fabs(plain.field[i])) << i;
    // The closed-form correction is close to the soft-edge one but not it.
    EXPECT_NE(cram.change[i], 0.0);
    EXPECT_LT(std::fabs(cram.after[i]), 1e-3 * std::fabs(plain.before[i])) << i;
  }
}

TEST_F(ExactCram, TooFewOctupolesChangeNothing) {
  const std::string out = run("DIAG -1\nDATA triplet\nEXACT/C\nEXACT\nEXIT\n");
  EXPECT_NE(out.find("?EXACT- The correction needs 3 magnetic octupoles, the system has 0: no "
                     "fields changed."),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("Field before"), std::string::npos);
}

TEST_F(ExactCram, OctupolesInOneDriftCannotSeparateTheTermsAndChangeNothing) {
  // Where the rays are straight lines from the object every octupole weighs
  // the three terms alike (all go as the integral of K z^4): rank one.
  {
    std::ofstream f("drift_oct.tav");
    f << " Three octupoles in a drift\n"
         "  0.00, 1.0, 1.007276, 3.0, 0.0\n"
         "  1.00, 0.00001, 0.0002, 0.00001, 0.0002, 0.01\n"
         "  3.00, 0.5, 0.0, 0.0\n  8.00, 0.02, 0.1, 0.006\n"
         "  3.00, 0.1, 0.0, 0.0\n  8.00, 0.02, 0.1, 0.006\n"
         "  3.00, 0.1, 0.0, 0.0\n  8.00, 0.02, 0.1, 0.006\n"
         "  3.00, 0.5, 0.0, 0.0\n  9.00, 0.0, 0.0, 0.0\n SENTINEL\n";
  }
  const std::string out = run("DIAG -1\nDATA drift_oct\nEXACT/C\nSAVE drift_after\nEXIT\n");
  EXPECT_NE(out.find("?EXACT- The octupoles cannot correct these terms (singular system): no "
                     "fields changed."),
            std::string::npos)
      << out;
  // The fields are those read.
  std::ifstream g("drift_after.tav");
  std::string line;
  int octupoles = 0;
  while (std::getline(g, line)) {
    std::istringstream in(line);
    double code = 0, len = 0, field = 0;
    char comma = 0;
    if (in >> code >> comma >> len >> comma >> field && std::fabs(code - 8.0) < 1e-9) {
      EXPECT_NEAR(field, 0.1, 1e-9) << line;
      ++octupoles;
    }
  }
  EXPECT_EQ(octupoles, 3);
}
