// Third-order coefficients of quadrupoles, octupoles and solenoids, the
// superimposed-octupole model against the integrated ray equation, the
// transfer to the system object and the diagnostic printout.
#include <gtest/gtest.h>

#include <cmath>

#include "aber_numeric.h"
#include "tavo/aber/aber.h"

using abertest::Session;
using tavo::Third;

namespace {

// A quadrupole row whose object lies u before its centre (no lens before it).
void setQuad(Session& t, int row, double code, double len, double u, double k, double fx,
             double fy) {
  t.s.bdata(row, 1) = code;
  t.s.bdata(row, 2) = len;
  t.s.bdata(row, 3) = 0.3;
  t.s.bdata(row, 4) = 0.01;
  t.s.bdata(row, 5) = u;
  t.s.bdata(row, 8) = k;
  t.s.bdata(row, 11) = fx;
  t.s.bdata(row, 12) = fy;
}

double x(const Third& v, int j) { return v(1, j); }
double y(const Third& v, int j) { return v(2, j); }

// Exponents of (x, theta, y, phi) of the ten terms of each plane.
const std::array<std::array<int, 4>, 10> kMonoX = {{{0, 3, 0, 0}, {0, 1, 0, 2}, {1, 2, 0, 0},
                                                    {1, 0, 0, 2}, {0, 1, 1, 1}, {2, 1, 0, 0},
                                                    {0, 1, 2, 0}, {1, 0, 1, 1}, {3, 0, 0, 0},
                                                    {1, 0, 2, 0}}};
std::array<int, 4> mirror(const std::array<int, 4>& e) { return {e[2], e[3], e[0], e[1]}; }

}  // namespace

TEST(AberThird, LoneMagneticQuadrupole) {
  Session t;
  const double u = 0.5, fx = 0.2, fy = -0.25, len = 0.1, k = 10.0;
  setQuad(t, 3, 4.0, len, u, k, fx, fy);
  Third v;
  tavo::third(t.s, 3, v);
  const double a = u * u * u * u / (3.0 * fx * fx * len);   // theta^3
  const double b = -u * u * u * u / (fx * fy * len);         // theta phi^2
  EXPECT_NEAR(x(v, 1), a, 1e-13 * a);
  EXPECT_NEAR(x(v, 2), b, 1e-13 * b);
  EXPECT_NEAR(y(v, 1), u * u * u * u / (3.0 * fy * fy * len), 1e-13 * a);
  EXPECT_NEAR(y(v, 2), b, 1e-13 * b);
  // theta^2 x from theta -> theta + x/u
  EXPECT_NEAR(x(v, 3), 3.0 * a / u, 1e-12 * a);
}

TEST(AberThird, ElectricShareChangesTheLensFactors) {
  const double u = 0.4, fx = 0.3, fy = -0.2, len = 0.08;
  // A purely electric lens: a = 7/6, b = -1/2.
  Session e;
  setQuad(e, 3, 14.0, len, u, 8.0, fx, fy);
  Third v;
  tavo::third(e.s, 3, v);
  EXPECT_NEAR(x(v, 1), std::pow(u, 4) * (7.0 / 6.0) / (fx * fx * len), 1e-12);
  EXPECT_NEAR(x(v, 2), std::pow(u, 4) * 0.5 / (fx * fy * len), 1e-12);

  // A magnetic lens with an electric partner holding a quarter of the strength.
  Session m;
  setQuad(m, 3, 4.0, len, u, 8.0, fx, fy);
  m.s.bdata(4, 1) = 34.0;
  m.s.bdata(4, 8) = -0.25;
  m.s.bdata(5, 1) = 9.0;
  tavo::third(m.s, 3, v);
  const double eps = -0.25;
  const double a = (3 * eps * eps - 2 * eps + 2) / 6, b = -(eps * eps - 2 * eps - 2) / 2;
  EXPECT_NEAR(x(v, 1), std::pow(u, 4) * a / (fx * fx * len), 1e-12);
  EXPECT_NEAR(y(v, 2), -std::pow(u, 4) * b / (fx * fy * len), 1e-12);
}

TEST(AberThird, DiagnosticModesOfTheQuadrupoleModel) {
  const double len = 0.1, k = 10.0;
  // Level -9: the aperture terms depend only on k and L.
  Third v1, v2;
  Session a, b;
  a.s.bdata(1, 5) = b.s.bdata(1, 5) = -9.0;
  setQuad(a, 3, 4.0, len, 0.5, k, 0.2, -0.25);
  setQuad(b, 3, 4.0, len, 0.9, k, 0.7, -0.1);
  tavo::third(a.s, 3, v1);
  tavo::third(b.s, 3, v2);
  const double k4l3 = k * std::pow(k * len, 3);
  for (int p = 0; p < 2; ++p) {
    EXPECT_DOUBLE_EQ(v1(p + 1, 1), 1.0 / 3.0 / k4l3);
    EXPECT_DOUBLE_EQ(v2(p + 1, 1), 1.0 / 3.0 / k4l3);
    EXPECT_DOUBLE_EQ(v1(p + 1, 2), 1.0 / k4l3);
    EXPECT_DOUBLE_EQ(v2(p + 1, 2), 1.0 / k4l3);
  }
  // Level -8: thin-lens focal lengths f = 1/(k^2 L), the sign of the field.
  Session c;
  c.s.bdata(1, 5) = -8.0;
  setQuad(c, 3, 4.0, len, 0.5, k, 123.0, 456.0);
  c.s.bdata(3, 3) = -0.3;
  tavo::third(c.s, 3, v1);
  const double f = -1.0 / (k * k * len);
  EXPECT_NEAR(x(v1, 1), std::pow(0.5, 4) / (3.0 * f * f * len), 1e-12);
  EXPECT_NEAR(x(v1, 2), std::pow(0.5, 4) / (f * f * len), 1e-12);
  // Level -4 prints the aperture terms.
  Session d;
  d.s.bdata(1, 5) = -4.0;
  setQuad(d, 3, 4.0, len, 0.5, k, 0.2, -0.25);
  tavo::third(d.s, 3, v1);
  const std::string out = d.out.str();
  EXPECT_NE(out.find("%QSPHER- Third order aberration coeffs"), std::string::npos);
  EXPECT_NE(out.find("T(1,1) = "), std::string::npos);
  EXPECT_NE(out.find("Beta = "), std::string::npos);
  EXPECT_NE(out.find("Gamma = "), std::string::npos);
}

TEST(AberThird, WeakQuadrupoleAndLensInAnImageGiveFiniteTerms) {
  Session t;
  setQuad(t, 3, 4.0, 0.1, 0.5, 1e-7, 0.2, -0.25);
  Third v;
  tavo::third(t.s, 3, v);
  for (double c : v.a) EXPECT_EQ(c, 0.0);
  // The lens centred on the object: the limits are finite.
  Session z;
  setQuad(z, 3, 4.0, 0.1, 0.0, 10.0, 0.2, -0.25);
  tavo::third(z.s, 3, v);
  for (double c : v.a) EXPECT_TRUE(std::isfinite(c));
}

TEST(AberThird, OctupoleTermsMatchTheIntegratedRayEquation) {
  for (double code : {8.0, 18.0}) {
    Session t;
    // An astigmatic intermediate image: x image 0.30 m, y image 0.18 m before
    // the octupole's centre.
    t.s.bdata(3, 1) = 4.0;
    t.s.bdata(3, 3) = 0.5;
    t.s.bdata(3, 6) = 0.20;
    t.s.bdata(3, 7) = 0.32;
    const double len = 0.05, zc = 0.50, kk = 2.0e4;
    t.s.bdata(4, 1) = code;
    t.s.bdata(4, 2) = len;
    t.s.bdata(4, 5) = zc;
    t.s.bdata(4, 8) = kk;
    t.s.bdata(5, 1) = 9.0;
    Third v;
    tavo::third(t.s, 4, v);

    const double u = zc - 0.20 - len / 2, w = zc - 0.32 - len / 2;
    abertest::Field f;
    f.oct = code == 18.0 ? -kk : kk;   // the electric octupole's strength enters reversed
    // Deviation referred back to the object of each plane.
    auto dev = [&](int plane) {
      return [&, plane](double x0, double t0, double y0, double p0) {
        const abertest::Ray in = {x0 + t0 * u, t0, y0 + p0 * w, p0};
        const abertest::Ray out = abertest::rk4(f, in, len, 200);
        const double d = plane == 0 ? u + len : w + len;
        const int i = 2 * plane;
        const double dpos = out[i] - (in[i] + len * in[i + 1]);
        const double dang = out[i + 1] - in[i + 1];
        return dpos - d * dang;
      };
    };
    const std::array<double, 4> h = {2e-4, 2e-4, 2e-4, 2e-4};
    for (int j = 1; j <= 10; ++j) {
      const double nx = abertest::coef(dev(0), kMonoX[j - 1], h);
      const double ny = abertest::coef(dev(1), mirror(kMonoX[j - 1]), h);
      EXPECT_NEAR(x(v, j), nx, 1e-5 * std::fabs(nx) + 1e-9) << "x term " << j << " code " << code;
      EXPECT_NEAR(y(v, j), ny, 1e-5 * std::fabs(ny) + 1e-9) << "y term " << j << " code " << code;
    }
    // The x y^2 term is -3 times the x^3 term.
    EXPECT_DOUBLE_EQ(x(v, 10), -3.0 * x(v, 9));
  }
}

TEST(AberThird, OctupoleOfZeroLengthContributesNothing) {
  Session t;
  t.s.bdata(3, 1) = 8.0;
  t.s.bdata(3, 2) = 0.0;
  t.s.bdata(3, 5) = 0.4;
  t.s.bdata(3, 8) = 5.0e4;
  Third v;
  tavo::third(t.s, 3, v);
  for (double c : v.a) EXPECT_EQ(c, 0.0);
}

// The octupole superimposed on a quadrupole: aperture coefficients referred
// to the object, from rays integrated through the combined field.
struct SupraRef {
  double af, ad, b;
};
SupraRef supraByIntegration(double k, double a, double b, double kk, double len) {
  abertest::Field f;
  f.kq = k >= 0 ? k * k : -k * k;
  f.oct = kk;
  const double ak = std::fabs(k);
  // Sine-like rays from each object: x plane focusing when k > 0.
  auto sine = [&](bool focusing, double d, double s, double& sv, double& sp) {
    if (focusing) {
      sv = d * std::cos(ak * s) + std::sin(ak * s) / ak;
      sp = -d * ak * std::sin(ak * s) + std::cos(ak * s);
    } else {
      sv = d * std::cosh(ak * s) + std::sinh(ak * s) / ak;
      sp = d * ak * std::sinh(ak * s) + std::cosh(ak * s);
    }
  };
  abertest::Field lin;
  lin.kq = f.kq;
  auto dev = [&](int plane) {
    return [&, plane](double, double t0, double, double p0) {
      const abertest::Ray in = {t0 * a, t0, p0 * b, p0};
      const abertest::Ray out = abertest::rk4(f, in, len, 400);
      const abertest::Ray ref = abertest::rk4(lin, in, len, 400);
      double sv, sp;
      sine(plane == 0 ? k >= 0 : k < 0, plane == 0 ? a : b, len, sv, sp);
      const int i = 2 * plane;
      return sp * (out[i] - ref[i]) - sv * (out[i + 1] - ref[i + 1]);
    };
  };
  const std::array<double, 4> h = {1e-4, 1e-4, 1e-4, 1e-4};
  SupraRef r;
  r.af = abertest::coef(dev(k >= 0 ? 0 : 1), k >= 0 ? std::array<int, 4>{0, 3, 0, 0}
                                                     : std::array<int, 4>{0, 0, 0, 3}, h);
  r.ad = abertest::coef(dev(k >= 0 ? 1 : 0), k >= 0 ? std::array<int, 4>{0, 0, 0, 3}
                                                     : std::array<int, 4>{0, 3, 0, 0}, h);
  r.b = abertest::coef(dev(0), {0, 1, 0, 2}, h);
  return r;
}

TEST(AberThird, SupraMatchesTheIntegratedRayEquation) {
  for (double k : {12.0, -9.0}) {
    const double a = 0.7, b = 0.9, kk = 3.0e3, len = 0.08;
    double ax, bx, ay, by;
    tavo::supra(k, a, b, kk, len, ax, bx, ay, by);
    // Distances a, b belong to x and y; the focusing plane is x for k > 0.
    const SupraRef r = supraByIntegration(k, a, b, kk, len);
    const double f = k >= 0 ? ax : ay, d = k >= 0 ? ay : ax;
    EXPECT_NEAR(f, r.af, 1e-5 * std::fabs(r.af)) << k;
    EXPECT_NEAR(d, r.ad, 1e-5 * std::fabs(r.ad)) << k;
    EXPECT_NEAR(bx, r.b, 1e-5 * std::fabs(r.b)) << k;
    EXPECT_EQ(bx, by);
  }
}

TEST(AberThird, SuperimposedOctupoleIsMeasuredFromTheLensEntrance) {
  // Quadrupole centred 0.74 m from the object, 0.08 m long, with an
  // octupole over its whole length.
  const double zc = 0.74, len = 0.08, k = 12.0, b4 = 0.002, rad = 0.01;
  Session with, without;
  for (Session* t : {&with, &without}) {
    setQuad(*t, 3, 4.0, len, zc, k, 0.2, -0.25);
    t->s.bdata(4, 1) = 28.0;
    t->s.bdata(4, 2) = len;
    t->s.bdata(4, 3) = t == &with ? b4 : 0.0;
    t->s.bdata(4, 4) = rad;
    t->s.bdata(5, 1) = 9.0;
  }
  Third vw, vo;
  tavo::third(with.s, 3, vw);
  tavo::third(without.s, 3, vo);
  const double kk = with.qep() * b4 / (rad * rad * rad);
  const SupraRef r = supraByIntegration(k, zc - len / 2, zc - len / 2, kk, len);
  EXPECT_NEAR(vw(1, 1) - vo(1, 1), r.af, 1e-5 * std::fabs(r.af));
  EXPECT_NEAR(vw(2, 1) - vo(2, 1), r.ad, 1e-5 * std::fabs(r.ad));
  EXPECT_NEAR(vw(1, 2) - vo(1, 2), r.b, 1e-5 * std::fabs(r.b));
  // The position terms follow by the same substitution as the lens's own.
  EXPECT_NEAR(vw(1, 3) - vo(1, 3), 3.0 * r.af / zc, 1e-5 * std::fabs(3.0 * r.af / zc));
  // Distances to the centre would be off by far more than the tolerance.
  double ax, bx, ay, by;
  tavo::supra(k, zc, zc, kk, len, ax, bx, ay, by);
  EXPECT_GT(std::fabs(ax - r.af), 0.05 * std::fabs(r.af));
}

TEST(AberThird, FirstElementContributesItsOwnVector) {
  Session t;
  setQuad(t, 3, 4.0, 0.1, 0.5, 10.0, 0.2, -0.25);
  Third v, sum;
  tavo::third(t.s, 3, v);
  sum.fill(7.0);   // sums kept from an earlier walk are replaced
  tavo::addReferredToObject(t.s, 3, v, sum);
  for (int k = 0; k < 20; ++k) EXPECT_EQ(sum.a[k], v.a[k]);
}

TEST(AberThird, PrintoutOfLevelsEightAndNine) {
  Session t;
  Third v;
  for (int k = 0; k < 20; ++k) v.a[k] = k + 1;
  tavo::printThird(t.s, 1, v);
  tavo::printThird(t.s, 2, v);
  const std::string out = t.out.str();
  EXPECT_NE(out.find(" Third order lens coefficients\n X-Plane\n"), std::string::npos) << out;
  EXPECT_NE(out.find(" Third order system coefficients"), std::string::npos);
  // G13.5 of 1, 3, ... in the x plane; the tenth with a two-digit index.
  EXPECT_NE(out.find(" T(1,1) =    1.0000    T(1,2) =    3.0000    T(1,3) =    5.0000    "),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("S(2,10)=    20.000    "), std::string::npos) << out;
  EXPECT_NE(out.find(" Y-Plane"), std::string::npos);
}

TEST(AberThird, ZeroMagnificationInFrontIsReportedAndShownPlainly) {
  Session t;
  // A lens before the octupole whose x magnification is zero.
  t.s.bdata(3, 1) = 4.0;
  t.s.bdata(3, 2) = 0.05;
  t.s.bdata(3, 3) = 0.3;
  t.s.bdata(3, 5) = 0.3;
  t.s.bdata(3, 6) = 0.5;
  t.s.bdata(3, 7) = 0.5;
  t.s.bdata(3, 9) = 0.0;
  t.s.bdata(3, 10) = -2.0;
  t.s.bdata(3, 11) = 0.2;
  t.s.bdata(3, 12) = -0.2;
  t.s.bdata(4, 1) = 8.0;
  t.s.bdata(4, 2) = 0.05;
  t.s.bdata(4, 5) = 0.7;
  t.s.bdata(4, 8) = 1.0e4;
  t.s.bdata(5, 1) = 9.0;
  Third v, sum{};
  tavo::third(t.s, 4, v);
  tavo::addReferredToObject(t.s, 4, v, sum);
  tavo::printThird(t.s, 2, sum);
  const std::string out = t.out.str();
  EXPECT_NE(out.find(" ?TADD - ZERO MAGNIFICATION AT IZ =   4"), std::string::npos) << out;
  EXPECT_NE(out.find("TMX = "), std::string::npos);
  EXPECT_FALSE(std::isfinite(sum(1, 1)));
  EXPECT_TRUE(out.find("Infinity") != std::string::npos || out.find("NaN") != std::string::npos);
}
