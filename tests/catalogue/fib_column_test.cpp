// The focused-ion-beam column of examples/fib_column.tav through both
// programs: TAVO fits the objective so that the final image falls on the
// system end, lists its exact Cs, C5, Cc and writes the soft-edge map, and
// KESTRIM's spot through that map shows the spherical edge, the ring at the
// plane of least confusion and the chromatic disc where the listed
// coefficients put them, each worked out here from the definitions
//   Re u = M (Cs a^3 + C5 a^5) - M Cc a delta  (object-side slope a).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../kestrim/session.h"
#include "../tavo/session.h"
#include "kestrim/kestrim.h"
#include "tavo/commands.h"

namespace {

namespace fs = std::filesystem;

// Aperture diameter (mm) of fib.kcm at the collimator 0.02 m behind the
// object (the distance fib.cof records): the largest slope is 0.65 mrad.
constexpr double kDiameter = 0.026;
constexpr double kSpread = 0.005;   // energy half spread, percent

// What EXACT lists for the system at its last image.
struct Column {
  double zi = NAN, m = NAN;            // image z (m), magnification
  double cs = NAN, c5 = NAN, cc = NAN;   // object side, slope-based (m)
  double csi = NAN, c5i = NAN;         // image side (m)
  double t3 = NAN;                     // the map's (X/T3), micron/mrad^3
  double zcol = NAN;                   // collimator distance from fib.cof (m)
  std::string out;
};

class FibColumn : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/fib_column_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_ = fs::current_path();
    for (const char* f : {"fib_column.tav", "fib.tcm", "fib.kcm"})
      fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / f, dir_ / f);
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }

  // fib.tcm as shipped, and what it lists.
  Column tavoColumn() {
    Column c;
    std::istringstream in("@fib\n");
    std::ostringstream out;
    EXPECT_EQ(tavo::run(in, out), 0);
    c.out = out.str();
    const std::string label = " System, last image";
    const auto img = abertest::numbersAfter(c.out, label, 2);
    const auto obj = abertest::numbersAfter(c.out, label, 4, 1);
    const auto ims = abertest::numbersAfter(c.out, label, 2, 2);
    c.zi = img[0];
    c.m = img[1];
    c.cs = obj[0];
    c.c5 = obj[1];
    c.cc = obj[3];
    c.csi = ims[0];
    c.c5i = ims[1];
    // (X/T3): closed form, hard edge ("-": none for round lenses), soft edge.
    const size_t t3 = c.out.find(" (X/T3)");
    if (t3 != std::string::npos) {
      const std::string line = c.out.substr(t3, c.out.find('\n', t3) - t3);
      c.t3 = std::stod(line.substr(line.find_last_of(' ', line.find_last_not_of(' '))));
    }
    const auto rec = kqtest::lines("fib.cof");
    if (rec.size() > 3) c.zcol = std::stod(rec[3]);
    return c;
  }

  // A random ray set through fib.cof: aperture diameter (mm), spread (%).
  std::vector<kqtest::Ray> synth(const std::string& name, double diameter, double spread) {
    std::ostringstream cmd;
    cmd << "SYNTH/N " << name << "\nfib\n1\n6000\nC\n0,0\n0,0\n" << diameter << ',' << diameter
        << "\n0,0\n" << spread << "\n0,0\nQ\nEXIT\n";
    std::istringstream in(cmd.str());
    std::ostringstream out;
    EXPECT_EQ(kestrim::run(in, out), 0);
    std::vector<kqtest::Ray> rays = kqtest::readSet(name + ".bin");
    EXPECT_EQ(rays.size(), 6002u) << out.str();
    // The first two are the paraxial pair SYNTH puts in front.
    if (rays.size() > 2) rays.erase(rays.begin(), rays.begin() + 2);
    return rays;
  }

  fs::path dir_, old_;
};

TEST_F(FibColumn, ExactPutsTheFinalImageOnTheSystemEndAndWritesTheMap) {
  const Column c = tavoColumn();
  // EXACT/F's image on the end: 0.020 + 0.003 + 0.100 + 0.003 + 0.012 m.
  EXPECT_NEAR(c.zi, 0.138, 1e-6) << c.out;
  // Two inverting images: the column's magnification is positive.
  EXPECT_GT(c.m, 0.0);
  EXPECT_LT(c.m, 1.0);
  EXPECT_GT(c.cs, 0.0);
  EXPECT_GT(c.cc, 0.0);
  // With the image on the end, the written map's (x|a^3) is M Cs
  // (micron/mrad^3 = 1e3 m/rad^3).
  EXPECT_NEAR(c.t3 * 1e3, c.m * c.cs, 1e-4 * c.m * c.cs);
  EXPECT_NE(c.out.find("Coefficients written to fib.cof."), std::string::npos);
  EXPECT_NEAR(c.zcol, 0.02, 1e-12);
}

TEST_F(FibColumn, MonoenergeticSpotEndsAtTheSphericalAberrationOfTheEdgeRay) {
  const Column c = tavoColumn();
  ASSERT_TRUE(std::isfinite(c.cs) && std::isfinite(c.c5) && std::isfinite(c.zcol)) << c.out;
  const std::vector<kqtest::Ray> rays = synth("mono", kDiameter, 0.0);
  ASSERT_FALSE(rays.empty());
  const double a = 0.5e-3 * kDiameter / c.zcol;
  const double edge = std::fabs(c.m * (c.cs * std::pow(a, 3) + c.c5 * std::pow(a, 5)));
  double rmax = 0.0;
  for (const auto& r : rays) {
    const double rad = std::hypot(r[0], r[2]);
    // Cs and C5 of one sign: the landing radius grows with the slope, so
    // no ray lands beyond the edge ray.
    EXPECT_LE(rad, edge * (1.0 + 1e-4));
    EXPECT_EQ(r[4], 0.0);
    rmax = std::max(rmax, rad);
  }
  EXPECT_NEAR(rmax, edge, 1e-3 * edge);

  // At the plane of least confusion, -3/4 Cs_i A^2 from the image (A the
  // image-side edge slope, a/M between equal energies), the edge rays and
  // those at half the aperture meet on the ring of radius Cs_i A^3 / 4
  // (C5_i adds its share, found here on a fine grid of slopes).
  const double big = a / c.m;
  const double dz = -0.75 * c.csi * big * big;
  double ring = 0.0;
  for (int j = 0; j <= 100000; ++j) {
    const double s = big * j / 100000.0;
    ring = std::max(ring, std::fabs(c.csi * s * s * s + c.c5i * std::pow(s, 5) + dz * s));
  }
  EXPECT_NEAR(ring, 0.25 * c.csi * big * big * big, 0.05 * ring);
  double rlc = 0.0, inner = 0.0;
  for (const auto& r : rays) {
    const double rad = std::hypot(r[0] + dz * r[1], r[2] + dz * r[3]);
    rlc = std::max(rlc, rad);
    // The rays near half the aperture land on the ring too: where their
    // landing radius at the Gaussian image is near (1/2)^3 of the edge's.
    const double g = std::hypot(r[0], r[2]) / edge;
    if (g > 0.11 && g < 0.14) inner = std::max(inner, rad);
  }
  // The drift uses each ray's own slope, which carries its slope
  // aberration: a few per cent at this defocus.
  EXPECT_NEAR(rlc, ring, 0.03 * ring);
  EXPECT_NEAR(inner, ring, 0.03 * ring);
  // The ring is four times smaller than the Gaussian-plane spot.
  EXPECT_LT(rlc, 0.3 * rmax);
}

TEST_F(FibColumn, NearAxialRaysWithAnEnergySpreadFillTheChromaticDisc) {
  const Column c = tavoColumn();
  ASSERT_TRUE(std::isfinite(c.cc) && std::isfinite(c.zcol)) << c.out;
  // A thousandth of the aperture: at the edge of the energy band the
  // spherical share is 2e-5 of the chromatic one (Cs a^2 << Cc delta).
  const double d = kDiameter / 1000.0;
  const std::vector<kqtest::Ray> rays = synth("chrom", d, kSpread);
  ASSERT_FALSE(rays.empty());
  const double a = 0.5e-3 * d / c.zcol;
  const double disc = std::fabs(c.m * c.cc * a);   // per unit fractional deviation
  const double sph = std::fabs(c.m * c.cs * a * a * a);
  double ratio = 0.0;
  int faster = 0, slower = 0;
  for (const auto& r : rays) {
    const double delta = r[4] / 100.0;
    ASSERT_LE(std::fabs(r[4]), kSpread * (1.0 + 1e-12));
    const double rad = std::hypot(r[0], r[2]);
    EXPECT_LE(rad, (disc * std::fabs(delta) + sph) * (1.0 + 1e-3));
    if (std::fabs(r[4]) < 0.2 * kSpread) continue;
    ratio = std::max(ratio, rad / (disc * std::fabs(delta) + sph));
    // Cc > 0: a faster ion is focused later, so at the image it has not
    // yet reached the axis (it moves towards it); a slower one has passed.
    const double towards = r[0] * r[1] + r[2] * r[3];
    if (delta > 0.0) {
      faster += towards < 0.0;
      EXPECT_LT(towards, 0.0);
    } else {
      slower += towards > 0.0;
      EXPECT_GT(towards, 0.0);
    }
  }
  EXPECT_NEAR(ratio, 1.0, 2e-3);
  EXPECT_GT(faster, 1000);
  EXPECT_GT(slower, 1000);
}

TEST_F(FibColumn, TheExampleMacroDrawsTheSpotAtBothPlanes) {
  const Column c = tavoColumn();
  ASSERT_TRUE(std::isfinite(c.cs) && std::isfinite(c.cc) && std::isfinite(c.zcol)) << c.out;
  std::istringstream in("@fib\n");
  std::ostringstream out;
  ASSERT_EQ(kestrim::run(in, out), 0);
  const std::string k = out.str();
  // MAXIMA/0 at the Gaussian image: 1.05 times the largest |x| or |y|,
  // between the monoenergetic edge and the edge widened by the chromatic
  // disc of the edge ray.
  const double a = 0.5e-3 * kDiameter / c.zcol;
  const double edge = c.m * (c.cs * std::pow(a, 3) + c.c5 * std::pow(a, 5));
  const double chrom = c.m * c.cc * a * kSpread / 100.0;
  const double extent = abertest::numbersAfter(k, "max. extent is", 1)[0] * 1e-6 / 1.05;
  EXPECT_GT(extent, 0.95 * edge) << k;
  EXPECT_LT(extent, (edge + chrom) * 1.0001) << k;
  for (const char* f : {"fibspot.ps", "fiblc.ps"}) {
    const std::string ps = kqtest::slurp(f);
    ASSERT_FALSE(ps.empty()) << f;
    EXPECT_NE(ps.find("%%EOF"), std::string::npos) << f;
  }
  EXPECT_NE(k.find("Image plotted at Z =  -3.53000E-05 m"), std::string::npos) << k;
}

}  // namespace
