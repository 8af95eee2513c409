// Second-order transfer matrices of single elements: the drift, the
// sextupole and its strength.
#include <gtest/gtest.h>

#include <cmath>

#include "aber_numeric.h"
#include "tavo/aber/aber.h"

using abertest::Session;
using tavo::Mat14;
using tavo::Mat4;

namespace {

Mat4 driftOf(double len) {
  Mat4 m = Mat4::identity();
  m(1, 2) = m(3, 4) = len;
  return m;
}

void setSextupole(Session& t, int row, double code, double len, double b3, double rad) {
  t.s.bdata(row, 1) = code;
  t.s.bdata(row, 2) = len;
  t.s.bdata(row, 3) = b3;
  t.s.bdata(row, 4) = rad;
}

}  // namespace

TEST(AberSecond, DriftCarriesMonomialsWithoutTermsOfItsOwn) {
  Session t;
  const double len = 0.7;
  t.s.bdata(3, 1) = 3.0;
  t.s.bdata(3, 2) = len;
  Mat14 sm;
  tavo::second(t.s, 3, driftOf(len), sm);
  EXPECT_DOUBLE_EQ(sm(1, 2), len);
  EXPECT_DOUBLE_EQ(sm(3, 4), len);
  EXPECT_DOUBLE_EQ(sm(1, 1), 1.0);
  // x'^2 = (x + L t)^2 = x^2 + 2L x t + L^2 t^2
  EXPECT_DOUBLE_EQ(sm(5, 5), 1.0);
  EXPECT_DOUBLE_EQ(sm(5, 6), 2.0 * len);
  EXPECT_DOUBLE_EQ(sm(5, 9), len * len);
  // x' t' = x t + L t^2; y'^2 gets L^2 phi^2
  EXPECT_DOUBLE_EQ(sm(6, 9), len);
  EXPECT_DOUBLE_EQ(sm(12, 14), len * len);
  for (int r = 1; r <= 4; ++r)
    for (int c = 5; c <= 14; ++c) EXPECT_EQ(sm(r, c), 0.0) << r << "," << c;
  for (int r = 5; r <= 14; ++r)
    for (int c = 1; c <= 4; ++c) EXPECT_EQ(sm(r, c), 0.0) << r << "," << c;
}

TEST(AberSecond, SextupoleWithoutFieldIsADrift) {
  Session a, b;
  const double len = 0.12;
  setSextupole(a, 3, 6.0, len, 0.0, 0.01);
  b.s.bdata(3, 1) = 3.0;
  b.s.bdata(3, 2) = len;
  Mat14 sa, sb;
  tavo::second(a.s, 3, driftOf(len), sa);
  tavo::second(b.s, 3, driftOf(len), sb);
  for (int k = 0; k < 196; ++k) EXPECT_EQ(sa.a[k], sb.a[k]) << k;
}

TEST(AberSecond, QuadrupoleWithoutSextupoleHasOnlyFirstOrderPart) {
  Session t;
  t.s.bdata(3, 1) = 4.0;
  t.s.bdata(3, 2) = 0.1;
  t.s.bdata(3, 3) = 0.3;
  t.s.bdata(3, 4) = 0.01;
  t.s.bdata(4, 1) = 9.0;
  Mat4 m = Mat4::identity();
  m(1, 1) = m(2, 2) = 0.9;
  m(2, 1) = -1.9;
  m(1, 2) = 0.1;
  Mat14 sm, ref;
  tavo::second(t.s, 3, m, sm);
  tavo::bsqsub(m, ref);
  for (int k = 0; k < 196; ++k) EXPECT_EQ(sm.a[k], ref.a[k]) << k;
}

TEST(AberSecond, ZeroRadiusSextupoleKeepsOnlyItsFirstOrderPart) {
  Session t;
  setSextupole(t, 3, 6.0, 0.1, 0.2, 0.0);
  Mat14 sm;
  tavo::second(t.s, 3, driftOf(0.1), sm);
  EXPECT_NE(t.out.str().find("Zero radius second order element at   3"), std::string::npos)
      << t.out.str();
  for (int r = 1; r <= 4; ++r)
    for (int c = 5; c <= 14; ++c) EXPECT_EQ(sm(r, c), 0.0);
  EXPECT_DOUBLE_EQ(sm(5, 9), 0.01);
}

TEST(AberSecond, SextupoleSuperimposedOnAQuadrupoleActsThroughTheHost) {
  Session host, alone;
  host.s.bdata(3, 1) = 4.0;
  host.s.bdata(3, 2) = 0.1;
  host.s.bdata(3, 3) = 0.3;
  host.s.bdata(3, 4) = 0.01;
  setSextupole(host, 4, 26.0, 0.1, -0.05, 0.012);
  host.s.bdata(5, 1) = 9.0;
  setSextupole(alone, 3, 6.0, 0.1, -0.05, 0.012);
  Mat14 sh, sa;
  tavo::second(host.s, 3, Mat4::identity(), sh);
  tavo::second(alone.s, 3, Mat4::identity(), sa);
  for (int r = 1; r <= 4; ++r)
    for (int c = 5; c <= 14; ++c) EXPECT_DOUBLE_EQ(sh(r, c), sa(r, c)) << r << "," << c;
  EXPECT_GT(sh(1, 5), 0.0);   // a negative field turns the x^2 term positive
  // Column 8 of the sextupole row: k_s = sqrt((Qe/p) |B3| / a^2).
  const double ks = std::sqrt(host.qep() * 0.05 / (0.012 * 0.012));
  EXPECT_NEAR(host.s.bdata(4, 8), ks, 1e-9 * ks);
}

TEST(AberSecond, StrengthFollowsTheChargeAndTheKineticEnergy) {
  // Same kinetic energy, twice the charge: the magnetic strength Q e/p doubles.
  Session one(1.0), two(2.0);
  setSextupole(one, 3, 6.0, 0.1, 0.08, 0.01);
  setSextupole(two, 3, 6.0, 0.1, 0.08, 0.01);
  Mat14 s1, s2;
  tavo::second(one.s, 3, driftOf(0.1), s1);
  tavo::second(two.s, 3, driftOf(0.1), s2);
  EXPECT_NEAR(s2(1, 5), 2.0 * s1(1, 5), 1e-12 * std::fabs(s1(1, 5)));

  // Electric sextupole: k^2 = Q |V| / (a^3 T), T in eV.
  Session e(2.0);
  setSextupole(e, 3, 16.0, 0.1, 1500.0, 0.01);
  Mat14 se;
  tavo::second(e.s, 3, driftOf(0.1), se);
  const double k2 = 2.0 * 1500.0 / (1e-6 * 3.0e6);
  EXPECT_NEAR(e.s.bdata(3, 8), std::sqrt(k2), 1e-12 * std::sqrt(k2));
  EXPECT_NEAR(se(4, 7), 2.0 * k2 * 0.1, 1e-12 * k2);
}
