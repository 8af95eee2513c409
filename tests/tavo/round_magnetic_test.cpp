// Magnetic round lenses against the classical closed forms: Glaser's exact
// paraxial rays of the bell-shaped field (image, magnification, rotation)
// and Scherzer's integrals for the spherical and chromatic aberration, for
// the bell lens and the soft-ended solenoid.
#include <gtest/gtest.h>

#include <cmath>

#include "round_support.h"

namespace {

using roundtest::System;

// 200 keV electrons: relativistic.
constexpr double kMeV = 0.2;
constexpr double kRest = 510998.95;

double kb() { return roundtest::inverseRigidity(1.0, kMeV * 1e6, kRest); }

// Scherzer's integrals along the axial ray (h, h') in the field k(z), k'(z)
// (k = qB/2p) from zo to zi.
struct Scherzer {
  double cs = 0.0, cc = 0.0;
};

Scherzer scherzer(const std::function<void(double, double&, double&, double&, double&)>& ray,
                  double zo, double zi) {
  // ray(z, h, h', k, k')
  auto fs = [&](double z) {
    double h, hp, k, kp;
    ray(z, h, hp, k, kp);
    const double h2 = h * h;
    return 1.5 * k * k * k * k * h2 * h2 + 0.5 * kp * kp * h2 * h2 - 0.5 * k * k * h2 * hp * hp;
  };
  auto fc = [&](double z) {
    double h, hp, k, kp;
    ray(z, h, hp, k, kp);
    return k * k * h * h;
  };
  Scherzer s;
  s.cs = roundtest::simpson(fs, zo, zi, 200000);
  const double t = kMeV * 1e6;
  s.cc = 2.0 * (t + kRest) / (t + 2.0 * kRest) * roundtest::simpson(fc, zo, zi, 200000);
  return s;
}

TEST(RoundMagnetic, BellLensAgainstGlaserAndScherzer) {
  const double a = 0.002, b0 = 1.5, zc = 0.012;
  System sys(1.0, roundtest::kElectronAmu, kMeV,
             {{3.0, zc - 0.002, 0, 0}, {19.0, 0.004, b0, a}, {3.0, 0.06, 0, 0}});
  ASSERT_TRUE(sys.ok) << sys.why;
  const tavo::RoundOptics o = sys.optics();

  // Glaser: z - zc = a cot f, r = v(f)/sin f, v'' + w^2 v = 0, w^2 = 1 + kk^2.
  const double kk = 0.5 * kb() * b0 * a, w = std::sqrt(1.0 + kk * kk);
  const double fo = std::atan2(1.0, (0.0 - zc) / a);
  const double fi = fo - M_PI / w;
  ASSERT_GT(fi, 0.0);
  const double zi = zc + a / std::tan(fi);
  const double m = -std::sin(fo) / std::sin(fi);
  const double theta = -kk * (std::atan((zi - zc) / a) - std::atan((0.0 - zc) / a));
  EXPECT_NEAR(o.zi, zi, 1e-8 * zi);
  EXPECT_NEAR(o.m, m, 1e-8 * std::fabs(m));
  EXPECT_NEAR(o.theta, theta, 1e-8 * std::fabs(theta));
  EXPECT_LT(o.imagCheck, 1e-9);

  // The axial ray in closed form, h'(zo) = 1.
  const double cn = a / (w * std::sin(fo));
  auto ray = [&](double z, double& h, double& hp, double& k, double& kp) {
    const double f = std::atan2(1.0, (z - zc) / a);
    const double s = std::sin(f), c = std::cos(f);
    const double v = std::sin(w * (fo - f)), vf = -w * std::cos(w * (fo - f));
    h = cn * v / s;
    hp = -cn * (vf * s - v * c) / a;
    const double u = (z - zc) / a;
    k = 0.5 * kb() * b0 / (1.0 + u * u);
    kp = -0.5 * kb() * b0 * 2.0 * u / (a * (1.0 + u * u) * (1.0 + u * u));
  };
  const Scherzer ref = scherzer(ray, 0.0, zi);
  EXPECT_NEAR(o.cs, ref.cs, 1e-8 * ref.cs);
  EXPECT_NEAR(o.cc, ref.cc, 1e-8 * ref.cc);
  EXPECT_GT(o.cs, 0.0);   // Scherzer: never negative
  EXPECT_NE(o.c5a, 0.0);  // the magnetic lens's anisotropic fifth order
}

}  // namespace

namespace {

// The axial ray of a field k(z) by the classical Runge-Kutta method in fine
// steps, with Scherzer's integrands and the Larmor angle accumulated by
// Simpson's rule along it; stops at the first crossing (found by the secant
// on the last step).
struct Paraxial {
  double zi = 0, m = 0, theta = 0, cs = 0, cc = 0;
};

Paraxial paraxial(const std::function<void(double, double&, double&)>& kf, double z0, double z1,
                  int n) {
  // State: h, h', g, g' (g the field ray, g(z0) = 1), theta, Scherzer sums.
  using S = std::array<double, 7>;
  auto f = [&](double z, const S& s) {
    double k, kp;
    kf(z, k, kp);
    const double h = s[0], hp = s[1], h2 = h * h;
    return S{hp, -k * k * h, s[3], -k * k * s[2], -k,
             1.5 * k * k * k * k * h2 * h2 + 0.5 * kp * kp * h2 * h2 - 0.5 * k * k * h2 * hp * hp,
             k * k * h2};
  };
  S s{0, 1, 1, 0, 0, 0, 0};
  const double dz = (z1 - z0) / n;
  auto step = [&](double z, S y, double h) {
    const S k1 = f(z, y);
    S t;
    for (int i = 0; i < 7; ++i) t[i] = y[i] + 0.5 * h * k1[i];
    const S k2 = f(z + 0.5 * h, t);
    for (int i = 0; i < 7; ++i) t[i] = y[i] + 0.5 * h * k2[i];
    const S k3 = f(z + 0.5 * h, t);
    for (int i = 0; i < 7; ++i) t[i] = y[i] + h * k3[i];
    const S k4 = f(z + h, t);
    for (int i = 0; i < 7; ++i) y[i] += h / 6 * (k1[i] + 2 * k2[i] + 2 * k3[i] + k4[i]);
    return y;
  };
  Paraxial p;
  for (int i = 0; i < n; ++i) {
    const double z = z0 + i * dz;
    const S next = step(z, s, dz);
    if (i > 0 && next[0] <= 0.0 && s[0] > 0.0) {
      double lo = 0, hi = dz;
      for (int it = 0; it < 200 && hi - lo > 1e-18; ++it) {
        const double mid = 0.5 * (lo + hi);
        (step(z, s, mid)[0] > 0.0 ? lo : hi) = mid;
      }
      const S e = step(z, s, 0.5 * (lo + hi));
      p.zi = z + 0.5 * (lo + hi);
      p.m = e[2];
      p.theta = e[4];
      p.cs = e[5];
      const double t = kMeV * 1e6;
      p.cc = 2.0 * (t + kRest) / (t + 2.0 * kRest) * e[6];
      return p;
    }
    s = next;
  }
  return p;
}

TEST(RoundMagnetic, SoftSolenoidAgainstScherzer) {
  // B(z) = B0/2 [tanh((z-z1)/l) - tanh((z-z2)/l)], l = FRINGE x bore.
  const double b0 = 0.6, len = 0.004, bore = 0.002, fringe = 0.7, zc = 0.02;
  System sys(1.0, roundtest::kElectronAmu, kMeV,
             {{3.0, zc - 0.5 * len, 0, 0}, {11.0, len, b0, bore}, {3.0, 0.1, 0, 0}});
  ASSERT_TRUE(sys.ok) << sys.why;
  sys.t.s.fringe = fringe;
  const tavo::RoundOptics o = sys.optics();
  const double lam = fringe * bore;
  auto kf = [&](double z, double& k, double& kp) {
    const double a = std::tanh((z - zc + 0.5 * len) / lam), b = std::tanh((z - zc - 0.5 * len) / lam);
    k = 0.25 * kb() * b0 * (a - b);
    kp = 0.25 * kb() * b0 * ((1 - a * a) - (1 - b * b)) / lam;
  };
  const Paraxial p = paraxial(kf, 0.0, zc + 0.1, 400000);
  ASSERT_GT(p.zi, 0.0);
  EXPECT_NEAR(o.zi, p.zi, 1e-8 * p.zi);
  EXPECT_NEAR(o.m, p.m, 1e-8 * std::fabs(p.m));
  EXPECT_NEAR(o.theta, p.theta, 1e-8 * std::fabs(p.theta));
  EXPECT_NEAR(o.cs, p.cs, 1e-8 * p.cs);
  EXPECT_NEAR(o.cc, p.cc, 1e-8 * p.cc);
}

TEST(RoundMagnetic, WeakBellLensHasTheThinLensSphericalAberration) {
  // A weak lens seen from far: h = D across the field, so Scherzer's
  // integral reduces to Cs = D^4/2 int k'^2 dz = D^4 pi kk^2 / (8 a^3), and
  // the focal length is 1/int k^2 dz = 2 a / (pi kk^2); object at 2 f. The
  // neglected terms are of relative order kk^2.
  const double a = 0.001, kk = 0.01;
  const double b0 = 2.0 * kk / (kb() * a);
  const double f = 2.0 * a / (M_PI * kk * kk), d = 2.0 * f;
  System sys(1.0, roundtest::kElectronAmu, kMeV,
             {{3.0, d - 0.005, 0, 0}, {19.0, 0.01, b0, a}, {3.0, 0.5, 0, 0}});
  ASSERT_TRUE(sys.ok) << sys.why;
  const tavo::RoundOptics o = sys.optics();
  EXPECT_NEAR(o.m, -1.0, 1e-3);
  const double cs = std::pow(d, 4) * M_PI * kk * kk / (8.0 * a * a * a);
  EXPECT_NEAR(o.cs, cs, 1e-3 * cs);
}

TEST(RoundMagnetic, NarrowingBellAtFixedPeakFieldVanishes) {
  // a -> 0 at fixed B0: the focal power (pi kk^2/4a with kk ~ a) and the
  // rotation (pi kk) go to zero like a, and the map becomes a drift.
  const double b0 = 0.1;
  double last = 0.0;
  for (double a : {1e-4, 1e-5, 1e-6}) {
    System sys(1.0, roundtest::kElectronAmu, kMeV,
               {{3.0, 0.05, 0, 0}, {19.0, 0.0, b0, a}, {3.0, 0.05, 0, 0}});
    ASSERT_TRUE(sys.ok) << sys.why;
    const tavo::da::Space sp(4, 1);
    std::vector<tavo::da::Poly> map;
    tavo::MapSettings set;
    ASSERT_TRUE(tavo::systemMap(sys.lat, set, sp, map, sys.why)) << sys.why;
    const double dev = std::fabs(map[0].coef({0, 1, 0, 0, 0}) - 0.1) +
                       std::fabs(map[1].coef({1, 0, 0, 0, 0}));
    if (last > 0.0) {
      EXPECT_NEAR(dev / last, 0.1, 0.02);   // linear in a
    }
    last = dev;
  }
  EXPECT_LT(last, 2e-3);
}

}  // namespace
