// The aberration polynomial, the solenoid map, the focal positions and the
// aperture test, against hand-evaluated values.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "kestrim/kq.h"

namespace {

using kestrim::Kestrim;

struct Session {
  std::istringstream in;
  std::ostringstream out;
  Kestrim k{in, out};
};

struct Ray {
  double x, th, y, ph;
};

Ray map(const Kestrim& k, Ray r, double de = 0.0) {
  Ray o{};
  kestrim::coftran(k, r.x, r.th, r.y, r.ph, de, o.x, o.th, o.y, o.ph);
  return o;
}

Ray sole(const Kestrim& k, Ray r, double de = 0.0) {
  Ray o{};
  kestrim::cofsole(k, r.x, r.th, r.y, r.ph, de, o.x, o.th, o.y, o.ph);
  return o;
}

void loadIdentity(Kestrim& k) {
  k.coffile = 1;
  k.bmat.a.fill(0.0);
  for (int i = 1; i <= 4; ++i) k.bmat(i, i) = k.bmat(i, i + 4) = 1.0;
  k.chrm.fill(0.0);
}

// Every coefficient non-zero and different.
void loadBusy(Kestrim& k) {
  k.coffile = 1;
  for (size_t i = 0; i < k.bmat.a.size(); ++i) k.bmat.a[i] = 0.37 + 0.11 * static_cast<double>(i);
  k.chrm = {1.5, -2.5, 3.5, -4.5};
}

TEST(CofPolynomial, NoFileIsTheIdentity) {
  Session s;
  Ray r{1e-4, -2e-3, 3e-4, 4e-3};
  Ray o = map(s.k, r, 0.7);
  EXPECT_EQ(o.x, r.x);
  EXPECT_EQ(o.th, r.th);
  EXPECT_EQ(o.y, r.y);
  EXPECT_EQ(o.ph, r.ph);
  Ray q = sole(s.k, r, 0.7);
  EXPECT_EQ(q.x, r.x);
  EXPECT_EQ(q.ph, r.ph);
  double fx = 0, fy = 0;
  kestrim::coffocal(s.k, fx, fy);
  EXPECT_EQ(fx, 1e10);
  EXPECT_EQ(fy, 1e10);
}

TEST(CofPolynomial, AxialRayStaysOnTheAxis) {
  Session s;
  loadBusy(s.k);
  for (double de : {0.0, 1.0, -3.0}) {
    Ray o = map(s.k, {0, 0, 0, 0}, de);
    EXPECT_EQ(o.x, 0.0);
    EXPECT_EQ(o.th, 0.0);
    EXPECT_EQ(o.y, 0.0);
    EXPECT_EQ(o.ph, 0.0);
    Ray q = sole(s.k, {0, 0, 0, 0}, de);
    EXPECT_EQ(q.x, 0.0);
    EXPECT_EQ(q.y, 0.0);
  }
}

TEST(CofPolynomial, SphericalTermAloneDisplacesByTxTimesThetaCubed) {
  Session s;
  loadIdentity(s.k);
  // A demagnifying first-order matrix (unit determinant in each plane).
  s.k.bmat(1, 1) = -0.04;
  s.k.bmat(2, 1) = -5.0;
  s.k.bmat(2, 2) = -25.0;
  s.k.bmat(3, 3) = -0.05;
  s.k.bmat(4, 4) = -20.0;
  s.k.bmat.t3(1, 1) = 250.0;
  Ray o = map(s.k, {0, 1e-3, 0, 0}, 2.0);
  EXPECT_NEAR(o.x, 250.0 * 1e-9, 1e-22);
  EXPECT_DOUBLE_EQ(o.th, -25.0 * 1e-3);
  EXPECT_EQ(o.y, 0.0);
  EXPECT_EQ(o.ph, 0.0);
}

TEST(CofPolynomial, PhiOnlyRayGetsTheYSphericalAndNoThetaPhiSquaredTerm) {
  Session s;
  loadIdentity(s.k);
  for (int n = 1; n <= 12; ++n) {
    s.k.bmat.t3(1, n) = 10.0 * n;
    s.k.bmat.t3(2, n) = 1000.0 + n;
  }
  const double ph = 2e-3;
  Ray o = map(s.k, {0, 0, 0, ph});
  // x: only the phi-cubed coefficient Tx(12) survives (Tx(2) theta phi^2 = 0).
  EXPECT_NEAR(o.x, 120.0 * ph * ph * ph, 1e-20);
  // y: the y-plane spherical term Ty(1) phi^3.
  EXPECT_NEAR(o.y, 1001.0 * ph * ph * ph, 1e-20);
  EXPECT_EQ(o.ph, ph);
}

TEST(CofPolynomial, SecondOrderMonomialsComeInTheirFileOrder) {
  // x^2, x th, x y, x ph, th^2, th y, th ph, y^2, y ph, ph^2
  const double x = 2.0, th = 3.0, y = 5.0, ph = 7.0;
  const double expected[10] = {4, 6, 10, 14, 9, 15, 21, 25, 35, 49};
  for (int r = 1; r <= 4; ++r) {
    for (int kk = 1; kk <= 10; ++kk) {
      Session s;
      s.k.coffile = 1;   // no first order: only the one monomial remains
      s.k.bmat(r, 8 + kk) = 1.0;
      Ray o = map(s.k, {x, th, y, ph});
      const double got[4] = {o.x, o.th, o.y, o.ph};
      for (int q = 1; q <= 4; ++q)
        EXPECT_EQ(got[q - 1], q == r ? expected[kk - 1] : 0.0) << "row " << r << " monomial " << kk;
    }
  }
}

TEST(CofPolynomial, ThirdFifthAndChromaticTermsByHand) {
  Session s;
  s.k.coffile = 1;
  const double x = 2.0, th = 3.0, y = 5.0, ph = 7.0, de = 11.0;
  // x-plane monomials in the file's order, evaluated by hand.
  const double t3x[12] = {27, 3 * 49, 2 * 9, 2 * 49, 3 * 5 * 7, 4 * 3, 3 * 25, 2 * 5 * 7, 8, 2 * 25, 9 * 7, 343};
  const double t5x[6] = {243, 81 * 7, 27 * 49, 9 * 343, 3 * 2401, 16807};
  for (int n = 1; n <= 12; ++n) {
    s.k.bmat.a.fill(0.0);
    s.k.bmat.t3(1, n) = 1.0;
    EXPECT_EQ(map(s.k, {x, th, y, ph}).x, t3x[n - 1]) << "Tx(" << n << ")";
  }
  for (int n = 1; n <= 6; ++n) {
    s.k.bmat.a.fill(0.0);
    s.k.bmat.t5(1, n) = 1.0;
    EXPECT_EQ(map(s.k, {x, th, y, ph}).x, t5x[n - 1]) << "Fx(" << n << ")";
  }
  s.k.bmat.a.fill(0.0);
  s.k.chrm = {1.0, 0.0, 0.0, 0.0};
  EXPECT_EQ(map(s.k, {x, th, y, ph}, de).x, th * de);
  s.k.chrm = {0.0, 0.0, 1.0, 0.0};
  EXPECT_EQ(map(s.k, {x, th, y, ph}, de).x, x * de);
  s.k.chrm = {0.0, 1.0, 0.0, 0.0};
  EXPECT_EQ(map(s.k, {x, th, y, ph}, de).y, ph * de);
  s.k.chrm = {0.0, 0.0, 0.0, 1.0};
  EXPECT_EQ(map(s.k, {x, th, y, ph}, de).y, y * de);
}

TEST(CofPolynomial, YPlaneIsTheXPlaneWithTheCoordinatesExchanged) {
  Session s;
  loadIdentity(s.k);
  for (int n = 1; n <= 12; ++n) s.k.bmat.t3(1, n) = s.k.bmat.t3(2, n) = 3.0 + n;
  for (int n = 1; n <= 6; ++n) s.k.bmat.t5(1, n) = s.k.bmat.t5(2, n) = 20.0 - n;
  s.k.chrm = {0.3, 0.3, 0.7, 0.7};
  const Ray r{1.3e-4, -2.1e-3, -0.7e-4, 3.3e-3};
  Ray a = map(s.k, r, 0.4);
  Ray b = map(s.k, {r.y, r.ph, r.x, r.th}, 0.4);
  EXPECT_DOUBLE_EQ(a.x, b.y);
  EXPECT_DOUBLE_EQ(a.y, b.x);
}

TEST(CofPolynomial, FocalPositionsOfAThinLensAndAnUnfocusedPlane) {
  Session s;
  loadIdentity(s.k);
  // Thin lens of focal length 0.5 m at the end of the system: focus 0.5 m on.
  s.k.bmat(2, 1) = -2.0;
  double fx = 0, fy = 0;
  kestrim::coffocal(s.k, fx, fy);
  EXPECT_DOUBLE_EQ(fx, 0.5);
  EXPECT_EQ(fy, 1e10);   // a drift does not focus
  s.k.bmat(4, 3) = 1e-11;  // below the threshold
  kestrim::coffocal(s.k, fx, fy);
  EXPECT_EQ(fy, 1e10);
}

TEST(CofSolenoid, SphericalAberrationActsRadially) {
  Session s;
  loadIdentity(s.k);
  const double c = -400.0;
  s.k.bmat.t3(1, 1) = c;
  s.k.bmat.t3(2, 1) = 9999.0;  // the y-plane coefficient is not used
  // A ray in the x plane: the whole displacement |C| alpha^3 goes to x.
  Ray o = sole(s.k, {1e-6, 2e-3, 0, 0});
  EXPECT_NEAR(o.x, 1e-6 + 400.0 * 8e-9, 1e-18);
  EXPECT_NEAR(o.y, 0.0, 1e-18);
  EXPECT_EQ(o.th, 2e-3);
  // A ray in the y plane goes to y alone.
  o = sole(s.k, {0, 0, -1e-6, 2e-3});
  EXPECT_NEAR(o.x, 0.0, 1e-18);
  EXPECT_NEAR(o.y, -1e-6 - 400.0 * 8e-9, 1e-18);
  // At 45 degrees each plane takes cos 45 of the radial displacement.
  const double a = 1e-3;
  o = sole(s.k, {1e-6, a, 1e-6, a});
  const double radial = 400.0 * std::pow(std::sqrt(2.0) * a, 3);
  EXPECT_NEAR(o.x, 1e-6 + radial / std::sqrt(2.0), 1e-17);
  EXPECT_NEAR(o.y, 1e-6 + radial / std::sqrt(2.0), 1e-17);
}

TEST(CofAperture, NoFileRejectsEveryRay) {
  Session s;
  EXPECT_EQ(kestrim::cofcheck(s.k, 0, 0, 0, 0), 1);
  EXPECT_EQ(kestrim::cofcheck(s.k, 1e-9, 0, 0, 0), 1);
}

TEST(CofAperture, SquareEdgePassesAndBeyondRejects) {
  Session s;
  s.k.coffile = 1;
  s.k.cofshape = 'S';
  s.k.dis.objap = 2.0;
  s.k.obap.v[2] = 1e-4;  // aperture X/2
  s.k.obap.v[3] = 1e-4;  // aperture Y/2
  EXPECT_EQ(kestrim::cofcheck(s.k, 1e-4, 0, 0, 0), 0);
  EXPECT_EQ(kestrim::cofcheck(s.k, 0, 5e-5, 0, 0), 0);        // xa = 2 * 5e-5
  EXPECT_EQ(kestrim::cofcheck(s.k, -1e-4, 0, 1e-4, 0), 0);    // a corner
  EXPECT_EQ(kestrim::cofcheck(s.k, 1.000001e-4, 0, 0, 0), 1);
  EXPECT_EQ(kestrim::cofcheck(s.k, 0, 0, 0, -5.0001e-5), 1);
  // An off-centre opening.
  s.k.obap.v[6] = 1e-3;
  EXPECT_EQ(kestrim::cofcheck(s.k, 0, 0, 0, 0), 1);
  EXPECT_EQ(kestrim::cofcheck(s.k, 0, 5.5e-4, 0, 0), 0);
}

TEST(CofAperture, CircularIsAnEllipseAndAZeroHalfWidthIsOpen) {
  Session s;
  s.k.coffile = 1;
  s.k.cofshape = 'C';
  s.k.dis.objap = 1.0;
  s.k.obap.v[2] = 2e-4;
  s.k.obap.v[3] = 1e-4;
  EXPECT_EQ(kestrim::cofcheck(s.k, 0, 2e-4, 0, 0), 0);
  EXPECT_EQ(kestrim::cofcheck(s.k, 0, 0, 0, 1e-4), 0);
  // (0.8)^2 + (0.8)^2 > 1: outside although inside the bounding box.
  EXPECT_EQ(kestrim::cofcheck(s.k, 1.6e-4, 0, 0.8e-4, 0), 1);
  EXPECT_EQ(kestrim::cofcheck(s.k, 1.2e-4, 0, 0.6e-4, 0), 0);
  // Y/2 = 0 limits only x.
  s.k.obap.v[3] = 0.0;
  EXPECT_EQ(kestrim::cofcheck(s.k, 0, 0, 1.0, 0), 0);
  EXPECT_EQ(kestrim::cofcheck(s.k, 1.9e-4, 0, 1.0, 0), 0);
  EXPECT_EQ(kestrim::cofcheck(s.k, 2.1e-4, 0, 0, 0), 1);
}

}  // namespace
