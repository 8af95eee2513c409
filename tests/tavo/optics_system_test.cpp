// The system evaluation: walk, lengths, beam vector, focal lengths and the
// printouts that read it.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace {

using tavo::Mat4;

struct Bench {
  std::istringstream in;
  std::ostringstream out;
  tavo::Tavo s{in, out};
  Bench(double tMeV, std::initializer_list<std::array<double, 4>> rows, bool end = true) {
    s.bdata(1, 2) = 1.0;
    s.bdata(1, 3) = 1.007276;
    s.bdata(1, 4) = s.bdata(1, 12) = tMeV;
    s.bdata(2, 1) = 1.0;
    s.bdata(2, 2) = 1e-5;
    s.bdata(2, 3) = 2e-4;
    s.bdata(2, 4) = -1e-5;
    s.bdata(2, 5) = 1e-4;
    int r = 3;
    for (const auto& row : rows) {
      for (int c = 0; c < 4; ++c) s.bdata(r, c + 1) = row[c];
      ++r;
    }
    if (end) s.bdata(r, 1) = 9.0;
  }
  Mat4 eval(int order = 1) {
    Mat4 a;
    tavo::stigmat(s, order, a);
    return a;
  }
};

TEST(OpticsSystem, DriftsOnlyGiveTheirSumAndAHalfwayCentre) {
  Bench b(3.0, {{3.0, 0.5, 0, 0}, {3.0, 1.25, 0, 0}, {3.0, 0.25, 0, 0}});
  Mat4 a = b.eval();
  EXPECT_DOUBLE_EQ(a(1, 2), 2.0);
  EXPECT_DOUBLE_EQ(a(3, 4), 2.0);
  EXPECT_DOUBLE_EQ(a(1, 1), 1.0);
  EXPECT_DOUBLE_EQ(b.s.syspb.totlen, 2.0);
  EXPECT_DOUBLE_EQ(b.s.syspb.centre, 1.0);   // no lens: the middle of the system
  EXPECT_EQ(b.s.syspa, 6);
  // The beam vector is the drifted one: x + L theta.
  EXPECT_NEAR(b.s.bdata(2, 7), 1e-5 + 2.0 * 2e-4, 1e-18);
  EXPECT_NEAR(b.s.bdata(2, 9), -1e-5 + 2.0 * 1e-4, 1e-18);
}

TEST(OpticsSystem, LensSectionCentreSpansTheFieldElements) {
  // Lens section from z = 1.0 (first lens entrance, even at the start of
  // a walk) to z = 1.3.
  Bench b(3.0, {{3.0, 1.0, 0, 0}, {4.0, 0.1, 0.2, 0.01}, {3.0, 0.1, 0, 0}, {4.0, 0.1, -0.2, 0.01}, {3.0, 0.5, 0, 0}});
  b.eval();
  EXPECT_NEAR(b.s.syspb.centre, 1.15, 1e-15);
  EXPECT_NEAR(b.s.bdata(4, 5), 1.05, 1e-15);
  EXPECT_NEAR(b.s.bdata(6, 5), 1.25, 1e-15);
  Bench c(3.0, {{4.0, 0.1, 0.2, 0.01}, {3.0, 0.1, 0, 0}, {4.0, 0.1, -0.2, 0.01}, {3.0, 0.5, 0, 0}});
  c.eval();
  EXPECT_NEAR(c.s.syspb.centre, 0.15, 1e-15);
}

TEST(OpticsSystem, CollimatorAddsNothingAndHidesNoImage) {
  Bench with(3.0, {{3.0, 1.0, 0, 0}, {4.0, 0.1, 0.2, 0.01}, {3.0, 0.1, 0, 0}, {5.0, 0.0, 0.001, 0.002},
                   {3.0, 0.1, 0, 0}, {4.0, 0.1, -0.2, 0.01}, {3.0, 0.5, 0, 0}});
  Bench without(3.0, {{3.0, 1.0, 0, 0}, {4.0, 0.1, 0.2, 0.01}, {3.0, 0.2, 0, 0},
                      {4.0, 0.1, -0.2, 0.01}, {3.0, 0.5, 0, 0}});
  Mat4 a = with.eval(), b = without.eval();
  for (int k = 0; k < 16; ++k) EXPECT_NEAR(a.a[k], b.a[k], 1e-14);
  for (int c = 5; c <= 12; ++c) EXPECT_NEAR(with.s.bdata(8, c), without.s.bdata(6, c), 1e-12) << c;
}

TEST(OpticsSystem, MissingSystemEndIsReported) {
  Bench b(3.0, {}, false);
  for (int r = 3; r <= 40; ++r) {
    b.s.bdata(r, 1) = 3.0;
    b.s.bdata(r, 2) = 0.1;
  }
  b.s.syspa = 12;
  Mat4 a = b.eval();
  EXPECT_NE(b.out.str().find(" ?STIGMAT- No end element IZ = 41"), std::string::npos);
  EXPECT_NEAR(a(1, 2), 3.8, 1e-12);
  EXPECT_EQ(b.s.syspa, 12);
}

TEST(OpticsSystem, DiagnosticLevelAboveNineFallsBackToOne) {
  Bench b(3.0, {{3.0, 1.0, 0, 0}});
  b.s.bdata(1, 5) = 12.0;
  b.eval();
  EXPECT_EQ(b.s.bdata(1, 5), 1.0);
  EXPECT_NE(b.out.str().find("Initial beam vector;"), std::string::npos);
  EXPECT_NE(b.out.str().find("Final beam vector;"), std::string::npos);
}

TEST(OpticsSystem, DisplacedLensKicksOnlyTheDisplacedVector) {
  Bench b(3.0, {{3.0, 1.0, 0, 0}, {4.0, 0.1, 0.2, 0.01}, {3.0, 0.5, 0, 0}});
  b.s.displ[4] = {1e-4, -2e-4};
  b.eval();
  Mat4 q;
  tavo::quad(b.s, 4, q);
  Mat4 d = Mat4::identity();
  d(1, 2) = d(3, 4) = 0.5;
  // Difference after the lens is (M - I) D, then drifted.
  double dq[4] = {(q(1, 1) - 1) * 1e-4, q(2, 1) * 1e-4, (q(3, 3) - 1) * -2e-4, q(4, 3) * -2e-4};
  double want[4] = {dq[0] + 0.5 * dq[1], dq[1], dq[2] + 0.5 * dq[3], dq[3]};
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(b.s.bdata(2, k + 7) - b.s.bspec[k], want[k], 1e-15);
}

TEST(OpticsSystem, HigherOrderTraceAppliesTheSystemPolynomialOnce) {
  Bench b(3.0, {{3.0, 1.0, 0, 0}, {4.0, 0.1, 0.2, 0.01}, {3.0, 0.1, 0, 0}, {4.0, 0.1, -0.25, 0.01},
                {3.0, 0.3, 0, 0}});
  b.s.bdata(2, 6) = 0.02;
  double dp = 0.5;
  tavo::chroma(b.s, dp);
  Mat4 a = b.eval(2);
  double v[4] = {1e-5, 2e-4, -1e-5, 1e-4};
  tavo::vecmul(b.s, 2, v, a);
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(b.s.bspec[k], v[k], 1e-15);
    EXPECT_NEAR(b.s.bdata(2, k + 7), v[k], 1e-15);
  }
}

TEST(OpticsSystem, ChromaWorksWithZeroStepAndRestoresTheTable) {
  Bench b(3.0, {{3.0, 1.0, 0, 0}, {4.0, 0.1, 0.2, 0.01}, {3.0, 0.5, 0, 0}});
  b.eval();
  double before = b.s.bdata(4, 11);
  double dp = 0.0;
  tavo::chroma(b.s, dp);
  EXPECT_EQ(dp, 0.001);
  EXPECT_EQ(b.s.bdata(1, 12), 3.0);
  EXPECT_EQ(b.s.bdata(1, 4), 3.0);
  EXPECT_DOUBLE_EQ(b.s.bdata(4, 11), before);
  // A drift-only system: x per theta is the length at any energy.
  Bench d(3.0, {{3.0, 2.0, 0, 0}});
  dp = 0.5;
  tavo::chroma(d.s, dp);
  EXPECT_NEAR(d.s.aber0(1), 2.0 / 0.5, 1e-12);
  EXPECT_NEAR(d.s.aber0(3), 1.0 / 0.5, 1e-12);
}

TEST(OpticsSystem, FocalLengthAndMagnificationOfOneLens) {
  Bench b(3.0, {{3.0, 1.0, 0, 0}, {4.0, 0.1, 0.2, 0.01}, {3.0, 0.5, 0, 0}});
  b.eval();
  Mat4 q;
  tavo::quad(b.s, 4, q);
  double fx, fy, mx, my;
  tavo::focal(b.s, b.s.syspa, fx, fy);
  EXPECT_NEAR(fx, -1.0 / q(2, 1), 1e-12);
  EXPECT_NEAR(fy, -1.0 / q(4, 3), 1e-12);
  tavo::mag(b.s, b.s.syspa, mx, my);
  EXPECT_EQ(mx, b.s.bdata(4, 9));
  EXPECT_EQ(my, b.s.bdata(4, 10));
  // A system without lenses has an infinite focal length.
  Bench d(3.0, {{3.0, 2.0, 0, 0}});
  d.eval();
  tavo::focal(d.s, d.s.syspa, fx, fy);
  EXPECT_EQ(fx, 1e10);
  EXPECT_NE(d.out.str().find("%FOCAL- Infinite focal length (sub)system IZ =  4"), std::string::npos);
}

TEST(OpticsSystem, GeomPrintsParticleDataAndAstigmatism) {
  Bench b(3.0, {{3.0, 2.0, 0, 0}});
  Mat4 a = b.eval();
  tavo::geom(b.s, b.s.syspa, a);
  const std::string o = b.out.str();
  // 3 MeV protons: gamma = 1 + T/(m c^2), beta = sqrt(1 - 1/gamma^2).
  double mc2 = 1.007276 * 1.660565416e-27 * 299792458.0 * 299792458.0 / 1.6021892e-19 / 1e6;
  double g = 1.0 + 3.0 / mc2;
  double beta = std::sqrt(1.0 - 1.0 / (g * g));
  size_t at = o.find(" m/s");
  ASSERT_NE(at, std::string::npos);
  EXPECT_NEAR(std::strtod(o.c_str() + at + 4, nullptr), 100.0 * beta, 1e-5);
  at = o.find("Tau = (1 - v**2/c**2)**0.5");
  ASSERT_NE(at, std::string::npos);
  EXPECT_NEAR(std::strtod(o.c_str() + at + 29, nullptr), 1.0 / g, 1e-6);
  EXPECT_NE(o.find("This is an ASTIGMATIC system  ASTIG ="), std::string::npos);
  EXPECT_NE(o.find("(Magnifications are RMS means)"), std::string::npos);
}

}  // namespace
