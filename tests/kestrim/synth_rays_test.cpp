// SYNTH: the rays of a synthesised set obey their own generation rules.
// With a coefficient file whose polynomial is the identity, the written rays
// are the generated ones.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "gxlib/fortran/fortio.h"
#include "workdir.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace {

namespace fs = std::filesystem;
using kestrim::Kestrim;

struct Ray {
  double x, th, y, ph, de;
};

// Reads a ray set straight from its records (4-byte length, payload, length).
std::vector<Ray> readRays(const std::string& name, std::string* caption = nullptr) {
  std::ifstream f(name, std::ios::binary);
  std::vector<Ray> rays;
  bool first = true;
  for (;;) {
    std::uint32_t n = 0, m = 0;
    if (!f.read(reinterpret_cast<char*>(&n), 4)) break;
    std::string payload(n, '\0');
    f.read(payload.data(), n);
    f.read(reinterpret_cast<char*>(&m), 4);
    EXPECT_EQ(n, m);
    if (first) {
      EXPECT_EQ(n, 100u);
      if (caption) *caption = payload;
      first = false;
      continue;
    }
    EXPECT_EQ(n, 40u);
    Ray r;
    std::memcpy(&r, payload.data(), 40);
    rays.push_back(r);
  }
  return rays;
}

// One list-directed record per group: the reading rules allow any breaks.
void writeCof(const std::string& name, double d, double tx1 = 0.0, double ty1 = 0.0,
              const std::string& title = "  Identity lens") {
  std::ofstream f(name);
  f << title << "\n5e-6 0 5e-6 0\n1e-4 0 1e-4 0\n" << d << "\n C\n0.1\n" << d << "\n";
  f << "1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1\n40*0\n" << tx1 << " 11*0\n" << ty1 << " 11*0\n12*0\n0 0 0 0\n";
}

class Synth : public kqtest::WorkDir {
 protected:
};

struct Session {
  explicit Session(const std::string& input, const std::string& time = "00:00:00") : in(input) {
    k.gx.clock = [time] { return time; };
  }
  // Runs SYNTH with the argument text and qualifier.
  void synth(const std::string& arg, char qual = ' ') {
    kestrim::KqLine c{gx::pad("SYNTH  " + arg, 40), qual, 0.0, arg};
    kestrim::kqsynth(k, c);
  }
  std::istringstream in;
  std::ostringstream out;
  Kestrim k{in, out};
};

// The answers of one pass after the coefficients were obtained.
struct Pass {
  std::string mode = "2", n = "16", shape = "s", obj = "10 10", off = "", ap = "0.2 0.2", aoff = "",
              spread = "", index = "", more = "q";
  std::string text() const {
    return mode + "\n" + n + "\n" + shape + "\n" + (mode == "3" ? obj + "\n" : obj + "\n" + off + "\n") + ap +
           "\n" + aoff + "\n" + spread + "\n" + index + "\n" + more + "\n";
  }
};

TEST(SynthRandom, GeneratorAndItsSeed) {
  EXPECT_NEAR(kestrim::gxrandom(1.5), 0.711327, 1e-9);
  EXPECT_NEAR(kestrim::gxrandom(0.0), 0.211327, 1e-12);
  EXPECT_DOUBLE_EQ(kestrim::gxfrac(-2.25), -0.25);
  EXPECT_DOUBLE_EQ(kestrim::gxfrac(7.75), 0.75);
  // |frac| keeps every draw in [0, 1).
  double s = 1.5;
  for (int i = 0; i < 100000; ++i) {
    s = kestrim::gxrandom(s);
    ASSERT_GE(s, 0.0);
    ASSERT_LT(s, 1.0);
  }
}

TEST_F(Synth, MidnightSeedsTheFirstEnergyDraw) {
  writeCof("id.cof", 1.0);
  // A clock that cannot be read gives blanks, which count as zeros.
  for (const char* clock : {"00:00:00", "        "}) {
    Pass p;
    p.spread = "1";
    Session s(p.text(), clock);
    s.synth("id", 'N');
    EXPECT_NE(s.out.str().find(" Fraction of day elapsed 0.00000"), std::string::npos) << s.out.str();
    auto rays = readRays("id.bin");
    ASSERT_EQ(rays.size(), 83u);
    // State 1.5, first draw 0.711327: DE = 1 * (1 - 2 * 0.711327).
    EXPECT_NEAR(rays[2].de, -0.422654, 1e-6);
  }
  Session noon(Pass{}.text(), "18:00:00");
  noon.synth("id", 'N');
  EXPECT_NE(noon.out.str().find(" The time is --18:00:00--"), std::string::npos);
  EXPECT_NE(noon.out.str().find(" Fraction of day elapsed 0.75000"), std::string::npos);
}

TEST_F(Synth, RegularSquareGridOfSixteenGivesEightyOneRaysAndThePair) {
  writeCof("id.cof", 2.0);
  Session s(Pass{}.text());
  s.synth("id", 'N');
  EXPECT_EQ(s.out.str().find("Modify/review"), std::string::npos);  // N: no review
  auto rays = readRays("id.bin");
  ASSERT_EQ(rays.size(), 83u);
  EXPECT_EQ(s.k.ntot, 83);
  EXPECT_EQ(std::string(gx::trimRight(s.k.rayFile)), "id.bin");
  const double h = 5e-6 * static_cast<double>(1.0E-6f) / 1e-6, t = 1e-4 / 2.0;
  // The paraxial pair: the axial ray and one at a thousandth of the maximum divergence.
  EXPECT_EQ(rays[0].x, 0.0);
  EXPECT_EQ(rays[0].th, 0.0);
  EXPECT_EQ(rays[1].x, 0.0);
  EXPECT_DOUBLE_EQ(rays[1].th, t / 1000.0);
  EXPECT_DOUBLE_EQ(rays[1].ph, t / 1000.0);
  // -h, 0, +h on each of the four axes, every combination once.
  std::set<std::vector<int>> seen;
  for (size_t i = 2; i < rays.size(); ++i) {
    const Ray& r = rays[i];
    std::vector<int> key;
    for (auto [v, step] : {std::pair{r.x, h}, {r.th, t}, {r.y, h}, {r.ph, t}}) {
      const double q = v / step;
      EXPECT_NEAR(q, std::round(q), 1e-9);
      EXPECT_LE(std::fabs(q), 1.0 + 1e-9);
      key.push_back(static_cast<int>(std::lround(q)));
    }
    seen.insert(key);
    EXPECT_EQ(r.de, 0.0);
  }
  EXPECT_EQ(seen.size(), 81u);
  EXPECT_FALSE(fs::exists("dist.fit"));
  EXPECT_EQ(s.k.flags.focalKnown, 1);
  std::string cap;
  readRays("id.bin", &cap);
  EXPECT_EQ(std::string(gx::trimRight(cap)), "Identity lens");  // leading blanks removed
}

TEST_F(Synth, RegularGridIsSymmetricAboutTheAxis) {
  writeCof("id.cof", 1.5);
  Pass p;
  p.n = "256";   // 16 steps: -h, -h/2, 0, h/2, h on each axis
  p.obj = "10 6";
  p.ap = "0.2 0.3";
  Session s(p.text());
  s.synth("id", 'N');
  auto rays = readRays("id.bin");
  ASSERT_EQ(rays.size(), 625u + 2u);
  for (size_t i = 2; i < rays.size(); ++i) {
    const Ray& a = rays[i];
    bool mirrored = false;
    for (size_t j = 2; j < rays.size() && !mirrored; ++j) {
      const Ray& b = rays[j];
      mirrored = std::fabs(a.x + b.x) < 1e-18 && std::fabs(a.y + b.y) < 1e-18 &&
                 std::fabs(a.th + b.th) < 1e-15 && std::fabs(a.ph + b.ph) < 1e-15;
    }
    EXPECT_TRUE(mirrored) << "ray " << i + 1;
  }
}

// Circular apertures keep exactly the grid points inside each ellipse, in
// the order of the grid loops (x, then y, then the aperture's u and v). A
// count n a plane becomes n sqrt(4/pi) points, so sqrt of that many steps
// span each diameter: in units of the half-size the points are -1 + 2k/s up
// to 1.05, and a point is kept when a^2 + b^2 <= 1.
TEST_F(Synth, CircularGridKeepsThePointsInsideBothEllipsesInOrder) {
  writeCof("id.cof", 1.0);
  Pass p;
  p.n = "\n199 199";  // points in the object and the aperture
  p.shape = "";       // circular
  p.obj = "10 6";
  p.ap = "0.2 0.3";
  Session s(p.text());
  s.synth("id", 'N');
  auto rays = readRays("id.bin");
  const double steps = std::sqrt(199.0 * std::sqrt(4.0 / static_cast<double>(3.1415927f)));
  std::vector<double> grid;
  for (int k = 0; -1.0 + 2.0 * k / steps <= 1.05; ++k) grid.push_back(-1.0 + 2.0 * k / steps);
  std::vector<std::pair<int, int>> disc;
  for (int i = 0; i < static_cast<int>(grid.size()); ++i)
    for (int j = 0; j < static_cast<int>(grid.size()); ++j) {
      const double e = grid[i] * grid[i] + grid[j] * grid[j];
      ASSERT_GT(std::fabs(e - 1.0), 1e-9);  // no point on the rim: rounding cannot decide
      if (e <= 1.0) disc.push_back({i, j});
    }
  ASSERT_EQ(rays.size(), disc.size() * disc.size() + 2u);
  const double um = static_cast<double>(1.0E-6f) / 1e-6;
  const double hx = 5e-6 * um, hy = 3e-6 * um, hu = 1e-4, hv = 1.5e-4;
  auto index = [&](double v, double h) { return static_cast<int>(std::lround((v / h + 1.0) * steps / 2.0)); };
  size_t n = 2;
  for (auto [i, j] : disc)
    for (auto [a, b] : disc) {
      const Ray& r = rays[n++];
      ASSERT_EQ(index(r.x, hx), i) << "ray " << n;
      ASSERT_EQ(index(r.y, hy), j) << "ray " << n;
      ASSERT_EQ(index(r.th, hu), a) << "ray " << n;
      ASSERT_EQ(index(r.ph, hv), b) << "ray " << n;
    }
}

// One aperture point, at the corner of its square outside the circle, and a
// million points a side in the object: no grid ray can pass, and the pass
// ends at once with the paraxial pair.
TEST_F(Synth, NoAperturePointInsideTheCircleEndsThePassAtOnce) {
  writeCof("id.cof", 1.0);
  Pass p;
  p.n = "\n1e12 0";  // not auto: object and aperture counts
  p.shape = "";
  p.obj = "3 20";
  p.ap = "0.2 0.2";
  Session s(p.text());
  s.synth("id", 'N');
  EXPECT_EQ(readRays("id.bin").size(), 2u);
  EXPECT_NE(s.out.str().find("       2 rays generated total."), std::string::npos) << s.out.str();
}

TEST_F(Synth, ObjectOfSizeZeroPutsEveryRayThroughOnePoint) {
  writeCof("id.cof", 1.0);
  Pass p;
  p.obj = "0 0";
  Session s(p.text());
  s.synth("id", 'N');
  EXPECT_NE(s.out.str().find(" No. of object rays            1"), std::string::npos) << s.out.str();
  EXPECT_NE(s.out.str().find(" No. of aperture rays           16"), std::string::npos);
  auto rays = readRays("id.bin");
  // naper = 4^2 = 16 aperture steps: a 5 x 5 grid from -h to +h.
  ASSERT_EQ(rays.size(), 27u);
  std::set<std::pair<long, long>> grid;
  for (size_t i = 2; i < rays.size(); ++i) {
    EXPECT_EQ(rays[i].x, 0.0);
    EXPECT_EQ(rays[i].y, 0.0);
    grid.insert({std::lround(rays[i].th / 5e-5), std::lround(rays[i].ph / 5e-5)});
  }
  EXPECT_EQ(grid.size(), 25u);
}

TEST_F(Synth, EnergySpreadWritesItsHistogram) {
  writeCof("id.cof", 1.0);
  Pass p;
  p.spread = "1.5";
  p.n = "400";
  Session s(p.text());
  s.synth("id", 'N');
  auto rays = readRays("id.bin");
  ASSERT_GT(rays.size(), 2u);
  std::vector<int> bins(102, 0);
  EXPECT_EQ(rays[0].de, 0.0);
  EXPECT_EQ(rays[1].de, 0.0);
  for (size_t i = 2; i < rays.size(); ++i) {
    ASSERT_LE(std::fabs(rays[i].de), 1.5);
    ++bins[static_cast<size_t>(50.0 * rays[i].de / 1.5 + 51.5)];
  }
  std::ifstream f("dist.fit");
  std::vector<std::string> l;
  for (std::string t; std::getline(f, t);) l.push_back(t);
  ASSERT_EQ(l.size(), 108u);
  const char* head[] = {" DE distribution", " DE", " Number", " 12,0", " 0", " 0", " 0"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(l[static_cast<size_t>(i)], head[i]);
  for (int b = 1; b <= 101; ++b) {
    std::string want = " " + gx::fI(b, 3) + "," + gx::fI(bins[static_cast<size_t>(b)], 4) + ",0";
    EXPECT_EQ(l[static_cast<size_t>(6 + b)], want);
  }
  EXPECT_NE(s.out.str().find(" Energy distribution in dist.fit"), std::string::npos);
}

TEST_F(Synth, SecondPassWritesItsOwnParaxialPair) {
  writeCof("id.cof", 1.0);
  Pass a, b;
  a.more = "r";
  b.obj = "0 0";
  Session s(a.text() + b.text());
  s.synth("id", 'N');
  auto rays = readRays("id.bin");
  ASSERT_EQ(rays.size(), 83u + 27u);
  EXPECT_EQ(s.k.ntot, 110);
  const Ray& axial = rays[83];
  const Ray& small = rays[84];
  EXPECT_EQ(axial.x, 0.0);
  EXPECT_EQ(axial.th, 0.0);
  EXPECT_EQ(axial.ph, 0.0);
  EXPECT_DOUBLE_EQ(small.th, 1e-7);
  EXPECT_DOUBLE_EQ(small.ph, 1e-7);
}

TEST_F(Synth, RandomRaysFromAPointMeetTheApertureInsideItsEllipse) {
  writeCof("id.cof", 2.0);
  Pass p;
  p.mode = "1";
  p.n = "2000";
  p.shape = "c";
  p.obj = "0";
  p.ap = "0.4 0.1";   // half-widths 2e-4 and 5e-5 m
  Session s(p.text());
  s.synth("id", 'N');
  auto rays = readRays("id.bin");
  ASSERT_EQ(rays.size(), 2002u);
  double maxE = 0.0;
  for (size_t i = 2; i < rays.size(); ++i) {
    const Ray& r = rays[i];
    EXPECT_EQ(r.x, 0.0);
    EXPECT_EQ(r.y, 0.0);
    const double xa = r.x + 2.0 * r.th, ya = r.y + 2.0 * r.ph;
    maxE = std::max(maxE, (xa / 2e-4) * (xa / 2e-4) + (ya / 5e-5) * (ya / 5e-5));
  }
  EXPECT_LE(maxE, 1.0 + 1e-12);
  EXPECT_GT(maxE, 0.95);  // and they reach its edge
}

// Fraction of aperture points within r of the axis, for a flux index.
double innerFraction(const std::string& index, double r) {
  writeCof("id.cof", 1.0);
  Pass p;
  p.mode = "1";
  p.n = "4000";
  p.shape = "";
  p.obj = "0";
  p.ap = "0.2";          // one number: a circle of radius 1e-4 m
  p.index = "0 " + index;
  Session s(p.text());
  s.synth("id", 'N');
  auto rays = readRays("id.bin");
  EXPECT_EQ(rays.size(), 4002u);
  int in = 0;
  for (size_t i = 2; i < rays.size(); ++i) in += std::hypot(rays[i].th, rays[i].ph) <= r;
  return in / 4000.0;
}

TEST_F(Synth, FluxIndexOneHalfFillsTheDiscUniformly) {
  // Uniform in area: half the rays inside R / sqrt 2; tolerance 4 sigma of
  // a binomial count of 4000 (sigma = 0.0079).
  const double r = 1e-4 / std::sqrt(2.0);
  EXPECT_NEAR(innerFraction("0.5", r), 0.5, 4 * std::sqrt(0.25 / 4000));
  // Index 0 draws in the square and rejects the corners: uniform as well.
  EXPECT_NEAR(innerFraction("0", r), 0.5, 4 * std::sqrt(0.25 / 4000));
  // Index 2 crowds the rays inwards: rho = s^2 R, so P(rho < R/sqrt2) = 2^(-1/4).
  const double p = std::pow(2.0, -0.25);
  EXPECT_NEAR(innerFraction("2", r), p, 4 * std::sqrt(p * (1 - p) / 4000));
}

TEST_F(Synth, DivergenceModeSendsEveryRayThroughAnAperturePoint) {
  writeCof("id.cof", 1.0);
  Pass p;
  p.mode = "3";
  p.n = "256";         // 16 points each: K = L = 2
  p.obj = "0.2 0.2";   // degrees, full range
  Session s(p.text());
  s.synth("id", 'N');
  EXPECT_EQ(s.k.ireg[1], 16);
  EXPECT_EQ(s.k.ireg[2], 16);
  EXPECT_NE(s.out.str().find("No of rays in divergence space = 16 (5x5)"), std::string::npos) << s.out.str();
  auto rays = readRays("id.bin");
  ASSERT_EQ(rays.size(), 627u);
  const double hx = static_cast<double>(3.1415927f) * 0.2 / 180.0 / 2.0;
  std::set<std::vector<long>> seen;
  for (size_t i = 2; i < rays.size(); ++i) {
    const Ray& r = rays[i];
    const double u = r.x + std::tan(r.th), v = r.y + std::tan(r.ph);
    const double qu = u / 5e-5, qv = v / 5e-5, qt = r.th / (hx / 2), qp = r.ph / (hx / 2);
    for (double q : {qu, qv, qt, qp}) {
      EXPECT_NEAR(q, std::round(q), 1e-6);
      EXPECT_LE(std::fabs(q), 2.0 + 1e-9);
    }
    seen.insert({std::lround(qu), std::lround(qv), std::lround(qt), std::lround(qp)});
  }
  EXPECT_EQ(seen.size(), 625u);
}

TEST_F(Synth, PassPastTwoHundredThousandRaysKeepsEveryRay) {
  writeCof("id.cof", 1.0);
  Pass p;
  // 22^4 rays: 22 points asked per axis, each step 2h/22; the positions
  // -h + 2hk/22 up to 1.05 h take k = 0..22, 23 a side, 23^4 in all.
  p.n = "234256";
  Session s("\n");
  s.synth("big", 'N');
  // big.cof does not exist: the coefficient store asks, the answer is blank.
  EXPECT_NE(s.out.str().find(" Error getting coefficients"), std::string::npos);
  EXPECT_FALSE(fs::exists("big.bin"));

  Session t("id\nn\n" + p.text());
  t.synth("big");
  EXPECT_EQ(t.out.str().find("Maximum number of rays exceeded"), std::string::npos);
  EXPECT_NE(t.out.str().find("  279843 rays generated total."), std::string::npos);
  EXPECT_NE(t.out.str().find("Finding number of rays....279843 rays in file."), std::string::npos);
  EXPECT_EQ(t.k.ntot, 2 + 279841);
  EXPECT_EQ(fs::file_size("big.bin"), 108u + 279843u * 48u);
}

TEST_F(Synth, SolenoidOptionAddsTheSphericalTermRadially) {
  writeCof("sol.cof", 1.0, 2e5, -7e5);
  Pass p;
  p.obj = "0";
  Session s(p.text());
  s.synth("S sol", 'N');
  EXPECT_NE(s.out.str().find(" Solenoid option active."), std::string::npos);
  auto rays = readRays("sol.bin");
  ASSERT_EQ(rays.size(), 27u);
  int checked = 0;
  for (size_t i = 2; i < rays.size(); ++i) {
    const Ray& r = rays[i];
    if (r.th == 0.0 && r.ph > 0.0) {
      // From the x-plane theta-cubed coefficient, not the y plane's -7e5.
      EXPECT_NEAR(r.y, 2e5 * r.ph * r.ph * r.ph, 1e-20);
      ++checked;
    }
    const double a = std::hypot(r.th, r.ph);
    EXPECT_NEAR(std::hypot(r.x, r.y), 2e5 * a * a * a, 1e-18);
  }
  EXPECT_EQ(checked, 2);
}

TEST_F(Synth, AppendQualifierWritesOnTheAppendChannel) {
  writeCof("id.cof", 1.0);
  Session s("id\nn\n" + Pass{}.text());
  s.synth("more", 'A');
  EXPECT_NE(s.out.str().find(" Appending rays to file: more"), std::string::npos);
  EXPECT_NE(s.out.str().find("A: Rays file opened: more.bin"), std::string::npos) << s.out.str();
  EXPECT_EQ(readRays("more.bin").size(), 83u);
}

TEST_F(Synth, JunkAnswersAreAskedAgainAndEndOfInputGivesUp) {
  writeCof("id.cof", 1.0);
  Pass p;
  p.mode = "x\n7\n1";
  p.n = "many\n1.5\n10";
  p.obj = "a b\n0 0";
  Session s(p.text());
  s.synth("id", 'N');
  EXPECT_EQ(readRays("id.bin").size(), 12u);

  // A macro that ends part way: SYNTH gives up, no file is made.
  std::ofstream("m.kcm") << "2\n16\ns\n";
  Session t("");
  ASSERT_TRUE(t.k.gx.io.open(15, "m.kcm", gx::OpenStatus::Old, gx::Access::Read));
  t.k.io.in = 15;
  t.k.io.macro = 1;
  t.synth("cut", 'N');
  EXPECT_FALSE(fs::exists("cut.bin"));
  t.k.gx.io.close(15);

  // Input that ends at the last question keeps the rays already made.
  std::string text = Pass{}.text();
  text.resize(text.size() - 2);
  std::ofstream("n.kcm") << text;
  Session u("");
  ASSERT_TRUE(u.k.gx.io.open(15, "n.kcm", gx::OpenStatus::Old, gx::Access::Read));
  u.k.io.in = 15;
  u.k.io.macro = 1;
  u.synth("id", 'N');
  EXPECT_EQ(readRays("id.bin").size(), 83u);
  u.k.gx.io.close(15);

  // At the terminal the session itself ends.
  Session v("2\n");
  EXPECT_THROW(v.synth("id", 'N'), gx::EndOfInput);
}

TEST_F(Synth, ZeroObjectToApertureDistanceMakesNoRays) {
  writeCof("flat.cof", 0.0);
  Session s(Pass{}.text());
  s.synth("flat", 'N');
  EXPECT_NE(s.out.str().find("Object to aperture distance is zero"), std::string::npos);
  EXPECT_FALSE(fs::exists("flat.bin"));
}

}  // namespace
