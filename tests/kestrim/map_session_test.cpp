// MAP, MAXIMA, PLOT and TRANS in whole sessions, the run counter, and the
// spot of a synthesised set at the image plane of the example triplet.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "gxlib/fortran/fortio.h"
#include "gxlib/plot/plot.h"
#include "session.h"
#include "workdir.h"

namespace {

namespace fs = std::filesystem;
using kqtest::Ray;
using kqtest::Session;

class Map : public kqtest::WorkDir {};

// The strokes of a PostScript plot file: every "x y vl" draws from the
// point before it.
struct Stroke {
  double x1, y1, x2, y2;
};
std::vector<Stroke> strokes(const std::string& ps) {
  std::vector<Stroke> v;
  std::regex op(R"((-?\d+)\s+(-?\d+)\s+(il|vl))");
  double px = 0, py = 0;
  for (std::sregex_iterator it(ps.begin(), ps.end(), op), end; it != end; ++it) {
    const double x = std::stod((*it)[1]), y = std::stod((*it)[2]);
    if ((*it)[3] == "vl") v.push_back({px, py, x, y});
    px = x;
    py = y;
  }
  return v;
}
// The ray marks of a plot file: small closed axis-parallel squares (a move
// and four draws back to the start), told apart from the frame and text.
size_t squares(const std::string& ps) {
  std::regex op(R"((-?\d+)\s+(-?\d+)\s+(il|vl))");
  struct P {
    double x, y;
    bool move;
  };
  std::vector<P> pts;
  for (std::sregex_iterator it(ps.begin(), ps.end(), op), end; it != end; ++it)
    pts.push_back({std::stod((*it)[1]), std::stod((*it)[2]), (*it)[3] == "il"});
  size_t n = 0;
  for (size_t i = 0; i + 4 < pts.size(); ++i) {
    const P* q = &pts[i];
    if (!q[0].move || q[1].move || q[2].move || q[3].move || q[4].move) continue;
    const bool closed = q[4].x == q[0].x && q[4].y == q[0].y && q[1].y == q[0].y &&
                        q[2].x == q[1].x && q[3].y == q[2].y && q[3].x == q[0].x;
    if (closed && std::fabs(q[1].x - q[0].x) < 500 && std::fabs(q[2].y - q[1].y) < 500) ++n;
  }
  return n;
}

TEST_F(Map, RunCounterCountsOnAndShowsFourDigits) {
  std::istringstream none;
  std::ostringstream sink;
  kestrim::Kestrim k(none, sink);
  int run = -1;
  std::string text;
  gx::gxrunup(k.gx, k.io.out, 10, run, text, "kestrim.run");
  EXPECT_EQ(run, 1);
  EXPECT_EQ(text, "   1");
  std::ofstream("kestrim.run") << "9999\n";
  gx::gxrunup(k.gx, k.io.out, 10, run, text, "kestrim.run");
  EXPECT_EQ(run, 10000);
  EXPECT_EQ(text, "   0");
  gx::gxrunup(k.gx, k.io.out, 10, run, text, "kestrim.run");
  EXPECT_EQ(run, 10001);
  std::ofstream("kestrim.run") << "junk\n";
  gx::gxrunup(k.gx, k.io.out, 10, run, text, "kestrim.run");
  EXPECT_EQ(run, 11);
  EXPECT_NE(sink.str().find("Error reading from kestrim.run"), std::string::npos);
  gx::gxrunup(k.gx, k.io.out, 0, run, text, "kestrim.run");
  EXPECT_EQ(run, 0);
  EXPECT_EQ(text, "    ");
  EXPECT_NE(sink.str().find("?GXRUNUP - Illegal logical unit number          0"), std::string::npos);
}

TEST_F(Map, OptionsAreSetAndReported) {
  Session s("MAP/E S\nMAP/D S\nMAP/E X\nMAP/E W\nMAP/D P\nMAP/D C\nPLOT/E C\nPLOT/D Q\nEXIT\n");
  EXPECT_TRUE(s.has(" Scale drawing enabled.\n"));
  EXPECT_TRUE(s.has(" Scale drawing disabled.\n"));
  EXPECT_TRUE(s.has(" Unknown option: X\n"));
  EXPECT_TRUE(s.has(" Window mode enabled.\n"));
  EXPECT_TRUE(s.has(" Paraxial rays not plotted.\n"));
  EXPECT_TRUE(s.has(" Captions disabled.\n"));
  EXPECT_TRUE(s.has(" Captions enabled.\n"));
  EXPECT_TRUE(s.has(" Unknown option: Q\n"));
  EXPECT_EQ(s.k.mapopts.centred, 0);
  EXPECT_EQ(s.k.mapopts.paraxial, 0);
  EXPECT_EQ(s.k.mapopts.captions, 1);
  EXPECT_EQ(s.k.flags.scaleDraw, 0);
  EXPECT_FALSE(fs::exists("kestrim.run"));   // nothing was drawn
}

TEST_F(Map, EmptyBoxWithAOneMicronBarInAThreeMicronWindow) {
  kqtest::writeSet("p.bin", kqtest::imagePair());
  Session s("DATA p\nMAP/D P\nMAP/D C\nMAP/E S\nMAP/Q\nX\n3\nEXIT\n");
  EXPECT_TRUE(s.has(" Run number    1 ......")) << s.text();
  ASSERT_TRUE(fs::exists("plt01.ps"));
  const auto st = strokes(kqtest::slurp("plt01.ps"));
  // The box (four strokes), then the bar: tick, bar, tick, then its label.
  ASSERT_GT(st.size(), 4u + 3u);
  const double box = st[0].x2 - st[0].x1;
  const Stroke bar = st[5];
  EXPECT_EQ(st[4].x1, st[4].x2);
  EXPECT_EQ(bar.y1, bar.y2);
  EXPECT_EQ(st[6].x1, st[6].x2);
  EXPECT_NEAR(bar.x2 - bar.x1, box / 6.0, 2.0);             // 1 of 6 micron
  EXPECT_NEAR(bar.x1 - st[0].x1, 0.05 * box / 2.0, 2.0);    // at -0.95 w
}

TEST_F(Map, RaysOnTheWindowEdgeAreDrawnAndTheMapIsRedrawn) {
  auto v = kqtest::imagePair();
  v.push_back({2e-6, 0, 0, 0, 0});     // on the edge of a 2 micron window
  v.push_back({0, 0, -2e-6, 0, 0});
  v.push_back({2.1e-6, 0, 0, 0, 0});   // outside it
  kqtest::writeSet("e.bin", v);
  Session s("DATA e\nMAP/D P\nMAP/D C\nMAP/Q\nX\n2\nMAP/R\nEXIT\n");
  EXPECT_TRUE(s.has("Map done to +/-   2.2050     micron, other? > ")) << s.text();
  const std::string ps = kqtest::slurp("plt01.ps");
  // Two squares, then the same two again.
  EXPECT_EQ(squares(ps), 2u + 2u);
  EXPECT_DOUBLE_EQ(s.k.lastMap.w, 2e-6);
}

TEST_F(Map, MaximaStoresTheExtentForMapFromARegister) {
  auto v = kqtest::imagePair();
  v.push_back({1e-6, 1e-3, 0, 0, 0});
  v.push_back({0, 0, -0.5e-6, -1e-3, 0});
  kqtest::writeSet("m.bin", v);
  std::istringstream in("TERM 1\nDATA m\nMAXIMA/0 5\nMAXIMA/1\n-5\nMAP/I 5\nEXIT\n");
  std::ostringstream out, tek;
  kestrim::Kestrim k(in, out);
  gx::crdest_stream(k.gx, &tek);
  EXPECT_EQ(kestrim::kqsession(k), 0);
  const std::string t = out.str();
  // 5 micron behind the image the first ray is at 1.005 micron.
  const double e0 = static_cast<double>(1.05f) * (1e-6 + 5e-6 * 1e-3) * 1e6;
  EXPECT_DOUBLE_EQ(k.areg[0], e0);
  EXPECT_NE(t.find("At Z =    5.0000    um from X image plane the max. extent is "), std::string::npos);
  const double e1 = static_cast<double>(1.05f) * (1e-6 - 5e-6 * 1e-3) * 1e6;
  EXPECT_DOUBLE_EQ(k.areg[1], e1);
  // MAP/I draws on the terminal with the run number in its control sequence.
  EXPECT_NE(t.find("\x1b\x10Q   1\x1b\x08"), std::string::npos);
  EXPECT_DOUBLE_EQ(k.lastMap.w, e0 / 1e6);
  EXPECT_DOUBLE_EQ(k.lastMap.z, 5e-6);
  EXPECT_FALSE(tek.str().empty());
}

TEST_F(Map, PlotAsksAgainAfterAZeroRangeAndDrawsPointsOnItsLimits) {
  auto v = kqtest::imagePair();
  v.push_back({1e-6, 1e-3, 0, 0, 0});
  v.push_back({-1e-6, -1e-3, 0, 0, 0});
  kqtest::writeSet("q.bin", v);
  // E has no range; then T against X with the limits the data span.
  Session s("DATA q\nPLOT/D P\nPLOT/Q\nX\nE\nX\n\n\nT\nX\n\n\nPLOT/R\nEXIT\n");
  EXPECT_EQ(s.count("Zero range on one axis"), 1u) << s.text();
  EXPECT_EQ(s.count("       Parameter on horizontal ? (X,T,Y,P,E) > "), 2u);
  const std::string ps = kqtest::slurp("plt01.ps");
  // Both points on the corners of the limits, then both again.
  EXPECT_EQ(squares(ps), 2u + 2u);
  EXPECT_EQ(s.k.lastPlot.h, 'T');
  EXPECT_EQ(s.k.lastPlot.v, 'X');
  EXPECT_FLOAT_EQ(s.k.lastPlot.xmax, 1e-3f);
  EXPECT_FLOAT_EQ(s.k.lastPlot.ymin, -1e-6f);
}

TEST_F(Map, MapAndPlotMeasureTheSpotWithoutANaNRayFirstInTheBeam) {
  // A damaged file or an overflowed map can leave NaN in the first beam ray.
  auto v = kqtest::imagePair();
  v.push_back({std::nan(""), 0, std::nan(""), 0, 0});
  v.push_back({1e-6, 1e-3, 0.5e-6, 0, 0});
  v.push_back({-1e-6, -1e-3, -0.5e-6, 0, 0});
  kqtest::writeSet("n.bin", v);
  Session m("DATA n\nMAP/D P\nMAP/Q\nX\n\nEXIT\n");
  EXPECT_DOUBLE_EQ(m.k.extXmin, -1e-6) << m.text();
  EXPECT_DOUBLE_EQ(m.k.extXmax, 1e-6);
  EXPECT_DOUBLE_EQ(m.k.extYmin, -0.5e-6);
  EXPECT_DOUBLE_EQ(m.k.extYmax, 0.5e-6);
  // A centred map offers 1.05 times the greatest distance from the axis.
  EXPECT_TRUE(m.has("Map done to +/-   1.0500     micron")) << m.text();

  Session p("DATA n\nPLOT/D P\nPLOT/Q\nX\nT\nX\n\n\nEXIT\n");
  EXPECT_EQ(p.count("Zero range on one axis"), 0u) << p.text();
  EXPECT_EQ(p.count("Limits beyond single precision"), 0u);
  EXPECT_TRUE(p.has("Limits on T-axis (-1.00000E-03,1.00000E-03) > ")) << p.text();
  EXPECT_FLOAT_EQ(p.k.lastPlot.xmax, 1e-3f);
  EXPECT_FLOAT_EQ(p.k.lastPlot.ymin, -1e-6f);
}

TEST_F(Map, TransPassesTheRaysThatClearTheAperture) {
  fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / "identity.cof", "identity.cof");
  auto v = kqtest::imagePair();          // ray 2 misses the 0.1 mm aperture 1 m on
  v.push_back({1e-6, 5e-5, 0, 0, 0.2});  // reaches the aperture at 51 micron
  v.push_back({0, 2e-4, 0, 0, 0});       // misses it
  kqtest::writeSet("t.bin", v);
  Session s("DATA t\nTRANS identity\nn\nEXIT\n");
  EXPECT_TRUE(s.has("     2 rays passed through to end of system.")) << s.text();
  EXPECT_EQ(s.k.ntot, 2);
  auto out = kqtest::readSet("Aidentity.bin");
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1], v[2]);   // the identity leaves the ray as it was, DE too

  // Nothing clears an aperture that the set misses: a caption-only file.
  auto w = std::vector<Ray>{{0, 1e-2, 0, 0, 0}, {0, 2e-2, 0, 0, 0}};
  kqtest::writeSet("u.bin", w);
  Session none("DATA u\nTRANS identity\nn\nEXIT\n");
  EXPECT_EQ(none.k.ntot, 0);
  EXPECT_EQ(fs::file_size("Aidentity.bin"), 108u);
}

// The example triplet demagnifies 20 x 16 and has a spherical aberration
// x/th^3 = -2.1e5 m, x/th.ph^2 = -6.5e5 m (THIRD's values in its coefficient
// file). Its image of a 10 micron object through a 0.3 mm aperture 6.5 m
// away is the object's image, 0.5 x 0.625 micron, widened by the
// aberration disc: for a = 2.3077e-5 rad at most
// |Tx1| a^3 + |Tx2| a^3 = 1.1e-8 m in x. The regular grid of the square
// aperture reaches its edges.
TEST_F(Map, SpotOfTheTripletIsItsDemagnifiedObjectPlusTheAberrationDisc) {
  fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / "triplet.cof", "triplet.cof");
  // Object alone, then aperture alone, then both.
  const std::string synth = "SYNTH/N triplet\n2\n%s\nS\n%s\n0 0\n%s\n0 0\n0\n0 0\nQ\n";
  auto run = [&](const std::string& n, const std::string& obj, const std::string& ap) {
    std::string in = synth;
    for (const std::string& r : {n, obj, ap}) in.replace(in.find("%s"), 2, r);
    Session s(in + "MAP/D W\nMAP/U\nX\n\nEXIT\n");
    return std::array<double, 4>{s.k.extXmin, s.k.extXmax, s.k.extYmin, s.k.extYmax};
  };
  const auto obj = run("441", "10 10", "0 0");
  // The object's size is typed in micron of single precision.
  EXPECT_NEAR(obj[1] - obj[0], 10e-6 / 20, 1e-7 * 10e-6 / 20);
  EXPECT_NEAR(obj[3] - obj[2], 10e-6 / 16, 1e-7 * 10e-6 / 16);

  const double a = 0.15e-3 / 6.5;
  const auto ap = run("441", "0 0", "0.3 0.3");
  // The edge ray (a, 0) lands at Tx1 a^3; no ray lands beyond the disc.
  const double tx1 = -2.1e5 * a * a * a;
  const double disc = (2.1e5 + 6.5e5 + 0.35 + 0.12) * a * a * a;
  EXPECT_LE(ap[0], tx1 * (1 - 1e-9));
  EXPECT_GE(ap[0], -disc);
  EXPECT_LE(ap[1], disc);

  // With the object too every third-order term counts: each at most its
  // coefficient times the largest monomial (object half-size h, angle a).
  const double h = 5e-6;
  const double tx[10] = {-2.1e5, -6.5e5, 1200, -840, 3.1e4, -15.5, 220, -73, 0.35, -0.12};
  const double mono[10] = {a * a * a, a * a * a, h * a * a, h * a * a, a * h * a,
                           h * h * a, a * h * h, h * h * a, h * h * h, h * h * h};
  double bound = 0;
  for (int i = 0; i < 10; ++i) bound += std::fabs(tx[i]) * mono[i];
  const auto both = run("10000", "10 10", "0.3 0.3");
  EXPECT_LE(both[1], 0.25e-6 + bound + 1e-12);
  EXPECT_GE(both[1], 0.25e-6 - 1e-12);
  EXPECT_GE(both[0], -0.25e-6 - bound - 1e-12);
  // and the aberrations widen the spot by more than a tenth of a percent.
  EXPECT_GT(both[1] - both[0], 0.5e-6 * 1.001);
}

}  // namespace

namespace {

bool have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// The plot files of MAP and PLOT are read by the viewers users have: the
// PostScript interpreter and the Tektronix stream converter. Both must run
// through the files without a complaint.
TEST_F(Map, MapAndPlotFilesRenderInTheirViewers) {
  if (!have("gs") || !have("tek2plot")) GTEST_FAIL() << "ghostscript or plotutils not installed";
  fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / "triplet.cof", "triplet.cof");
  Session s("SYNTH/N triplet\n1\n500\nC\n10 10\n0 0\n0.3 0.3\n0 0\n0\n0 0\nQ\n"
            "TERM 1\nDEST tek.out\nMAP/E S\nMAP/Q\nX\n\nPLOT/Q\nX\nT\nX\n\n\nMAP\nY\n1\nEXIT\n");
  ASSERT_TRUE(fs::exists("plt01.ps")) << s.text();
  ASSERT_TRUE(fs::exists("plt02.ps"));
  ASSERT_GT(fs::file_size("tek.out"), 1000u);
  for (const char* f : {"plt01.ps", "plt02.ps"}) {
    const std::string cmd = std::string("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r20 "
                                        "-sOutputFile=") + f + ".png " + f + " >gs.err 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << kqtest::slurp("gs.err");
    EXPECT_TRUE(kqtest::slurp("gs.err").empty()) << kqtest::slurp("gs.err");
    EXPECT_GT(fs::file_size(std::string(f) + ".png"), 100u);
  }
  EXPECT_EQ(std::system("tek2plot -T png tek.out >tek.png 2>tek.err"), 0);
  EXPECT_TRUE(kqtest::slurp("tek.err").empty()) << kqtest::slurp("tek.err");
  EXPECT_GT(fs::file_size("tek.png"), 100u);
}

}  // namespace
