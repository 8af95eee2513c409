// Electrostatic round lenses against single rays traced here: the exact
// ray equation d/dz(p x'/s) = s dp/dx with the truncated off-axis
// potential, integrated in extended precision for many rays, and the
// aberration coefficients fitted in the aperture slope and the energy.
#include <gtest/gtest.h>

#include <cmath>

#include "round_support.h"

namespace {

using roundtest::System;
using Real = long double;

constexpr double kOmega = 1.318;

// The axial kinetic potential of one lens from the model's formulas, scaled
// so that the object (z = 0) sees the particle's kinetic energy.
struct Potential {
  bool einzel = true;
  double zc = 0, len = 0, r = 0, ratio = 1;
  double v1 = 1.0;   // outer (einzel) or first-tube (immersion) potential
  // Steps of the axial field (z, rise of dphi/dz in V/m, tube radius) of an
  // accelerating column, in volts of their own: dphi/dz rises as
  // (1 + tanh(omega (z - z1)/R))/2, so phi by the integral of that from
  // minus infinity, (de w/2) ln(1 + exp(2u)), w = R/omega.
  std::vector<std::array<double, 3>> steps;
  void addSteps(Real z, std::array<Real, 7>& d) const {
    for (const auto& st : steps) {
      const Real w = st[2] / kOmega, u = (z - st[0]) / w;
      const auto t = roundtest::tanhD(static_cast<double>(u));
      d[0] += st[1] * w / 2 * std::log1p(std::exp(2 * u));
      d[1] += st[1] * (1 + t[0]) / 2;
      Real f = st[1] / (2 * w);
      for (int k = 2; k < 7; ++k) {
        d[k] += f * t[k - 1];
        f /= w;
      }
    }
  }
  // phi^(k), k = 0..6
  std::array<Real, 7> at(Real z) const {
    std::array<Real, 7> d{};
    addSteps(z, d);
    const double c = 0.5 * (ratio - 1.0) * v1;
    auto add = [&](Real s, Real z1) {
      if (s == 0) return;
      const auto t = roundtest::tanhD(static_cast<double>(kOmega * (z - z1) / r));
      Real f = s;
      for (int k = 0; k < 7; ++k) {
        d[k] += f * t[k];
        f *= kOmega / r;
      }
    };
    if (einzel) {
      d[0] += v1;
      add(c, zc - 0.5 * len);
      add(-c, zc + 0.5 * len);
    } else {
      d[0] += 0.5 * (1.0 + ratio) * v1;
      add(c, zc);
    }
    return d;
  }
};

struct Tracer {
  Potential pot;
  double eps = 0;   // Q / (2 m c^2)
  Real phio = 0, staro = 0;

  Tracer(Potential p, double t0ev, double q, double rest) : pot(p) {
    eps = q / (2.0 * rest);
    // The object sees the particle's energy: the tube lenses scale with
    // v1, the column's steps keep their volts.
    pot.v1 = 0.0;
    const Real s0 = pot.at(0.0L)[0];
    pot.v1 = 1.0;
    const Real f1 = pot.at(0.0L)[0] - s0;
    pot.v1 = static_cast<double>((t0ev / q - s0) / f1);
    phio = pot.at(0.0L)[0];
    staro = phio * (1 + eps * phio);
  }

  // P^2 and (dP^2/dx)/x at radius^2 r2.
  void momentum(Real z, Real r2, Real delta, Real& p2, Real& g) const {
    const auto d = pot.at(z);
    const Real phi = d[0] - r2 * d[2] / 4 + r2 * r2 * d[4] / 64 - r2 * r2 * r2 * d[6] / 2304 +
                     delta * phio;
    const Real dphi = -d[2] / 2 + r2 * d[4] / 16 - r2 * r2 * d[6] / 384;
    p2 = phi * (1 + eps * phi) / staro;
    g = (1 + 2 * eps * phi) * dphi / staro;
  }

  // (x, X) in one plane (a meridional ray: y = 0 throughout).
  void deriv(Real z, const Real* s, Real delta, Real* f) const {
    Real p2, g;
    momentum(z, s[0] * s[0], delta, p2, g);
    const Real pz = std::sqrt(p2 - s[1] * s[1]);
    f[0] = s[1] / pz;
    f[1] = g * s[0] / (2 * pz);
  }

  // Position at zi of the ray from (x0, slope a) with energy deviation delta.
  Real trace(Real x0, Real a, Real delta, Real zi, int n) const {
    Real p2, g;
    momentum(0.0L, x0 * x0, delta, p2, g);
    Real s[2] = {x0, std::sqrt(p2) * a / std::sqrt(1 + a * a)};
    const Real h = zi / n;
    Real k1[2], k2[2], k3[2], k4[2], t[2];
    for (int i = 0; i < n; ++i) {
      const Real z = h * i;
      deriv(z, s, delta, k1);
      for (int j = 0; j < 2; ++j) t[j] = s[j] + h / 2 * k1[j];
      deriv(z + h / 2, t, delta, k2);
      for (int j = 0; j < 2; ++j) t[j] = s[j] + h / 2 * k2[j];
      deriv(z + h / 2, t, delta, k3);
      for (int j = 0; j < 2; ++j) t[j] = s[j] + h * k3[j];
      deriv(z + h, t, delta, k4);
      for (int j = 0; j < 2; ++j) s[j] += h / 6 * (k1[j] + 2 * k2[j] + 2 * k3[j] + k4[j]);
    }
    return s[0];
  }
};

// Odd polynomial c1 a + c3 a^3 + ... + c9 a^9 through the points a_j = j h.
std::array<Real, 5> oddFit(const std::function<Real(Real)>& f, Real h) {
  Real m[5][6];
  for (int j = 0; j < 5; ++j) {
    const Real a = h * (j + 1);
    Real p = a;
    for (int k = 0; k < 5; ++k) {
      m[j][k] = p;
      p *= a * a;
    }
    m[j][5] = f(a);
  }
  for (int c = 0; c < 5; ++c)
    for (int r = c + 1; r < 5; ++r) {
      const Real q = m[r][c] / m[c][c];
      for (int k = c; k < 6; ++k) m[r][k] -= q * m[c][k];
    }
  std::array<Real, 5> x{};
  for (int r = 4; r >= 0; --r) {
    Real v = m[r][5];
    for (int k = r + 1; k < 5; ++k) v -= m[r][k] * x[k];
    x[r] = v / m[r][r];
  }
  return x;
}

struct Case {
  const char* name;
  double amu, mev, rest;
  bool einzel;
  double ratio;
  double len = 0.004, zc = 0.010;   // electrode or element length, centre
};

// EXACT's optics of sys against rays traced through pot: the lens field
// ends at zfield, ha is the step of the aperture slopes fitted, scan the
// step of the search for the image behind it.
void compareWithRays(System& sys, const Potential& pot, double mev, double rest, double zfield,
                     Real ha, Real scan = 0.0005L) {
  ASSERT_TRUE(sys.ok) << sys.why;
  const tavo::RoundOptics o = sys.optics();
  const Tracer tr(pot, mev * 1e6, 1.0, rest);
  const int n = 60000;

  // The Gaussian image: where a near-paraxial axial ray crosses (secant on
  // the end plane of the trace).
  auto axial = [&](Real z) { return tr.trace(0, 1e-9L, 0, z, n); };
  Real lo = 0.5L * o.zi, hi = 1.5L * o.zi;
  // Bracket by scanning, then the secant.
  {
    Real prev = axial(zfield), z = zfield;
    for (int k = 1; k <= 400; ++k) {
      const Real z2 = zfield + k * scan;
      const Real v = axial(z2);
      if ((v <= 0) != (prev <= 0)) {
        lo = z;
        hi = z2;
        break;
      }
      prev = v;
      z = z2;
    }
  }
  Real flo = axial(lo), fhi = axial(hi), zi = hi;
  for (int it = 0; it < 60 && std::fabs(hi - lo) > 1e-16L; ++it) {
    zi = (lo * fhi - hi * flo) / (fhi - flo);
    const Real fz = axial(zi);
    if ((fz > 0) == (flo > 0)) {
      lo = zi;
      flo = fz;
    } else {
      hi = zi;
      fhi = fz;
    }
    if (fz == 0) break;
  }
  EXPECT_NEAR(o.zi, static_cast<double>(zi), 1e-9 * static_cast<double>(zi));

  const Real m = tr.trace(1e-9L, 0, 0, zi, n) / 1e-9L;
  EXPECT_NEAR(o.m, static_cast<double>(m), 1e-8 * std::fabs(static_cast<double>(m)));

  const auto geo = oddFit([&](Real a) { return tr.trace(0, a, 0, zi, n); }, ha);
  const double cs = static_cast<double>(geo[1] / m), c5 = static_cast<double>(geo[2] / m);
  EXPECT_NEAR(o.cs, cs, 1e-7 * std::fabs(cs));
  EXPECT_NEAR(o.c5, c5, 1e-4 * std::fabs(c5));
  EXPECT_NEAR(o.c5a, 0.0, 1e-12);   // no anisotropy without a magnetic field

  // Chromatic: the slope-linear part at energy deviations +-h, +-2h,
  // Richardson in h.
  const Real hd = 1e-3L;
  auto lin = [&](Real d) {
    return oddFit([&](Real a) { return tr.trace(0, a, d, zi, n); }, ha)[0];
  };
  const Real d1 = (lin(hd) - lin(-hd)) / (2 * hd);
  const Real d2 = (lin(2 * hd) - lin(-2 * hd)) / (4 * hd);
  const double cc = static_cast<double>(-(4 * d1 - d2) / 3 / m);
  EXPECT_NEAR(o.cc, cc, 1e-7 * std::fabs(cc));
  EXPECT_GT(cs, 0.0);
  EXPECT_GT(cc, 0.0);
}

void checkAgainstRays(const Case& c) {
  SCOPED_TRACE(c.name);
  const double r = 0.001, zc = c.zc, len = c.len;
  System sys(1.0, c.amu, c.mev,
             {{3.0, zc - 0.5 * len, 0, 0}, {c.einzel ? 15.0 : 17.0, len, c.ratio, r},
              {3.0, 0.08, 0, 0}});
  Potential pot;
  pot.einzel = c.einzel;
  pot.zc = zc;
  pot.len = len;
  pot.r = r;
  pot.ratio = c.ratio;
  // Aperture steps that keep the rays at the same fraction of the bore.
  compareWithRays(sys, pot, c.mev, c.rest, zc + 0.5 * len, 0.002L * 0.015L / zc);
}

// An accelerating section of `mv` megavolts over 20 mm, 20 mm behind the
// object, with a gap lens of radius 2 mm at each end: its field steps up at
// the entrance and down at the exit, each over the gap lens's radius.
void checkColumnAgainstRays(const char* name, double amu, double mev, double rest, double mv,
                            double before) {
  SCOPED_TRACE(name);
  const double len = 0.02, r = 0.002, zin = before + 0.005;
  System sys(1.0, amu, mev,
             {{3.0, before, 0, 0}, {13.0, 0.005, r, 0}, {10.0, len, mv, 0}, {13.0, 0.005, r, 0},
              {3.0, 0.1, 0, 0}});
  Potential pot;
  pot.einzel = true;   // with ratio 1: the level potential alone
  pot.r = r;
  const double e = mv * 1e6 / len;
  pot.steps = {{zin, e, r}, {zin + len, -e, r}};
  compareWithRays(sys, pot, mev, rest, zin + len + 0.005, 0.002L * 0.015L / zin, 0.005L);
}

constexpr double kGa = 69.723;
constexpr double kGaRest = kGa * 931494102.42;

TEST(RoundElectric, EinzelLensAgainstTracedRaysIons) {
  checkAgainstRays({"einzel, 30 keV gallium ions", kGa, 0.03, kGaRest, true, 0.15, 0.002, 0.015});
}

TEST(RoundElectric, EinzelLensFarFromTheObjectAgainstTracedRays) {
  // The object many widths before the field: the integration must not
  // stride from field-free space into the lens.
  checkAgainstRays({"einzel, distant object", kGa, 0.03, kGaRest, true, 0.15, 0.002, 0.06});
}

TEST(RoundElectric, EinzelLensAgainstTracedRaysRelativisticElectrons) {
  checkAgainstRays({"einzel, 200 keV electrons", roundtest::kElectronAmu, 0.2, 510998.95, true,
                    0.12, 0.002, 0.015});
}

TEST(RoundElectric, ImmersionLensAgainstTracedRaysIons) {
  checkAgainstRays({"immersion, 5 keV gallium ions", kGa, 0.005, kGaRest, false, 6.0});
}

TEST(RoundElectric, ImmersionLensAgainstTracedRaysRelativisticElectrons) {
  checkAgainstRays({"immersion, 20 to 200 keV electrons", roundtest::kElectronAmu, 0.02,
                    510998.95, false, 10.0});
}

TEST(RoundElectric, AcceleratingColumnAgainstTracedRaysIons) {
  checkColumnAgainstRays("5 keV gallium ions, 40 kV column", kGa, 0.005, kGaRest, 0.04, 0.02);
}

TEST(RoundElectric, AcceleratingColumnAgainstTracedRaysRelativisticElectrons) {
  checkColumnAgainstRays("20 keV electrons, 200 kV column", roundtest::kElectronAmu, 0.02,
                         510998.95, 0.2, 0.02);
}

}  // namespace
