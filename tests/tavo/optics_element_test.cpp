// Element transfer matrices against hand calculation and physics: unit
// determinants, drift limits, plane symmetry and the thin-lens limit.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace {

using tavo::Mat4;

constexpr double kE = 1.6021892e-19, kC = 299792458.0, kU = 1.660565416e-27;

// A session object with a particle, a beam and rows given as
// {code, length, col3, col4}, closed by a system end.
struct Bench {
  std::istringstream in;
  std::ostringstream out;
  tavo::Tavo s{in, out};
  Bench(double q, double massU, double tMeV, std::initializer_list<std::array<double, 4>> rows) {
    s.bdata(1, 2) = q;
    s.bdata(1, 3) = massU;
    s.bdata(1, 4) = s.bdata(1, 12) = tMeV;
    s.bdata(2, 1) = 1.0;
    int r = 3;
    for (const auto& row : rows) {
      for (int c = 0; c < 4; ++c) s.bdata(r, c + 1) = row[c];
      ++r;
    }
    s.bdata(r, 1) = 9.0;
  }
  Mat4 system() {
    Mat4 a;
    tavo::stigmat(s, 1, a);
    return a;
  }
};

double det4(const Mat4& m) {
  // Laplace expansion over the 2x2 minors of the first two rows.
  double d = 0.0;
  const int pairs[6][2] = {{1, 2}, {1, 3}, {1, 4}, {2, 3}, {2, 4}, {3, 4}};
  for (int a = 0; a < 6; ++a) {
    int c1 = pairs[a][0], c2 = pairs[a][1];
    double top = m(1, c1) * m(2, c2) - m(1, c2) * m(2, c1);
    int o[2], n = 0;
    for (int c = 1; c <= 4; ++c)
      if (c != c1 && c != c2) o[n++] = c;
    double bot = m(3, o[0]) * m(4, o[1]) - m(3, o[1]) * m(4, o[0]);
    int sign = ((c1 + c2 + 1 + 2) % 2 == 0) ? 1 : -1;
    d += sign * top * bot;
  }
  return d;
}

// Inverse magnetic rigidity Q e / p of a particle, p relativistic.
double invRigidity(double q, double massU, double tMeV) {
  double t = tMeV * 1e6;
  double p = kE * std::sqrt((t / kC) * (t / kC) + 2.0 * massU * kU * t / kE);
  return q * kE / p;
}

void expectNear(const Mat4& a, const Mat4& b, double tol) {
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 4; ++c) EXPECT_NEAR(a(r, c), b(r, c), tol) << "A(" << r << "," << c << ")";
}

TEST(OpticsQuad, MatrixAgreesWithHandCalculation) {
  // 3 MeV protons, 0.3 T pole tip, 10 mm bore, 0.1 m long.
  Bench b(1, 1.007276, 3.0, {{4.0, 0.1, 0.3, 0.01}});
  Mat4 m;
  b.s.bdata(3, 5) = 0.05;
  tavo::quad(b.s, 3, m);
  double k = std::sqrt(invRigidity(1, 1.007276, 3.0) * 0.3 / 0.01);
  double phi = k * 0.1;
  auto rel = [](double got, double want) { EXPECT_NEAR(got, want, 1e-12 * std::fabs(want)); };
  rel(m(1, 1), std::cos(phi));
  rel(m(1, 2), std::sin(phi) / k);
  rel(m(2, 1), -k * std::sin(phi));
  rel(m(2, 2), std::cos(phi));
  rel(m(3, 3), std::cosh(phi));
  rel(m(3, 4), std::sinh(phi) / k);
  rel(m(4, 3), k * std::sinh(phi));
  EXPECT_EQ(m(1, 3), 0.0);
  EXPECT_NEAR(b.s.bdata(3, 8), k, 1e-12 * k);
  EXPECT_NEAR(b.s.bdata(3, 11), 1.0 / (k * std::sin(phi)), 1e-9);
  EXPECT_NEAR(det4(m), 1.0, 1e-12);
}

TEST(OpticsQuad, NegativeFieldSwapsPlanesAndQuarterTurnReversesField) {
  Bench b(1, 1.007276, 3.0, {{4.0, 0.08, 0.25, 0.0075}});
  Mat4 pos, neg, rot;
  tavo::quad(b.s, 3, pos);
  b.s.bdata(3, 3) = -0.25;
  tavo::quad(b.s, 3, neg);
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 2; ++c) {
      EXPECT_DOUBLE_EQ(neg(r, c), pos(r + 2, c + 2));
      EXPECT_DOUBLE_EQ(neg(r + 2, c + 2), pos(r, c));
    }
  b.s.bdata(3, 3) = 0.25;
  b.s.rotat[3] = std::acos(-1.0) / 2.0;
  tavo::quad(b.s, 3, rot);
  expectNear(rot, neg, 1e-12);
}

TEST(OpticsQuad, ShortStrongQuadrupoleIsTheThinLens) {
  // k^2 L held at 4 /m while L shrinks: f -> 1/(k^2 L) = 0.25 m.
  double len = 1e-6;
  double k2 = 4.0 / len;
  double field = k2 * 0.01 / invRigidity(1, 1.007276, 3.0);
  Bench b(1, 1.007276, 3.0, {{4.0, len, field, 0.01}});
  Mat4 m;
  tavo::quad(b.s, 3, m);
  EXPECT_NEAR(-1.0 / m(2, 1), 0.25, 1e-6);
  EXPECT_NEAR(1.0 / m(4, 3), 0.25, 1e-6);
  // The thin-lens values of diagnostic level -6 give the same focal length.
  b.s.bdata(1, 5) = -6;
  b.s.bdata(3, 5) = 1.0;
  tavo::quad(b.s, 3, m);
  EXPECT_NEAR(b.s.bdata(3, 11), 0.25, 1e-12);
  EXPECT_NEAR(b.s.bdata(3, 12), -0.25, 1e-12);
  // Object 1 m before the thin lens: 1/v = 1/f - 1/d gives v = 1/3 m.
  EXPECT_NEAR(b.s.bdata(3, 6) - b.s.bdata(3, 5), 1.0 / 3.0, 1e-12);
  EXPECT_NEAR(b.s.bdata(3, 9), -1.0 / 3.0, 1e-12);
  // Object in the lens: no NaN, the image stays there.
  b.s.bdata(3, 5) = 0.0;
  tavo::quad(b.s, 3, m);
  EXPECT_EQ(b.s.bdata(3, 9), 1.0);
  EXPECT_EQ(b.s.bdata(3, 6), 0.0);
}

TEST(OpticsQuad, ZeroFieldLengthOrBoreGivesTheDrift) {
  Bench b(1, 1.007276, 3.0, {{4.0, 0.1, 0.0, 0.01}});
  for (int c = 5; c <= 12; ++c) b.s.bdata(3, c) = 7.0;
  Mat4 m;
  tavo::quad(b.s, 3, m);
  Mat4 d = Mat4::identity();
  d(1, 2) = d(3, 4) = 0.1;
  expectNear(m, d, 0.0);
  for (int c = 5; c <= 12; ++c) EXPECT_EQ(b.s.bdata(3, c), 0.0);
  // Zero length with a field.
  b.s.bdata(3, 2) = 0.0;
  b.s.bdata(3, 3) = 0.3;
  tavo::quad(b.s, 3, m);
  expectNear(m, Mat4::identity(), 0.0);
  // Zero bore: a message, a drift and no NaN anywhere.
  b.s.bdata(3, 2) = 0.1;
  b.s.bdata(3, 4) = 0.0;
  Mat4 a = b.system();
  EXPECT_NE(b.out.str().find("?QUAD- Zero bore radius in element  3"), std::string::npos);
  expectNear(a, d, 0.0);
  for (int c = 1; c <= 12; ++c) EXPECT_TRUE(std::isfinite(b.s.bdata(3, c)));
}

TEST(OpticsQuad, NoEnergyIsReportedNotNaN) {
  Bench b(1, 1.007276, 0.0, {{3.0, 0.2, 0, 0}, {4.0, 0.1, 0.3, 0.01}, {6.0, 0.1, 0.3, 0.01}});
  Mat4 a = b.system();
  EXPECT_NE(b.out.str().find("?QUAD- No particle energy at element  4"), std::string::npos);
  for (double x : a.a) EXPECT_TRUE(std::isfinite(x));
  EXPECT_NEAR(a(1, 2), 0.4, 1e-15);
}

TEST(OpticsQuad, WrongKindIsRefusedAndMatrixUntouched) {
  Bench b(1, 1.007276, 3.0, {{3.0, 0.5, 0, 0}});
  Mat4 m;
  m(1, 1) = 42.0;
  tavo::quad(b.s, 3, m);
  tavo::sext(b.s, 3, m);
  tavo::octu(b.s, 3, m);
  tavo::solenoid(b.s, 3, m);
  tavo::accel(b.s, 3, m);
  EXPECT_EQ(m(1, 1), 42.0);
  const std::string o = b.out.str();
  EXPECT_NE(o.find(" ?QUAD- Called for non-quad ELE= 3ITYPE=  3.0"), std::string::npos);
  EXPECT_NE(o.find(" ?SEXT- Called for non-sextupole ELE= 3ITYPE=  3.0"), std::string::npos);
  EXPECT_NE(o.find(" ?OCTU- Called for non-octupole IZ =  3"), std::string::npos);
  EXPECT_NE(o.find(" ?SOLENOID- Called for non-solenoid ELE =  3ITYPE=  3.00"), std::string::npos);
  EXPECT_NE(o.find(" ?ACCEL- Called for non-accelerator ELE =  3ITYPE=  3.00"), std::string::npos);
}

TEST(OpticsQuad, SuperimposedElectricPartnerAddsItsStrength) {
  // A magnetic quadrupole with an electric one on top: K = km2 - ke2.
  double t = 3.0;
  Bench b(1, 1.007276, t, {{4.0, 0.1, 0.3, 0.01}, {34.0, 0.1, 2000.0, 0.01}});
  Mat4 m;
  for (int c = 5; c <= 12; ++c) b.s.bdata(4, c) = 5.0;
  tavo::quad(b.s, 3, m);
  double km2 = invRigidity(1, 1.007276, t) * 0.3 / 0.01;
  double ke2 = 2000.0 / (0.01 * 0.01 * t * 1e6);
  double k = km2 - ke2;
  EXPECT_NEAR(m(2, 1), -std::sqrt(k) * std::sin(std::sqrt(k) * 0.1), 1e-10);
  EXPECT_NEAR(b.s.bdata(4, 8), ke2 / k, 1e-12);
  for (int c = 5; c <= 12; ++c)
    if (c != 8) {
      EXPECT_EQ(b.s.bdata(4, c), 0.0);
    }
  // The pair is one matrix: the partner adds no z and no matrix.
  Mat4 a = b.system();
  EXPECT_NEAR(b.s.syspb.totlen, 0.1, 1e-15);
  EXPECT_NEAR(a(2, 1), m(2, 1), 1e-15);
}

TEST(OpticsLight, ImageAndMagnificationFollowTheImagingCondition) {
  // A quadrupole 2 m behind the object: the image is where a drift behind
  // the lens makes M(1,2) vanish, the magnification is then M(1,1).
  Bench b(1, 1.007276, 3.0, {{3.0, 2.0, 0, 0}, {4.0, 0.1, 0.2, 0.01}, {3.0, 1.0, 0, 0}});
  b.system();
  Mat4 q;
  tavo::quad(b.s, 4, q);
  double d = 2.0;
  double a = q(1, 1), bb = q(1, 2), c = q(2, 1), dd = q(2, 2);
  double v = -(a * d + bb) / (c * d + dd);   // exit face to image
  double mag = a + v * c;                    // M(1,1) of drift(v) Q drift(d)
  EXPECT_NEAR(b.s.bdata(4, 6), 2.1 + v, 1e-12);
  EXPECT_NEAR(b.s.bdata(4, 9), mag, 1e-12);
  EXPECT_NEAR(b.s.bdata(4, 11), -1.0 / c, 1e-12);
}

TEST(OpticsElements, StaticMagneticElementsHaveUnitDeterminant) {
  Bench b(2, 4.002602, 6.0,
          {{3.0, 0.3, 0, 0}, {4.0, 0.1, 0.4, 0.008}, {3.0, 0.1, 0, 0}, {4.0, 0.1, -0.5, 0.008},
           {6.0, 0.05, 0.2, 0.008}, {11.0, 0.2, 1.5, 0.0}, {7.0, 0.2, 0.1, 0.0}, {2.0, 0.1, 0.01, 0.0},
           {8.0, 0.05, 0.1, 0.008}, {3.0, 0.2, 0, 0}});
  b.s.rotat[4] = 0.3;
  Mat4 a = b.system();
  EXPECT_NEAR(det4(a), 1.0, 1e-10);
  Mat4 m;
  tavo::solenoid(b.s, 8, m);
  EXPECT_NEAR(det4(m), 1.0, 1e-12);
  tavo::velselect(b.s, 9, m);
  EXPECT_NEAR(det4(m), 1.0, 1e-12);
}

TEST(OpticsElements, SolenoidIsARotatedFocusingLens) {
  Bench b(1, 1.007276, 3.0, {{11.0, 0.2, 1.0, 0.0}});
  Mat4 m;
  tavo::solenoid(b.s, 3, m);
  double k = 0.5 * invRigidity(1, 1.007276, 3.0);   // Larmor wave number for 1 T
  double th = k * 0.2;
  // In the rotating frame each plane focuses with k; the frame turns by th.
  EXPECT_NEAR(m(1, 1), std::cos(th) * std::cos(th), 1e-14);
  EXPECT_NEAR(m(2, 1), -k * std::sin(th) * std::cos(th), 1e-12);
  EXPECT_NEAR(m(1, 3), std::sin(th) * std::cos(th), 1e-14);
  EXPECT_NEAR(b.s.bdata(3, 11), 1.0 / (k * std::sin(th) * std::cos(th)), 1e-9);
}

TEST(OpticsElements, VelocitySelectorBalancesAndFocusesInX) {
  Bench b(1, 1.007276, 3.0, {{7.0, 0.5, 0.2, 0.0}});
  Mat4 m;
  tavo::velselect(b.s, 3, m);
  double v = std::sqrt(2.0 * 3e6 * kE / (1.007276 * kU));
  EXPECT_NEAR(b.s.bdata(3, 4), 0.2 * v, 1e-6 * 0.2 * v);
  double k = kE * 0.2 / (1.007276 * kU * v);
  EXPECT_NEAR(m(1, 1), std::cos(k * 0.5), 1e-12);
  EXPECT_NEAR(m(2, 1), -k * std::sin(k * 0.5), 1e-12);
  EXPECT_NEAR(m(3, 4), 0.5, 0.0);
  EXPECT_NEAR(det4(m), 1.0, 1e-12);
}

TEST(OpticsElements, AcceleratingSectionAndChargeConvention) {
  // Doubly charged ion: 0.5 MV across the section gains 1 MeV, and a
  // quadrupole behind it sees 2 + 1 = 3 MeV.
  Bench b(2, 4.002602, 2.0, {{10.0, 0.4, 0.5, 0.0}, {4.0, 0.1, 0.3, 0.01}});
  b.system();
  EXPECT_DOUBLE_EQ(tavo::kineticEnergyMeV(b.s, 4), 3.0);
  Mat4 m;
  tavo::accel(b.s, 3, m);
  double r = std::sqrt(3.0 / 2.0);
  EXPECT_NEAR(m(2, 2), 1.0 / r, 1e-15);
  EXPECT_NEAR(m(1, 2), 0.8 / (r + 1.0), 1e-15);
  EXPECT_NEAR(det4(m), 2.0 / 3.0, 1e-14);   // phase space shrinks as T_in/T_out
  double k = std::sqrt(invRigidity(2, 4.002602, 3.0) * 0.3 / 0.01);
  EXPECT_NEAR(b.s.bdata(4, 8), k, 1e-12 * k);
}

TEST(OpticsElements, GapLensAtTheExitOfAColumnDiverges) {
  // Davisson-Calbick: f = 4 V / (E_after - E_before); 0.6 MV/m before,
  // none after, 0.2 MeV protons: f = -4 * 0.2 / 0.6 m. Any stored length
  // becomes 5 mm before z advances.
  Bench b(1, 1.007276, 0.02, {{10.0, 0.3, 0.18, 0.0}, {13.0, 0.1, 0.005, 0.0}, {3.0, 0.5, 0, 0}});
  b.system();
  EXPECT_NEAR(b.s.bdata(4, 11), -4.0 * 0.2 / 0.6, 1e-12);
  EXPECT_DOUBLE_EQ(b.s.syspb.totlen, 0.3 + 0.005 + 0.5);
  EXPECT_DOUBLE_EQ(b.s.bdata(4, 2), 0.005);
}

TEST(OpticsElements, EinzelAndCylinderLenses) {
  Bench b(1, 1.007276, 0.02, {{15.0, 0.05, 5.0, 0.0}, {17.0, 0.05, 4.0, 0.0}, {15.0, 0.05, 1.0, 0.0}});
  b.system();
  Mat4 m;
  tavo::einzel(b.s, 3, m);
  EXPECT_NEAR(det4(m), 1.0, 1e-12);
  tavo::cyl(b.s, 4, m);
  EXPECT_NEAR(det4(m), 4.0, 1e-12);   // momentum ratio squared per plane: sqrt(V) each
  tavo::einzel(b.s, 5, m);            // ratio 1: no lens
  EXPECT_EQ(m(2, 1), 0.0);
  EXPECT_EQ(m(1, 2), 0.05);
}

TEST(OpticsElements, EinzelErrorStopsTheWalkAtTheSystemEnd) {
  // A ratio below -0.6 has no fitted lens: message, and the walk goes to
  // the system end without the rows behind the lens.
  Bench b(1, 1.007276, 0.02, {{3.0, 0.1, 0, 0}, {15.0, 0.05, -2.0, 0.0}, {3.0, 0.7, 0, 0}});
  Mat4 a = b.system();
  EXPECT_NE(b.out.str().find(" ?EINZ- Error in element  4"), std::string::npos);
  EXPECT_EQ(b.s.syspa, 6);
  EXPECT_NEAR(a(1, 2), 0.1, 1e-15);
  for (int c = 1; c <= 12; ++c) EXPECT_TRUE(std::isfinite(b.s.bdata(4, c)) || c == 3);
}

TEST(OpticsElements, DipoleBendsTheBeamVector) {
  // 0.01 T over 0.1 m: angle -L/rho, position -L^2/(2 rho), rho = p/(Q e B).
  Bench b(1, 1.007276, 3.0, {{2.0, 0.1, 0.01, 0.0}, {3.0, 1.0, 0, 0}});
  b.system();
  double inv = invRigidity(1, 1.007276, 3.0) * 0.01;
  EXPECT_NEAR(b.s.bspec[1], -0.1 * inv, 1e-15);
  EXPECT_NEAR(b.s.bspec[0], -0.01 * inv / 2.0 - 1.0 * 0.1 * inv, 1e-15);
  EXPECT_EQ(b.s.bspec[2], 0.0);
}

}  // namespace
