// The minimiser on standard objectives, through its own interface: the
// storage prepared by setup, an objective that reads X and stores CHISQ.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <vector>

#include "tavo/design/design.h"

namespace {

using tavo::Tavo;

class Stepit : public ::testing::Test {
 protected:
  std::istringstream in;
  std::ostringstream out;
  Tavo s{in, out};
  int calls = 0;
  std::vector<double> lastX;

  void start(std::vector<double> x, double precision) {
    s.blk1.nv = static_cast<int>(x.size());
    for (size_t i = 0; i < x.size(); ++i) s.blk1.x[i + 1] = x[i];
    tavo::setup(s, precision);
  }
  // Wraps a function of X(1..NV) as an objective, counting its calls and
  // remembering the point of the last one.
  tavo::Objective objective(std::function<double(const double*)> f) {
    return [this, f](Tavo& t) {
      ++calls;
      lastX.assign(t.blk1.x.begin() + 1, t.blk1.x.begin() + 1 + t.blk1.nv);
      t.blk2.chisq = f(t.blk1.x.data() + 1);
    };
  }
};

TEST_F(Stepit, QuadraticBowlAndRosenbrockValleyReachTheirMinima) {
  start({0.0, 0.0, 5.0}, 1e-10);
  int n = tavo::stepit(s, objective([](const double* x) {
    return (x[0] - 3) * (x[0] - 3) + 10 * (x[1] + 1) * (x[1] + 1) + 0.5 * (x[2] - 2) * (x[2] - 2);
  }));
  EXPECT_NEAR(s.blk1.x[1], 3.0, 1e-7);
  EXPECT_NEAR(s.blk1.x[2], -1.0, 1e-7);
  EXPECT_NEAR(s.blk1.x[3], 2.0, 1e-7);
  EXPECT_LT(s.blk2.chisq, 1e-12);
  EXPECT_EQ(n, calls);
  EXPECT_NE(out.str().find(" Call to STEPIT: NV=           3"), std::string::npos) << out.str();

  start({-1.2, 1.0}, 1e-10);
  tavo::stepit(s, objective([](const double* x) {
    return 100 * (x[1] - x[0] * x[0]) * (x[1] - x[0] * x[0]) + (1 - x[0]) * (1 - x[0]);
  }));
  EXPECT_NEAR(s.blk1.x[1], 1.0, 1e-6);
  EXPECT_NEAR(s.blk1.x[2], 1.0, 1e-6);
  // The last call was made at the point returned, and CHISQ is its value.
  ASSERT_EQ(lastX.size(), 2u);
  EXPECT_EQ(lastX[0], s.blk1.x[1]);
  EXPECT_EQ(lastX[1], s.blk1.x[2]);
}

TEST_F(Stepit, FlatObjectiveEndsAfterTwoTrialsPerVariable) {
  for (int nv : {1, 3, 7}) {
    start(std::vector<double>(nv, 1.5), 1e-6);
    calls = 0;
    tavo::stepit(s, objective([](const double*) { return 4.0; }));
    EXPECT_EQ(calls, 1 + 2 * nv + 1) << nv;
    EXPECT_EQ(s.blk1.x[1], 1.5);
  }
}

TEST_F(Stepit, DefaultStepsHeldAndBoundedVariables) {
  // X = 0 with no step: the step is 0.01 (single precision) and the minimum
  // step 0.01/2e8 when none is given.
  start({0.0, 2.0}, 0.0);
  s.blk1.delmin[1] = 0.0;
  tavo::stepit(s, objective([](const double* x) { return std::fabs(x[0] - 0.3) + x[1] * x[1]; }));
  EXPECT_EQ(s.blk1.deltx[1], static_cast<double>(0.01f));
  EXPECT_EQ(s.blk1.delmin[1], static_cast<double>(0.01f) / 2.0e8);
  EXPECT_EQ(s.blk1.deltx[2], static_cast<double>(0.01f) * 2.0);
  EXPECT_EQ(s.blk1.xmax[1], static_cast<double>(1.0e20f));
  EXPECT_EQ(s.blk1.xmin[1], -static_cast<double>(1.0e20f));

  // A held variable stays; the other one is fitted.
  start({1.0, 1.0}, 1e-10);
  s.blk1.mask[2] = 1;
  tavo::stepit(s, objective([](const double* x) { return (x[0] - 2) * (x[0] - 2) + x[1] * x[1]; }));
  EXPECT_NEAR(s.blk1.x[1], 2.0, 1e-7);
  EXPECT_EQ(s.blk1.x[2], 1.0);

  // All held: every variable is varied after all.
  start({1.0, 1.0}, 1e-10);
  s.blk1.mask[1] = s.blk1.mask[2] = 1;
  tavo::stepit(s, objective([](const double* x) { return (x[0] - 2) * (x[0] - 2) + x[1] * x[1]; }));
  EXPECT_NEAR(s.blk1.x[1], 2.0, 1e-7);
  EXPECT_NEAR(s.blk1.x[2], 0.0, 1e-7);

  // Bounds keep the trial points inside; the minimum outside is met at the bound.
  start({0.5}, 1e-10);
  s.blk1.xmin[1] = 0.0;
  s.blk1.xmax[1] = 1.0;
  double lo = 1e9, hi = -1e9;
  tavo::stepit(s, objective([&](const double* x) {
    lo = std::min(lo, x[0]);
    hi = std::max(hi, x[0]);
    return (x[0] - 4) * (x[0] - 4);
  }));
  EXPECT_GE(lo, 0.0);
  EXPECT_LE(hi, 1.0);
  EXPECT_NEAR(s.blk1.x[1], 1.0, 1e-7);
}

TEST_F(Stepit, AStepLostInItsVariableCountsAsSettled) {
  // The precision asks for steps of 1e-10 on a value of 1e9: steps below
  // 1e9/2e8 = 5 are lost in the value, so the search ends there.
  start({1.0e9, 1.0}, 1e-10);
  calls = 0;
  tavo::stepit(s, objective([&](const double* x) {
    const double d = (x[0] - 1.0000123e9) * 1e-6;
    return d * d + (x[1] - 3) * (x[1] - 3);
  }));
  EXPECT_NEAR(s.blk1.x[1], 1.0000123e9, 50.0);
  EXPECT_NEAR(s.blk1.x[2], 3.0, 1e-7);
  EXPECT_LT(calls, 5000);
}

TEST_F(Stepit, ObjectivesThatAreNotNumbersStillEnd) {
  // NaN everywhere: nothing is better than the start; the run ends.
  start({1.0, 2.0}, 1e-8);
  calls = 0;
  tavo::stepit(s, objective([](const double*) { return std::numeric_limits<double>::quiet_NaN(); }));
  EXPECT_EQ(calls, 1 + 2 * 2 + 1);
  EXPECT_EQ(s.blk1.x[1], 1.0);
  EXPECT_EQ(s.blk1.x[2], 2.0);

  // Infinite outside a region, finite inside: the minimum inside is found.
  start({0.5}, 1e-10);
  tavo::stepit(s, objective([](const double* x) {
    if (x[0] > 1.0) return std::numeric_limits<double>::infinity();
    if (x[0] < 0.0) return std::numeric_limits<double>::quiet_NaN();
    return (x[0] - 0.9) * (x[0] - 0.9);
  }));
  EXPECT_NEAR(s.blk1.x[1], 0.9, 1e-7);

  // An objective without a lower bound ends at the bound of the variable.
  start({1.0}, 1e-6);
  tavo::stepit(s, objective([](const double* x) { return -x[0]; }));
  EXPECT_LE(s.blk1.x[1], static_cast<double>(1.0e20f));
  EXPECT_GT(s.blk1.x[1], 1e19);
}

}  // namespace
