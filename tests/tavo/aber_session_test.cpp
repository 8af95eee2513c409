// The aberration listings THIRD, AB3, AB2 and SYSTEM in whole sessions,
// checked against hand calculation and an integration of the ray equation.
#include <cmath>

#include "aber_numeric.h"
#include "session.h"

using abertest::numbersAfter;
using abertest::Proton;

namespace {

class AberSession : public abertest::SessionDir {};

const std::vector<double> kParticle = {0.0, 1.0, 1.007276, 3.0, 0.0};
const std::vector<double> kBeam = {1.0, 1e-5, 2e-4, 1e-5, 2e-4, 0.01};

TEST_F(AberSession, LoneQuadrupoleThroughThird) {
  writeSystem("lone.tav", "One quadrupole",
              {kParticle, kBeam, {3, 0.5, 0, 0}, {4, 0.06, 0.15, 0.006}, {3, 0.3, 0, 0}, {9, 0, 0, 0}});
  const std::string out = run("DATA lone\nTHIRD\nTHIRD/I\n");
  // Hand calculation: k^2 = (Qe/p) B/a, phi = kL, thick-lens focal lengths,
  // object distance u to the lens centre.
  const double len = 0.06, k = std::sqrt(Proton().qep() * 0.15 / 0.006), phi = k * len;
  const double fx = len / (phi * std::sin(phi)), fy = -len / (phi * std::sinh(phi));
  const double u = 0.53, u4 = std::pow(u, 4);
  const double p = u4 / (3 * fx * fx * len), sv = -u4 / (fx * fy * len), pb = u4 / (3 * fy * fy * len);
  auto sys = numbersAfter(out, "SB\n System     ", 4);
  EXPECT_NEAR(sys[0], p, 6e-6 * p) << out;
  EXPECT_NEAR(sys[1], sv, 6e-6 * std::fabs(sv));
  EXPECT_NEAR(sys[2], pb, 6e-6 * pb);
  EXPECT_NEAR(sys[3], sv, 6e-6 * std::fabs(sv));
  auto quads = numbersAfter(out, " Quadrupoles", 4);
  EXPECT_NEAR(quads[0], p, 6e-6 * p);
  auto octs = numbersAfter(out, " Octupoles  ", 4);
  for (double v : octs) EXPECT_EQ(v, 0.0);

  // Image-referred: times the lens's magnification -v/u' (u' from the
  // principal plane).
  const double m21 = -std::sin(phi) * phi / len, m22 = std::cos(phi);
  const double uo = u - len / 2 + (m22 - 1) / m21;
  const double v = 1.0 / (1.0 / fx - 1.0 / uo), mx = -v / uo;
  EXPECT_NE(out.find("C30           C12           C03           C21"), std::string::npos);
  auto img = numbersAfter(out, "C21\n System     ", 4);
  EXPECT_NEAR(img[0], mx * p, 6e-6 * std::fabs(mx * p));
}

TEST_F(AberSession, OctupoleShareMatchesTheIntegratedRays) {
  // Quadrupole, then an octupole behind its intermediate image.
  const double b4 = 0.01, rad = 0.006, lo = 0.05;
  writeSystem("octu.tav", "Quadrupole and octupole",
              {kParticle, kBeam, {3, 0.5, 0, 0}, {4, 0.06, 0.15, 0.006}, {3, 0.1, 0, 0},
               {8, lo, b4, rad}, {3, 0.3, 0, 0}, {9, 0, 0, 0}});
  const std::string out = run("DATA octu\nTHIRD A\n");
  auto oct = numbersAfter(out, " Octupoles  ", 4);

  const double qep = Proton().qep();
  abertest::Field quad, octf, none;
  quad.kq = qep * 0.15 / 0.006;
  octf.oct = qep * b4 / (rad * rad * rad);
  auto through = [&](abertest::Ray r, bool withOct) {
    auto drift = [](abertest::Ray& q, double d) {
      q[0] += d * q[1];
      q[2] += d * q[3];
    };
    drift(r, 0.5);
    r = abertest::rk4(quad, r, 0.06, 600);
    drift(r, 0.1);
    r = abertest::rk4(withOct ? octf : none, r, lo, 200);
    drift(r, 0.3);
    return r;
  };
  // First-order matrix of each plane from two unit rays.
  const abertest::Ray cx = through({1, 0, 1, 0}, false), sx = through({0, 1, 0, 1}, false);
  auto dev = [&](int plane) {
    return [&, plane](double x0, double t0, double y0, double p0) {
      const abertest::Ray a = through({x0, t0, y0, p0}, true), b = through({x0, t0, y0, p0}, false);
      const int i = 2 * plane;
      // Back to the object through the inverse of the linear map.
      return sx[i + 1] * (a[i] - b[i]) - sx[i] * (a[i + 1] - b[i + 1]);
    };
  };
  (void)cx;
  const std::array<double, 4> h = {5e-5, 5e-5, 5e-5, 5e-5};
  const double p = abertest::coef(dev(0), {0, 3, 0, 0}, h);
  const double s = abertest::coef(dev(0), {0, 1, 0, 2}, h);
  const double pb = abertest::coef(dev(1), {0, 0, 0, 3}, h);
  const double sb = abertest::coef(dev(1), {0, 2, 0, 1}, h);
  EXPECT_NEAR(oct[0], p, 2e-5 * std::fabs(p)) << out;
  EXPECT_NEAR(oct[1], s, 2e-5 * std::fabs(s));
  EXPECT_NEAR(oct[2], pb, 2e-5 * std::fabs(pb));
  EXPECT_NEAR(oct[3], sb, 2e-5 * std::fabs(sb));
  // The object-position terms, with the corrections for rays that are not
  // those of a pure intermediate image.
  const std::array<std::array<int, 4>, 8> monoX = {{{1, 2, 0, 0}, {1, 0, 0, 2}, {0, 1, 1, 1},
                                                   {2, 1, 0, 0}, {0, 1, 2, 0}, {1, 0, 1, 1},
                                                   {3, 0, 0, 0}, {1, 0, 2, 0}}};
  const char* names[2][8] = {{"XT2", "XP2", "TYP", "X2T", "TY2", "XYP", "X3", "XY2"},
                             {"YP2", "YT2", "PXT", "Y2P", "PX2", "YXT", "Y3", "YX2"}};
  for (int plane = 0; plane < 2; ++plane)
    for (int j = 0; j < 8; ++j) {
      auto e = monoX[j];
      if (plane == 1) e = {e[2], e[3], e[0], e[1]};
      const double ref = abertest::coef(dev(plane), e, h);
      const std::string label = std::string(plane == 0 ? " X/" : " Y/") + names[plane][j];
      const double shown = numbersAfter(out, label, 3)[2];
      EXPECT_NEAR(shown, ref, 1e-4 * std::fabs(ref)) << label;
    }
}

TEST_F(AberSession, SecondOrderMatrixOfAQuadrupoleAndSextupoleSystem) {
  // Quadrupole, drift, sextupole, drift: every second-order coefficient of
  // the system against rays integrated through it.
  const double b3 = 0.05, rad = 0.01, ls = 0.08;
  writeSystem("qs.tav", "Quadrupole and sextupole",
              {kParticle, kBeam, {3, 0.5, 0, 0}, {4, 0.06, 0.15, 0.006}, {3, 0.1, 0, 0},
               {6, ls, b3, rad}, {3, 0.3, 0, 0}, {9, 0, 0, 0}});
  const std::string out = run("DATA qs\nAB2 A\nAB2\nAB2/I\n");
  const double qep = Proton().qep();
  abertest::Field quad, sext;
  quad.kq = qep * 0.15 / 0.006;
  sext.sext = qep * b3 / (rad * rad);
  auto through = [&](abertest::Ray r) {
    auto drift = [](abertest::Ray& q, double d) {
      q[0] += d * q[1];
      q[2] += d * q[3];
    };
    drift(r, 0.5);
    r = abertest::rk4(quad, r, 0.06, 600);
    drift(r, 0.1);
    r = abertest::rk4(sext, r, ls, 400);
    drift(r, 0.3);
    return r;
  };
  static const char* kMono[10] = {"X2", "XT", "XY", "XP", "T2", "TY", "TP", "Y2", "YP", "P2"};
  static const char* kRow[4] = {"X", "T", "Y", "P"};
  const std::array<std::array<int, 4>, 10> mono = {{{2, 0, 0, 0}, {1, 1, 0, 0}, {1, 0, 1, 0},
                                                    {1, 0, 0, 1}, {0, 2, 0, 0}, {0, 1, 1, 0},
                                                    {0, 1, 0, 1}, {0, 0, 2, 0}, {0, 0, 1, 1},
                                                    {0, 0, 0, 2}}};
  const std::array<double, 4> h = {1e-5, 1e-5, 1e-5, 1e-5};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 10; ++c) {
      auto f = [&, r](double x0, double t0, double y0, double p0) {
        return through({x0, t0, y0, p0})[r];
      };
      const double ref = abertest::coef(f, mono[c], h);
      const std::string label = std::string("(") + kRow[r] + "/" + kMono[c] + ") ";
      const double shown = numbersAfter(out, label, 1)[0];
      EXPECT_NEAR(shown, ref, 6e-5 * std::fabs(ref) + 1e-6) << label;   // five digits shown
    }
  // The short listings take their values from the same matrix.
  EXPECT_EQ(numbersAfter(out, "(X/TH2)  = ", 1)[0], numbersAfter(out, "(X/T2) ", 1)[0]);
  EXPECT_EQ(numbersAfter(out, "(Y/THPH) = ", 1)[0], numbersAfter(out, "(Y/TP) ", 1)[0]);
  EXPECT_NE(out.find("relative\n to the image plane."), std::string::npos);
  EXPECT_NE(out.find("(C20)    = "), std::string::npos);
}

TEST_F(AberSession, SystemFigureOfMeritAndItsParts) {
  const std::string out = run("DATA triplet\nSMAT\nAB3\nSYSTEM\n");
  ASSERT_NE(out.find("Lenn Varo's Figure of Merit:"), std::string::npos) << out;
  const double tt = numbersAfter(out, "(th/th)  = ", 1)[0];
  const double pp = numbersAfter(out, "(ph/ph)  = ", 1)[0];
  const double x3 = numbersAfter(out, "(x/th3)  = ", 1)[0];
  const double y3 = numbersAfter(out, "(y/ph3)  = ", 1)[0];
  const double q = numbersAfter(out, "Q    = ", 1)[0];
  EXPECT_NEAR(q, tt * pp / std::cbrt(std::fabs(x3 * y3)), 3e-5 * std::fabs(q));
  // The same numbers as SMAT and AB3 print.
  EXPECT_NEAR(tt, numbersAfter(out, "B(2,2) = ", 1)[0], 1e-5 * std::fabs(tt));
  EXPECT_NEAR(pp, numbersAfter(out, "B(4,4) = ", 1)[0], 1e-5 * std::fabs(pp));
  EXPECT_NEAR(x3, numbersAfter(out, "(X/T3)  = ", 1)[0], 1e-6 * std::fabs(x3));
  EXPECT_NEAR(y3, numbersAfter(out, "(Y/P3)  = ", 1)[0], 1e-6 * std::fabs(y3));
}

TEST_F(AberSession, Ab3IsThirdReferredToTheImageInMicronAndMilliradian) {
  const std::string out = run("DATA triplet\nTHIRD/I A\nAB3 A\n");
  // THIRD/I gives m/rad^3; 1 micron/mrad^3 = 1e3 m/rad^3.
  auto img = numbersAfter(out, "C21\n System     ", 4);
  EXPECT_NEAR(numbersAfter(out, "(X/T3)  = ", 1)[0] * 1e3, img[0], 2e-5 * std::fabs(img[0])) << out;
  EXPECT_NEAR(numbersAfter(out, "(X/TP2) = ", 1)[0] * 1e3, img[1], 2e-5 * std::fabs(img[1]));
  EXPECT_NEAR(numbersAfter(out, "(Y/P3)  = ", 1)[0] * 1e3, img[2], 2e-5 * std::fabs(img[2]));
  EXPECT_NEAR(numbersAfter(out, "(Y/PT2) = ", 1)[0] * 1e3, img[3], 2e-5 * std::fabs(img[3]));
  // x^3 term: 1 micron/micron^3 = 1e12 m/m^3.
  const double x3 = numbersAfter(out, " X/X3  ", 1)[0];
  EXPECT_NEAR(numbersAfter(out, "(X/X3)  = ", 1)[0] * 1e12, x3, 2e-5 * std::fabs(x3));
  EXPECT_NE(out.find("Units: micron/mrad^3"), std::string::npos);
}

TEST_F(AberSession, DiagnosticLevelNinePrintsLensAndSystemTerms) {
  const std::string out = run("DATA triplet\nDIAG 9\nTHIRD\nDIAG -1\n");
  EXPECT_NE(out.find(" Third order lens coefficients"), std::string::npos);
  EXPECT_NE(out.find(" Third order system coefficients"), std::string::npos);
  // The running total after the last lens is the system's P.
  const size_t last = out.rfind("S(1,1) = ");
  ASSERT_NE(last, std::string::npos);
  const double running = std::strtod(out.c_str() + last + 9, nullptr);
  const double p = numbersAfter(out, "SB\n System     ", 1)[0];
  EXPECT_NEAR(running, p, 1e-4 * std::fabs(p));
}

}  // namespace
