// Tolerance ensembles through both programs: TAVO's TOLERA writes the
// variants, KESTRIM's ENSEMB maps one ray set through them. The spot of an
// ensemble without errors is the nominal spot; a displaced lens moves the
// spot by DISP's coefficient; thread count and slicing change no bit.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "kestrim/ensemble.h"
#include "kestrim/kestrim.h"
#include "kestrim/kq.h"
#include "tavo/commands.h"

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

class Ensemble : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/ensemble_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_ = fs::current_path();
    fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / "triplet.tav", dir_ / "triplet.tav");
    fs::current_path(dir_);
  }
  void TearDown() override {
    unsetenv("KESTRIM_THREADS");
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  std::string tavo(const std::string& input) {
    std::istringstream in("DATA triplet\n" + input + "EXIT\n");
    std::ostringstream out;
    tavo::run(in, out);
    return out.str();
  }
  std::string kestrim(const std::string& input) {
    std::istringstream in(input + "EXIT\n");
    std::ostringstream out;
    kestrim::run(in, out);
    return out.str();
  }
  // TOLERA's dialog: sizes "dx dy / rot / lens supply / sext oct".
  void ensemble(const std::string& name, const std::string& sizes, const std::string& rows, int n,
                int seed) {
    const std::string out = tavo("TOLERA " + name + "\n" + sizes + "\n\n" + rows + "\n" +
                                 std::to_string(n) + " " + std::to_string(seed) + "\nC\n");
    ASSERT_NE(out.find("Ensemble written to " + name), std::string::npos) << out;
  }
  // ENSEMB's dialog with synthesised rays: count, object and aperture
  // diameters, energy spread, seed, plane, variants, summary, device.
  std::string ensemb(const std::string& name, int rays, const std::string& range,
                     const std::string& summary, const std::string& device = "") {
    return kestrim("ENSEMB " + name + "\n\n" + std::to_string(rays) +
                   "\n10 10\n1 1\n0.05\n7\n0\n" + range + "\n" + summary + "\n" + device + "\n");
  }
  fs::path dir_, old_;
};

TEST_F(Ensemble, WithoutErrorsEveryVariantHasTheNominalSpot) {
  ensemble("zero", "0 0\n0\n0 0\n0 0", "", 4, 1);
  const std::string out = ensemb("zero", 5000, "", "zero.sum");
  ASSERT_NE(out.find("Summary written to zero.sum"), std::string::npos) << out;
  kestrim::Summary s;
  std::string why;
  ASSERT_TRUE(kestrim::readSummary("zero.sum", s, why)) << why;
  ASSERT_EQ(s.spots.size(), 5u);
  EXPECT_EQ(s.rays, 5000);
  const kestrim::Spot& n = s.spots[0];
  EXPECT_GT(n.rms, 0.0);
  for (const kestrim::Spot& v : s.spots) {
    EXPECT_EQ(v.cx, n.cx);
    EXPECT_EQ(v.cy, n.cy);
    EXPECT_EQ(v.rms, n.rms);
    EXPECT_EQ(v.d50, n.d50);
    EXPECT_EQ(v.d90, n.d90);
    EXPECT_EQ(v.fwhm, n.fwhm);
  }
  EXPECT_NE(out.find("Too few variants (or no errors) for a sensitivity ranking."), std::string::npos);
}

TEST_F(Ensemble, ADisplacedLensMovesTheSpotByTheDisplacementCoefficient) {
  // Row 6 alone displaced in x by 0.1 micron rms: each variant's spot
  // centroid moves by (x/a) times its displacement, (x/a) from DISP.
  const std::string disp = tavo("DISP 1e-6\n");
  const size_t first = disp.find(" 1 Order displacement");
  ASSERT_NE(first, std::string::npos);
  double cx = NAN;
  std::istringstream lines(disp.substr(first));
  for (std::string l; std::getline(lines, l);) {
    std::istringstream in(l);
    int q = 0, row = 0;
    if (in >> q >> row && q == 2 && row == 6) in >> cx;
  }
  ASSERT_TRUE(std::isfinite(cx));
  ensemble("one", "1e-7 0\n0\n0 0\n0 0", "6", 12, 4);
  ensemb("one", 4000, "", "one.sum");
  kestrim::Summary s;
  kestrim::Manifest m;
  std::string why;
  ASSERT_TRUE(kestrim::readSummary("one.sum", s, why)) << why;
  ASSERT_TRUE(kestrim::readManifest("one", m, why)) << why;
  ASSERT_EQ(s.spots.size(), 13u);
  size_t col = 0;
  while (col < m.errorNames.size() && m.errorNames[col] != "dx.6") ++col;
  ASSERT_LT(col, m.errorNames.size());
  const kestrim::Spot& n = s.spots[0];
  for (size_t v = 1; v < s.spots.size(); ++v) {
    const double dx = m.variants[v].errors[col];
    // The statistical error of a centroid from 4000 rays, and DISP's
    // five printed digits.
    const double tol = n.rms / std::sqrt(4000.0) + 1e-4 * std::fabs(cx * dx);
    EXPECT_NEAR(s.spots[v].cx - n.cx, cx * dx, tol) << v;
    EXPECT_NEAR(s.spots[v].cy - n.cy, 0.0, tol) << v;
    EXPECT_NEAR(s.spots[v].rms, n.rms, 1e-3 * n.rms) << "a displacement moves the spot only";
  }
}

TEST_F(Ensemble, ThreadsAndSlicesChangeNoBit) {
  ensemble("e", "1e-6 1e-6\n1e-4\n1e-4 1e-4\n1e-3 1e-3", "", 6, 3);
  setenv("KESTRIM_THREADS", "1", 1);
  ensemb("e", 3000, "", "one.sum", "V");
  setenv("KESTRIM_THREADS", "2", 1);
  ensemb("e", 3000, "", "two.sum");
  // Slices run apart and joined: the whole run's summary to the byte.
  ensemb("e", 3000, "1 2", "a.sum");
  setenv("KESTRIM_THREADS", "1", 1);
  ensemb("e", 3000, "3 6", "b.sum");
  const std::string out = kestrim("ENSEMB/M merged.sum\nb.sum\na.sum\n\n\n");
  ASSERT_NE(out.find("Summary written to merged.sum"), std::string::npos) << out;
  const std::string whole = slurp("one.sum");
  ASSERT_FALSE(whole.empty());
  EXPECT_EQ(slurp("two.sum"), whole);
  EXPECT_EQ(slurp("merged.sum"), whole);
  EXPECT_NE(whole.find("# Sensitivity"), std::string::npos);
  // One variant on more threads than systems: the rays of each system are
  // split into blocks among the threads.
  setenv("KESTRIM_THREADS", "3", 1);
  ensemb("e", 140000, "2 2", "blocks3.sum");
  setenv("KESTRIM_THREADS", "1", 1);
  ensemb("e", 140000, "2 2", "blocks1.sum");
  EXPECT_EQ(slurp("blocks3.sum"), slurp("blocks1.sum"));
  kestrim::Summary b;
  std::string why;
  ASSERT_TRUE(kestrim::readSummary("blocks3.sum", b, why)) << why;
  ASSERT_EQ(b.spots.size(), 2u);
  EXPECT_GT(b.spots[1].rms, 0.0);
  // The plots of the whole run.
  for (const char* f : {"one_hist.svg", "one_current.svg", "one_rank.svg"})
    EXPECT_NE(slurp(f).find("<svg"), std::string::npos) << f;
}

TEST_F(Ensemble, BatchMappingIsCoftranToTheBit) {
  ensemble("p", "1e-6 1e-6\n1e-4\n0 0\n1e-3 1e-3", "", 1, 8);
  std::istringstream in;
  std::ostringstream out;
  kestrim::Kestrim k(in, out);
  std::string name = "p/v0001.cof";
  ASSERT_EQ(kestrim::cofin(k, name), 0);
  const kestrim::RayPoly p = kestrim::rayPoly(k);
  constexpr int n = 257;
  std::vector<double> x(n), th(n), y(n), ph(n), de(n), xo(n), tho(n), yo(n), pho(n);
  for (int i = 0; i < n; ++i) {
    x[i] = 1e-6 * std::sin(i);
    th[i] = 1e-3 * std::cos(3 * i);
    y[i] = -1e-6 * std::cos(i);
    ph[i] = 1e-3 * std::sin(7 * i);
    de[i] = 0.1 * std::sin(11 * i);
  }
  kestrim::mapRays(p, x.data(), th.data(), y.data(), ph.data(), de.data(), n, xo.data(),
                   tho.data(), yo.data(), pho.data());
  for (int i = 0; i < n; ++i) {
    double a, b, c, d;
    kestrim::coftran(k, x[i], th[i], y[i], ph[i], de[i], a, b, c, d);
    EXPECT_EQ(xo[i], a);
    EXPECT_EQ(tho[i], b);
    EXPECT_EQ(yo[i], c);
    EXPECT_EQ(pho[i], d);
  }
}

TEST(EnsembleSpot, AUniformDiscHasItsTextbookMeasures) {
  // Rays spread evenly over a disc of radius R about (1, 2) micron:
  // rms R/sqrt 2, d50 = sqrt 2 R, d90 = 2 sqrt 0.9 R.
  const double R = 1e-6;
  std::vector<double> X, Y, scratch;
  const int m = 400;
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) {
      const double u = (2.0 * i + 1) / m - 1.0, v = (2.0 * j + 1) / m - 1.0;
      if (u * u + v * v > 1.0) continue;
      X.push_back(1e-6 + R * u);
      Y.push_back(2e-6 + R * v);
    }
  const kestrim::Spot s = kestrim::measureSpot(X.data(), Y.data(), X.size(), scratch);
  EXPECT_NEAR(s.cx, 1e-6, 1e-12);
  EXPECT_NEAR(s.cy, 2e-6, 1e-12);
  EXPECT_NEAR(s.rms, R / std::sqrt(2.0), 1e-3 * R);
  EXPECT_NEAR(s.d50, std::sqrt(2.0) * R, 1e-2 * R);
  EXPECT_NEAR(s.d90, 2.0 * std::sqrt(0.9) * R, 1e-2 * R);
  EXPECT_NEAR(s.curve[kestrim::kCurvePoints - 1], 2.0 * R, 1e-2 * R);
  // A disc's profile is a half ellipse: its half maximum is at sqrt(3)/2 R.
  EXPECT_NEAR(s.fwhm, std::sqrt(3.0) * R, 0.05 * R);
}

TEST_F(Ensemble, BadInputIsRefusedWithAMessage) {
  ensemble("e", "1e-6 1e-6\n0\n0 0\n0 0", "", 3, 3);
  std::ofstream("taken.sum") << "mine\n";
  fs::create_directory("broken");
  std::ofstream("broken/manifest.txt") << "variant file x0 th0 y0 ph0\n0 nominal.cof 0 0 zero 0\n";
  std::string out = kestrim("ENSEMB nowhere\nENSEMB broken\n");
  EXPECT_NE(out.find("?ENSEMB- Unable to open nowhere/manifest.txt"), std::string::npos) << out;
  EXPECT_NE(out.find("?ENSEMB- broken/manifest.txt line 2 cannot be read."), std::string::npos);
  // An existing summary is never replaced; at the terminal the name is asked again.
  out = kestrim("ENSEMB e\n\n500\n10 10\n1 1\n0\n1\n0\n0 9\n1 3\ntaken.sum\nfresh.sum\n\n");
  EXPECT_NE(out.find("?ENSEMB- Variants are numbered 1 to 3."), std::string::npos) << out;
  EXPECT_NE(out.find("?ENSEMB- taken.sum already exists."), std::string::npos) << out;
  EXPECT_EQ(slurp("taken.sum"), "mine\n");
  EXPECT_NE(slurp("fresh.sum").find("variant cx cy"), std::string::npos);
  // Slices of different ray sets do not merge.
  ensemb("e", 500, "1 1", "s1.sum");
  ensemb("e", 600, "2 3", "s2.sum");
  out = kestrim("ENSEMB/M m.sum\ns1.sum\ns2.sum\nnot-there.sum\n\n");
  EXPECT_NE(out.find("?ENSEMB- Unable to open not-there.sum"), std::string::npos);
  EXPECT_NE(out.find("?ENSEMB- The slices were not made from the same ensemble"), std::string::npos);
  EXPECT_FALSE(fs::exists("m.sum"));
  // Stored rays: without a current set there are none.
  out = kestrim("ENSEMB e\nD\n");
  EXPECT_NE(out.find("No data!"), std::string::npos);
}

}  // namespace
