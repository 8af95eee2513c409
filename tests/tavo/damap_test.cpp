// The truncated power-series algebra: identities that hold exactly to the
// truncation order, the order itself, and the field-free map.
#include <gtest/gtest.h>

#include <cmath>

#include "tavo/series/damap.h"
#include "tavo/exact/exact.h"

namespace {

using tavo::da::Exps;
using tavo::da::Poly;
using tavo::da::Space;

// A series with every monomial present and a positive constant.
Poly busy(const Space& sp) {
  Poly p(sp, 1.3);
  for (int m = 1; m < sp.size(); ++m) p[m] = std::sin(0.7 * m + 0.2) * 0.4;
  return p;
}

TEST(PowerSeries, MonomialCountsAndTruncation) {
  // C(n + v, v) monomials of degree <= n in v variables.
  EXPECT_EQ(Space(4, 3).size(), 35);
  EXPECT_EQ(Space(5, 5).size(), 252);
  EXPECT_EQ(Space(5, 7).size(), 792);
  Space s5(4, 5), s7(4, 7);
  // x^3 theta^3 is of degree 6: gone at order 5, kept at order 7.
  Poly a5 = tavo::da::pow(Poly::var(s5, 0), 3) * tavo::da::pow(Poly::var(s5, 1), 3);
  EXPECT_EQ(a5.norm(), 0.0);
  Poly a7 = tavo::da::pow(Poly::var(s7, 0), 3) * tavo::da::pow(Poly::var(s7, 1), 3);
  EXPECT_EQ(a7.coef(Exps{3, 3, 0, 0, 0}), 1.0);
  EXPECT_EQ(s5.index(Exps{3, 3, 0, 0, 0}), -1);
  // (1 + x)^5 binomial coefficients.
  Poly b = tavo::da::pow(Poly::var(s5, 0, 1.0), 5);
  const double binom[6] = {1, 5, 10, 10, 5, 1};
  for (int k = 0; k <= 5; ++k) EXPECT_EQ(b.coef(Exps{k, 0, 0, 0, 0}), binom[k]);
}

TEST(PowerSeries, SquareRootAndReciprocalIdentities) {
  for (int order : {3, 5, 7}) {
    Space sp(5, order);
    const Poly a = busy(sp);
    const Poly r = tavo::da::sqrt(a);
    const Poly d = r * r - a;
    EXPECT_LT(d.norm(), 1e-13) << "order " << order;
    const Poly one = tavo::da::recip(a) * a - 1.0;
    EXPECT_LT(one.norm(), 1e-13) << "order " << order;
  }
  // sqrt(1 + x) = 1 + x/2 - x^2/8 + x^3/16 - 5x^4/128 + 7x^5/256.
  Space sp(1, 5);
  const Poly r = tavo::da::sqrt(Poly::var(sp, 0, 1.0));
  const double want[6] = {1, 0.5, -0.125, 0.0625, -5.0 / 128, 7.0 / 256};
  for (int k = 0; k <= 5; ++k) EXPECT_DOUBLE_EQ(r.coef(Exps{k}), want[k]);
}

TEST(PowerSeries, CompositionAndEvaluation) {
  Space sp(4, 4);
  const Poly x = Poly::var(sp, 0), t = Poly::var(sp, 1);
  // (x + theta)^2 from x^2 with x -> x + theta.
  const Poly sq = x * x;
  const Poly c = tavo::da::compose(sq, {x + t, t, Poly::var(sp, 2), Poly::var(sp, 3)});
  EXPECT_EQ(c.coef(Exps{2, 0, 0, 0, 0}), 1.0);
  EXPECT_EQ(c.coef(Exps{1, 1, 0, 0, 0}), 2.0);
  EXPECT_EQ(c.coef(Exps{0, 2, 0, 0, 0}), 1.0);
  const double pt[4] = {0.3, -0.2, 0.0, 0.0};
  EXPECT_NEAR(c.eval(pt), 0.01, 1e-15);
}

TEST(PowerSeries, TanhDerivativesAtTheOrigin) {
  // tanh u = u - u^3/3 + 2u^5/15 - 17u^7/315: derivatives 1, -2, 16, -272.
  const auto d = tavo::tanhDerivs(0.0, 7);
  EXPECT_NEAR(d[1], 1.0, 1e-15);
  EXPECT_NEAR(d[3], -2.0, 1e-14);
  EXPECT_NEAR(d[5], 16.0, 1e-13);
  EXPECT_NEAR(d[7], -272.0, 1e-12);
  EXPECT_NEAR(d[2], 0.0, 1e-15);
  // Away from the origin, against a central difference of the next lower one.
  const double u = 0.37, h = 1e-4;
  const auto a = tavo::tanhDerivs(u + h, 4), b = tavo::tanhDerivs(u - h, 4), c = tavo::tanhDerivs(u, 4);
  for (int k = 0; k < 4; ++k) EXPECT_NEAR((a[k] - b[k]) / (2 * h), c[k + 1], 1e-6 * (1 + std::fabs(c[k + 1])));
}

TEST(PowerSeries, FieldFreeMapIsTheExactDrift) {
  // A zero-strength lens makes the integrator step through the region: in
  // slope coordinates a drift is x = x0 + L theta exactly, slopes unchanged,
  // nothing nonlinear.
  tavo::Lattice lat;
  lat.zend = 1.7;
  tavo::FieldLens e;
  e.n = 2;
  e.k = 0.0;
  e.zin = 0.4;
  e.zout = 0.9;
  e.bore = 0.01;
  e.row = e.host = 3;
  lat.lens.push_back(e);
  for (auto model : {tavo::EdgeModel::Hard, tavo::EdgeModel::Soft}) {
    Space sp(4, 3);
    tavo::MapSettings set;
    set.model = model;
    std::vector<Poly> map;
    std::string why;
    ASSERT_TRUE(tavo::systemMap(lat, set, sp, map, why)) << why;
    for (int v = 0; v < 4; ++v) {
      for (int m = 0; m < sp.size(); ++m) {
        double want = 0.0;
        const Exps& ex = sp.exps(m);
        if (sp.degree(m) == 1 && ex[v] == 1) want = 1.0;
        if ((v == 0 || v == 2) && sp.degree(m) == 1 && ex[v + 1] == 1) want = 1.7;
        EXPECT_NEAR(map[v][m], want, 1e-12) << "component " << v << " monomial " << m;
      }
    }
  }
}

}  // namespace
