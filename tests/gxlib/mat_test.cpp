// The fixed-size matrix and its solver: the index convention the optics
// writes (from 1, column by column), determinants and linear solves of
// systems whose answers are known by hand.
#include "gxlib/mat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using gx::Mat;
using gx::Vec;

// A thin lens of focal length f followed by a drift d, in (x, theta) of
// both planes: a transfer matrix of unit determinant in each plane.
Mat<4, 4> lensThenDrift(double f, double d) {
  Mat<4, 4> m;
  for (int p : {1, 3}) {
    m(p, p) = 1.0 - d / f;
    m(p, p + 1) = d;
    m(p + 1, p) = -1.0 / f;
    m(p + 1, p + 1) = 1.0;
  }
  return m;
}

TEST(Mat, EntriesAreNumberedFromOneAndStoredColumnByColumn) {
  Mat<2, 3> m;
  m(2, 1) = 21.0;
  m(1, 2) = 12.0;
  m(2, 3) = 23.0;
  EXPECT_EQ(m.a[1], 21.0);   // down the first column
  EXPECT_EQ(m.a[2], 12.0);   // top of the second
  EXPECT_EQ(m.a[5], 23.0);   // last entry
  EXPECT_EQ(m(1, 1), 0.0);   // zero until set

  Vec<3> v;
  v(3) = 7.0;
  EXPECT_EQ(v.a[2], 7.0);
  EXPECT_EQ(v(3, 1), 7.0);

  const Mat<3, 3> one = Mat<3, 3>::identity();
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 3; ++c) EXPECT_EQ(one(r, c), r == c ? 1.0 : 0.0);
  Mat<3, 3> filled;
  filled.fill(2.5);
  EXPECT_EQ(filled(3, 2), 2.5);
  EXPECT_FALSE(filled == one);
}

TEST(Mat, DeterminantOfKnownMatrices) {
  EXPECT_EQ(gx::det(Mat<3, 3>::identity()), 1.0);
  // Unimodular: det = 2*1 - 1*1 = 1 in the upper block, times 1.
  Mat<3, 3> u;
  u(1, 1) = 2.0, u(1, 2) = 1.0, u(2, 1) = 1.0, u(2, 2) = 1.0, u(3, 3) = 1.0;
  EXPECT_EQ(gx::det(u), 1.0);
  // Triangular: the product of the diagonal.
  Mat<3, 3> t;
  t(1, 1) = 2.0, t(1, 2) = 5.0, t(1, 3) = -7.0, t(2, 2) = 3.0, t(2, 3) = 11.0, t(3, 3) = -4.0;
  EXPECT_EQ(gx::det(t), -24.0);
  // Exchanging two rows changes the sign.
  Mat<3, 3> s = t;
  for (int c = 1; c <= 3; ++c) std::swap(s(2, c), s(3, c));
  EXPECT_EQ(gx::det(s), 24.0);
}

TEST(MatSolve, KnownSystemsAreSolved) {
  // 2x + y - z = 8, -3x - y + 2z = -11, -2x + y + 2z = -3: x = 2, y = 3, z = -1.
  Mat<3, 3> m;
  m(1, 1) = 2, m(1, 2) = 1, m(1, 3) = -1;
  m(2, 1) = -3, m(2, 2) = -1, m(2, 3) = 2;
  m(3, 1) = -2, m(3, 2) = 1, m(3, 3) = 2;
  Vec<3> x;
  ASSERT_TRUE(gx::solve(m, Vec<3>{{8, -11, -3}}, x));
  EXPECT_NEAR(x(1), 2.0, 1e-14);
  EXPECT_NEAR(x(2), 3.0, 1e-14);
  EXPECT_NEAR(x(3), -1.0, 1e-14);

  // A zero first pivot needs a row exchange: y = 2, x = 3.
  Mat<2, 2> swap;
  swap(1, 2) = 1.0;
  swap(2, 1) = 1.0;
  Vec<2> xy;
  ASSERT_TRUE(gx::solve(swap, Vec<2>{{2, 3}}, xy));
  EXPECT_EQ(xy(1), 3.0);
  EXPECT_EQ(xy(2), 2.0);
}

TEST(MatSolve, TracingARayBackThroughATransferMatrix) {
  // The ray that leaves lens-then-drift at y is the solution of M x = y;
  // carrying it forward again gives y back.
  const Mat<4, 4> m = lensThenDrift(0.25, 0.4);
  const Vec<4> in{{1e-6, 2e-3, -3e-6, 5e-4}};
  Vec<4> out;
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 4; ++c) out(r) += m(r, c) * in(c);
  Vec<4> back;
  ASSERT_TRUE(gx::solve(m, out, back));
  for (int i = 1; i <= 4; ++i) EXPECT_NEAR(back(i), in(i), 1e-15) << i;
}

TEST(MatSolve, UnknownsOfVeryDifferentSizeAreFound) {
  // x = 1e12, y = 1e-9: the columns are scaled before pivoting, so neither
  // unknown is lost against the other.
  Mat<2, 2> m;
  m(1, 1) = 1e-12, m(1, 2) = 1e9;
  m(2, 1) = 2e-12, m(2, 2) = -1e9;
  Vec<2> x;
  ASSERT_TRUE(gx::solve(m, Vec<2>{{2.0, 1.0}}, x));
  EXPECT_NEAR(x(1), 1e12, 1e-3);
  EXPECT_NEAR(x(2), 1e-9, 1e-24);
}

TEST(MatSolve, SingularSystemsAreRefused) {
  // The third row is the sum of the first two.
  Mat<3, 3> m;
  m(1, 1) = 1, m(1, 2) = 2, m(1, 3) = 3;
  m(2, 1) = 4, m(2, 2) = 5, m(2, 3) = 6;
  m(3, 1) = 5, m(3, 2) = 7, m(3, 3) = 9;
  EXPECT_EQ(gx::det(m), 0.0);
  Vec<3> x;
  EXPECT_FALSE(gx::solve(m, Vec<3>{{1, 2, 3}}, x));

  // A column of zeros: that unknown does not act at all.
  Mat<3, 3> z = Mat<3, 3>::identity();
  z(2, 2) = 0.0;
  EXPECT_FALSE(gx::solve(z, Vec<3>{{1, 1, 1}}, x));

  // A matrix that is not finite has no solution to give.
  Mat<3, 3> n = Mat<3, 3>::identity();
  n(3, 1) = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(gx::solve(n, Vec<3>{{1, 1, 1}}, x));
}

TEST(MatSolve, ThePivotToleranceIsRelative) {
  // Rows equal but for 1e-14 of their size: singular against the default
  // tolerance, solvable when only an exact zero pivot is refused.
  Mat<2, 2> m;
  m(1, 1) = 1e6, m(1, 2) = 1e6;
  m(2, 1) = 1e6, m(2, 2) = 1e6 * (1.0 + 1e-14);
  Vec<2> x;
  EXPECT_FALSE(gx::solve(m, Vec<2>{{1.0, 1.0}}, x));
  ASSERT_TRUE(gx::solve(m, Vec<2>{{2e6, 2e6 * (1.0 + 0.5e-14)}}, x, 0.0));
  EXPECT_NEAR(x(1) + x(2), 2.0, 1e-6);
}

}  // namespace
