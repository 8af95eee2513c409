// Maps integrated through the fields, checked against an independent
// direct integration written here: plain double-precision Runge-Kutta of
// the full ray equation for many rays, with the quadrupole field written out
// in Cartesian form, and the coefficients taken from a least-squares
// polynomial fit of the traced rays.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "aber_numeric.h"
#include "exact_support.h"
#include "tavo/exact/exact.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace {

using abertest::Session;
using tavo::da::Exps;
using tavo::da::Poly;

struct Quad {
  double len, b3, bore, drift;   // drift before it
  double angle = 0.0;
  double oct = 0.0;              // pole-tip field of an octupole lying on it
};

// Fills rows: particle, beam, then drift + quadrupole pairs, final drift,
// system end.
void buildTable(Session& t, const std::vector<Quad>& q, double tail) {
  int row = 3;
  for (const Quad& e : q) {
    t.s.bdata(row, 1) = 3.0;
    t.s.bdata(row, 2) = e.drift;
    ++row;
    t.s.bdata(row, 1) = 4.0;
    t.s.bdata(row, 2) = e.len;
    t.s.bdata(row, 3) = e.b3;
    t.s.bdata(row, 4) = e.bore;
    t.s.rotat[row] = e.angle;
    ++row;
    if (e.oct != 0.0) {
      t.s.bdata(row, 1) = 28.0;
      t.s.bdata(row, 2) = e.len;
      t.s.bdata(row, 3) = e.oct;
      t.s.bdata(row, 4) = e.bore;
      ++row;
    }
  }
  t.s.bdata(row, 1) = 3.0;
  t.s.bdata(row, 2) = tail;
  t.s.bdata(row + 1, 1) = 9.0;
  tavo::Mat4 a;
  tavo::stigmat(t.s, 1, a);
}

// The test's own description of the same fields.
struct RefLens {
  double k, zin, zout, lam, c, s;
  double o = 0.0;   // octupole: By = -o (x^3 - 3 x y^2) on its own axes (x'' = +o x^3)
};
struct RefSystem {
  std::vector<RefLens> lens;
  double zend = 0.0;
  bool soft = true;
};

RefSystem refSystem(const Session& t, const std::vector<Quad>& q, double tail, double fringe,
                    bool soft) {
  RefSystem r;
  r.soft = soft;
  double z = 0.0;
  for (const Quad& e : q) {
    z += e.drift;
    const double a3 = e.bore * e.bore * e.bore;
    r.lens.push_back({t.qep() * e.b3 / e.bore, z, z + e.len, fringe * e.bore, std::cos(e.angle),
                      std::sin(e.angle), t.qep() * e.oct / a3});
    z += e.len;
  }
  r.zend = z + tail;
  return r;
}

// d^k tanh / du^k, k = 0..5, written out.
void tanhD(double u, double d[6]) {
  const double t = std::tanh(u), w = 1.0 - t * t;
  d[0] = t;
  d[1] = w;
  d[2] = -2.0 * t * w;
  d[3] = w * (6.0 * t * t - 2.0);
  d[4] = w * (16.0 * t - 24.0 * t * t * t);
  d[5] = w * (16.0 - 120.0 * t * t + 120.0 * t * t * t * t);
}

// Quadrupole field (times Qe/p) with gradient profile G(z), to fifth order
// off axis: Psi = -(G - G'' r^2/12 + G'''' r^4/384) x y.
void field(const RefSystem& sys, double z, double x, double y, double b[3]) {
  b[0] = b[1] = b[2] = 0.0;
  for (const RefLens& e : sys.lens) {
    double g[6] = {0, 0, 0, 0, 0, 0};
    if (sys.soft) {
      double a[6], c[6];
      tanhD((z - e.zin) / e.lam, a);
      tanhD((z - e.zout) / e.lam, c);
      double f = 0.5;
      for (int k = 0; k < 6; ++k) {
        g[k] = e.k * f * (a[k] - c[k]);
        f /= e.lam;
      }
    } else if (z >= e.zin && z <= e.zout) {
      g[0] = e.k;
    }
    const double u = e.c * x + e.s * y, v = -e.s * x + e.c * y;
    const double r2 = u * u + v * v;
    const double p = g[0] - g[2] * r2 / 12.0 + g[4] * r2 * r2 / 384.0;
    const double dp = -g[2] / 12.0 + g[4] * r2 / 192.0;   // dP/d(r^2)
    double bu = p * v + 2.0 * u * u * v * dp;
    double bv = p * u + 2.0 * u * v * v * dp;
    double bz = (g[1] - g[3] * r2 / 12.0 + g[5] * r2 * r2 / 384.0) * u * v;
    if (e.o != 0.0) {
      // Octupole with the same profile, C = -o: Psi = -C (g - g'' r^2/20) h,
      // h = u^3 v - u v^3 (g carries the quadrupole's strength: divided out).
      const double c = -e.o / e.k;
      const double po = c * (g[0] - g[2] * r2 / 20.0), dpo = -c * g[2] / 20.0;
      const double h = u * u * u * v - u * v * v * v;
      bu += po * (3.0 * u * u * v - v * v * v) + 2.0 * u * h * dpo;
      bv += po * (u * u * u - 3.0 * u * v * v) + 2.0 * v * h * dpo;
      bz += c * (g[1] - g[3] * r2 / 20.0) * h;
    }
    b[0] += e.c * bu - e.s * bv;
    b[1] += e.s * bu + e.c * bv;
    b[2] += bz;
  }
}

using Ray = std::array<double, 4>;

Ray force(const RefSystem& sys, double z, const Ray& r) {
  double b[3];
  field(sys, z, r[0], r[2], b);
  const double xp = r[1], yp = r[3], s = std::sqrt(1.0 + xp * xp + yp * yp);
  return {xp, s * (yp * b[2] - (1.0 + xp * xp) * b[1] + xp * yp * b[0]), yp,
          s * (-xp * b[2] + (1.0 + yp * yp) * b[0] - xp * yp * b[1])};
}

// The hard edge of a quadrupole as the thin map of its Maxwellian fringe:
// dx = (K/12)(x^3 + 3xy^2), dx' = -(K/4)[(x^2+y^2)x' - 2xy y'], y mirrored.
void hardEdge(const RefLens& e, double k, Ray& r) {
  const double u = e.c * r[0] + e.s * r[2], v = -e.s * r[0] + e.c * r[2];
  const double up = e.c * r[1] + e.s * r[3], vp = -e.s * r[1] + e.c * r[3];
  const double du = k / 12.0 * (u * u * u + 3.0 * u * v * v);
  const double dv = -k / 12.0 * (v * v * v + 3.0 * u * u * v);
  const double dup = -k / 4.0 * ((u * u + v * v) * up - 2.0 * u * v * vp);
  const double dvp = k / 4.0 * ((u * u + v * v) * vp - 2.0 * u * v * up);
  r[0] += e.c * du - e.s * dv;
  r[2] += e.s * du + e.c * dv;
  r[1] += e.c * dup - e.s * dvp;
  r[3] += e.s * dup + e.c * dvp;
}

void rk4(const RefSystem& sys, double z0, double z1, int n, Ray& r) {
  const double h = (z1 - z0) / n;
  for (int i = 0; i < n; ++i) {
    const double z = z0 + i * h;
    Ray k1 = force(sys, z, r), t, k2, k3, k4;
    for (int j = 0; j < 4; ++j) t[j] = r[j] + 0.5 * h * k1[j];
    k2 = force(sys, z + 0.5 * h, t);
    for (int j = 0; j < 4; ++j) t[j] = r[j] + 0.5 * h * k2[j];
    k3 = force(sys, z + 0.5 * h, t);
    for (int j = 0; j < 4; ++j) t[j] = r[j] + h * k3[j];
    k4 = force(sys, z + h, t);
    for (int j = 0; j < 4; ++j) r[j] += h / 6.0 * (k1[j] + 2.0 * k2[j] + 2.0 * k3[j] + k4[j]);
  }
}

// One ray from the object to the system end; n sets the step (per metre).
Ray trace(const RefSystem& sys, Ray r, int perMetre) {
  if (sys.soft) {
    rk4(sys, 0.0, sys.zend, static_cast<int>(sys.zend * perMetre), r);
    return r;
  }
  double z = 0.0;
  for (const RefLens& e : sys.lens) {
    r[0] += (e.zin - z) * r[1];
    r[2] += (e.zin - z) * r[3];
    hardEdge(e, e.k, r);
    rk4(sys, e.zin, e.zout, std::max(8, static_cast<int>((e.zout - e.zin) * perMetre)), r);
    hardEdge(e, -e.k, r);
    z = e.zout;
  }
  r[0] += (sys.zend - z) * r[1];
  r[2] += (sys.zend - z) * r[3];
  return r;
}

// Coefficients a[i][j] of a^i b^j of f(a, b) over [-A, A] x [-B, B]: the
// Chebyshev interpolant on the product grid of n Chebyshev nodes (discrete
// orthogonality, so no ill-conditioned normal equations), turned into
// monomials.
using Coeffs = std::vector<std::vector<double>>;
Coeffs fit(const std::function<double(double, double)>& f, double A, double B, int n) {
  std::vector<double> node(n);
  for (int i = 0; i < n; ++i) node[i] = std::cos(M_PI * (i + 0.5) / n);
  std::vector<std::vector<double>> tk(n, std::vector<double>(n));   // T_k(node_i)
  for (int i = 0; i < n; ++i) {
    tk[0][i] = 1.0;
    if (n > 1) tk[1][i] = node[i];
    for (int k = 2; k < n; ++k) tk[k][i] = 2.0 * node[i] * tk[k - 1][i] - tk[k - 2][i];
  }
  Coeffs val(n, std::vector<double>(n));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) val[i][j] = f(A * node[i], B * node[j]);
  Coeffs c(n, std::vector<double>(n, 0.0));
  for (int k = 0; k < n; ++k)
    for (int l = 0; l < n; ++l) {
      double sum = 0.0;
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) sum += val[i][j] * tk[k][i] * tk[l][j];
      c[k][l] = sum * (k == 0 ? 1.0 : 2.0) / n * (l == 0 ? 1.0 : 2.0) / n;
    }
  std::vector<std::vector<double>> mono(n, std::vector<double>(n, 0.0));   // [s^p] T_k
  mono[0][0] = 1.0;
  if (n > 1) mono[1][1] = 1.0;
  for (int k = 2; k < n; ++k)
    for (int p = 0; p < n; ++p)
      mono[k][p] = (p > 0 ? 2.0 * mono[k - 1][p - 1] : 0.0) - mono[k - 2][p];
  Coeffs a(n, std::vector<double>(n, 0.0));
  for (int k = 0; k < n; ++k)
    for (int l = 0; l < n; ++l)
      for (int p = 0; p <= k; ++p)
        for (int q = 0; q <= l; ++q) a[p][q] += c[k][l] * mono[k][p] * mono[l][q];
  for (int p = 0; p < n; ++p)
    for (int q = 0; q < n; ++q) a[p][q] /= std::pow(A, p) * std::pow(B, q);
  return a;
}

struct Case {
  const char* name;
  std::vector<Quad> quads;
  double tail;
};

// A singlet, the doublet and the separated triplet of the examples (3 MeV
// protons), each ending near its image.
std::vector<Case> cases() {
  return {
      {"singlet", {{0.1, 0.25, 0.01, 1.0}}, 0.6},
      {"doublet", {{0.08, 0.15357, 0.0075, 3.0}, {0.08, -0.246639, 0.0075, 0.04}}, 0.15},
      {"triplet",
       {{0.06, 0.129905, 0.006, 3.0}, {0.06, -0.226126, 0.006, 0.05}, {0.06, 0.129905, 0.006, 0.05}},
       0.2},
      // The triplet with octupoles on its lenses, the last lens turned.
      {"octupole triplet",
       {{0.06, 0.129905, 0.006, 3.0, 0.0, 1e-4},
        {0.06, -0.226126, 0.006, 0.05, 0.0, -2e-4},
        {0.06, 0.129905, 0.006, 0.05, 0.2, 1.5e-4}},
       0.2},
  };
}

// Engine map of a case.
std::vector<Poly> engineMap(Session& t, const Case& c, tavo::EdgeModel model, double fringe,
                            const tavo::da::Space& sp, double fineness = 1.0) {
  buildTable(t, c.quads, c.tail);
  return exacttest::mapOf(t, model, sp, fringe, fineness);
}

// Aperture coefficients of the reference integration at one step density.
struct Aperture {
  double t1, t3, tp2, t5, t3p2, tp4;   // x plane
  double p1, p3, pt2, p5, p3t2, pt4;   // y plane
};
Aperture reference(const RefSystem& sys, int perMetre, double A) {
  auto xs = [&](double th, double ph) { return trace(sys, {0, th, 0, ph}, perMetre)[0]; };
  auto ys = [&](double th, double ph) { return trace(sys, {0, th, 0, ph}, perMetre)[2]; };
  // Both planes from one set of rays would halve the work; clarity first.
  const Coeffs cx = fit(xs, A, A, 14);
  const Coeffs cy = fit(ys, A, A, 14);
  return {cx[1][0], cx[3][0], cx[1][2], cx[5][0], cx[3][2], cx[1][4],
          cy[0][1], cy[0][3], cy[2][1], cy[0][5], cy[2][3], cy[4][1]};
}

void expectRel(double got, double want, double tol, const std::string& what) {
  EXPECT_NEAR(got, want, tol * std::fabs(want)) << what << ": engine " << got << " reference " << want;
}

}  // namespace

TEST(ExactMap, SoftEdgeAgreesWithDirectIntegrationToFifthOrder) {
  for (const Case& c : cases()) {
    Session t;
    const tavo::da::Space sp(4, 5);
    const std::vector<Poly> map = engineMap(t, c, tavo::EdgeModel::Soft, 1.0, sp);
    const RefSystem sys = refSystem(t, c.quads, c.tail, 1.0, true);
    const double lamMin = 0.006;
    const int n1 = static_cast<int>(12 / lamMin);
    const Aperture r1 = reference(sys, n1, 0.004);
    const Aperture r2 = reference(sys, 2 * n1, 0.004);
    // The reference is converged in its step.
    EXPECT_NEAR(r1.t3, r2.t3, 1e-6 * std::fabs(r2.t3)) << c.name;
    EXPECT_NEAR(r1.t5, r2.t5, 1e-4 * std::fabs(r2.t5)) << c.name;
    const std::string n = c.name;
    expectRel(map[0].coef(Exps{0, 1, 0, 0, 0}), r2.t1, 1e-6, n + " x|t");
    expectRel(map[2].coef(Exps{0, 0, 0, 1, 0}), r2.p1, 1e-6, n + " y|p");
    expectRel(map[0].coef(Exps{0, 3, 0, 0, 0}), r2.t3, 1e-4, n + " x|t3");
    expectRel(map[0].coef(Exps{0, 1, 0, 2, 0}), r2.tp2, 1e-4, n + " x|tp2");
    expectRel(map[2].coef(Exps{0, 0, 0, 3, 0}), r2.p3, 1e-4, n + " y|p3");
    expectRel(map[2].coef(Exps{0, 2, 0, 1, 0}), r2.pt2, 1e-4, n + " y|pt2");
    expectRel(map[0].coef(Exps{0, 5, 0, 0, 0}), r2.t5, 1e-3, n + " x|t5");
    expectRel(map[0].coef(Exps{0, 3, 0, 2, 0}), r2.t3p2, 1e-3, n + " x|t3p2");
    expectRel(map[0].coef(Exps{0, 1, 0, 4, 0}), r2.tp4, 1e-3, n + " x|tp4");
    expectRel(map[2].coef(Exps{0, 0, 0, 5, 0}), r2.p5, 1e-3, n + " y|p5");
    expectRel(map[2].coef(Exps{0, 2, 0, 3, 0}), r2.p3t2, 1e-3, n + " y|p3t2");
    expectRel(map[2].coef(Exps{0, 4, 0, 1, 0}), r2.pt4, 1e-3, n + " y|pt4");
  }
}

TEST(ExactMap, HardEdgeAgreesWithDirectIntegrationAtThirdOrder) {
  for (const Case& c : cases()) {
    Session t;
    const tavo::da::Space sp(4, 3);
    const std::vector<Poly> map = engineMap(t, c, tavo::EdgeModel::Hard, 1.0, sp);
    const RefSystem sys = refSystem(t, c.quads, c.tail, 1.0, false);
    const Aperture r1 = reference(sys, 4000, 0.004);
    const Aperture r2 = reference(sys, 8000, 0.004);
    EXPECT_NEAR(r1.t3, r2.t3, 1e-6 * std::fabs(r2.t3)) << c.name;
    const std::string n = c.name;
    expectRel(map[0].coef(Exps{0, 3, 0, 0, 0}), r2.t3, 1e-4, n + " x|t3");
    expectRel(map[0].coef(Exps{0, 1, 0, 2, 0}), r2.tp2, 1e-4, n + " x|tp2");
    expectRel(map[2].coef(Exps{0, 0, 0, 3, 0}), r2.p3, 1e-4, n + " y|p3");
    expectRel(map[2].coef(Exps{0, 2, 0, 1, 0}), r2.pt2, 1e-4, n + " y|pt2");
    // Position terms from rays in (x, theta).
    auto xs = [&](double x0, double th) { return trace(sys, {x0, th, 0, 0}, 8000)[0]; };
    const Coeffs cx = fit(xs, 0.004, 0.004, 12);
    expectRel(map[0].coef(Exps{3, 0, 0, 0, 0}), cx[3][0], 1e-4, n + " x|x3");
    expectRel(map[0].coef(Exps{1, 2, 0, 0, 0}), cx[1][2], 1e-4, n + " x|xt2");
    expectRel(map[0].coef(Exps{2, 1, 0, 0, 0}), cx[2][1], 1e-4, n + " x|x2t");
  }
}

