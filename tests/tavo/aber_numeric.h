// Direct numerical integration of the paraxial ray equation with multipole
// perturbations, and extraction of polynomial coefficients from it: the
// independent reference for the closed-form aberration coefficients.
#pragma once

#include <array>
#include <cmath>
#include <functional>
#include <sstream>

#include "tavo/state.h"

namespace abertest {

// Phase-space point (x, x', y, y').
using Ray = std::array<double, 4>;

// x'' = -kq x + K (x^3 - 3 x y^2) - s2 (x^2 - y^2)
// y'' = +kq y + K (y^3 - 3 x^2 y) + 2 s2 x y
// (kq > 0 focuses in x; K an octupole, s2 a sextupole strength).
struct Field {
  double kq = 0.0, oct = 0.0, sext = 0.0;
};

inline Ray deriv(const Field& f, const Ray& r) {
  const double x = r[0], y = r[2];
  return {r[1], -f.kq * x + f.oct * (x * x * x - 3.0 * x * y * y) - f.sext * (x * x - y * y),
          r[3], f.kq * y + f.oct * (y * y * y - 3.0 * x * x * y) + 2.0 * f.sext * x * y};
}

// Fourth-order Runge-Kutta through length len.
inline Ray rk4(const Field& f, Ray r, double len, int steps = 2000) {
  const double h = len / steps;
  for (int n = 0; n < steps; ++n) {
    Ray k1 = deriv(f, r), k2, k3, k4, t;
    for (int i = 0; i < 4; ++i) t[i] = r[i] + 0.5 * h * k1[i];
    k2 = deriv(f, t);
    for (int i = 0; i < 4; ++i) t[i] = r[i] + 0.5 * h * k2[i];
    k3 = deriv(f, t);
    for (int i = 0; i < 4; ++i) t[i] = r[i] + h * k3[i];
    k4 = deriv(f, t);
    for (int i = 0; i < 4; ++i) r[i] += h / 6.0 * (k1[i] + 2.0 * k2[i] + 2.0 * k3[i] + k4[i]);
  }
  return r;
}

// Coefficient of x0^e0 t0^e1 y0^e2 p0^e3 in the polynomial f by tensor
// central differences (exact for the part of degree e0+e1+e2+e3; the next
// orders enter as h^2).
inline double coef(const std::function<double(double, double, double, double)>& f,
                   std::array<int, 4> e, std::array<double, 4> h) {
  struct Stencil {
    std::array<double, 4> at{};
    std::array<double, 4> w{};
    int n = 0;
  };
  std::array<Stencil, 4> st;
  for (int v = 0; v < 4; ++v) {
    const double d = h[v];
    Stencil& s = st[v];
    switch (e[v]) {
      case 0: s.n = 1; s.at = {0}; s.w = {1}; break;
      case 1: s.n = 2; s.at = {d, -d}; s.w = {0.5 / d, -0.5 / d}; break;
      case 2: s.n = 3; s.at = {d, 0, -d}; s.w = {0.5 / (d * d), -1.0 / (d * d), 0.5 / (d * d)}; break;
      default: {
        const double c = 1.0 / (12.0 * d * d * d);
        s.n = 4;
        s.at = {2 * d, d, -d, -2 * d};
        s.w = {c, -2 * c, 2 * c, -c};
      }
    }
  }
  double sum = 0.0;
  for (int a = 0; a < st[0].n; ++a)
    for (int b = 0; b < st[1].n; ++b)
      for (int c = 0; c < st[2].n; ++c)
        for (int d = 0; d < st[3].n; ++d)
          sum += st[0].w[a] * st[1].w[b] * st[2].w[c] * st[3].w[d] *
                 f(st[0].at[a], st[1].at[b], st[2].at[c], st[3].at[d]);
  return sum;
}

// A TAVO state for unit tests: 3 MeV protons, diagnostics quiet.
struct Session {
  std::istringstream in;
  std::ostringstream out;
  tavo::Tavo s{in, out};
  Session(double charge = 1.0, double massU = 1.00728, double mev = 3.0) {
    s.bdata(1, 1) = 0.0;
    s.bdata(1, 2) = charge;
    s.bdata(1, 3) = massU;
    s.bdata(1, 4) = s.bdata(1, 12) = mev;
    s.bdata(1, 5) = -1.0;
    s.bdata(2, 1) = 1.0;
  }
  // Q e / p of the particle, computed here from its definition.
  double qep() const {
    const auto& c = s.cnst;
    const double t = s.bdata(1, 12) * 1e6;            // eV
    const double m = s.bdata(1, 3) * c.u;
    const double pc = std::sqrt(t * t + 2.0 * m * c.c * c.c / c.e * t);  // eV
    return std::fabs(s.bdata(1, 2)) * c.c / pc;       // Q e / p = Q c / (pc in eV)
  }
};

}  // namespace abertest
