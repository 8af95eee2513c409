// MAP and PLOT on the SVG device in whole sessions: the same strokes as the
// PostScript file of the same map, a file a web browser reads, and the spot
// map as the browser and Ghostscript draw it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "../gxlib/render_support.h"
#include "session.h"
#include "workdir.h"

namespace {

namespace fs = std::filesystem;
using kqtest::Session;

class MapSvg : public kqtest::WorkDir {};

// A draw from one page point to the next, in page units (y up).
struct Stroke {
  int x1, y1, x2, y2;
  bool operator==(const Stroke&) const = default;
};

// "x y il" moves and "x y vl" draws of a PostScript plot file; the pen
// starts at the page's corner.
std::vector<Stroke> psStrokes(const std::string& ps) {
  std::vector<Stroke> v;
  std::istringstream in(ps.substr(ps.find("newpath 0 0 moveto")));
  int px = 0, py = 0;
  std::vector<std::string> tok;
  for (std::string t; in >> t;) tok.push_back(t);
  for (size_t i = 2; i < tok.size(); ++i) {
    if (tok[i] != "vl" && tok[i] != "il") continue;
    const int x = std::stoi(tok[i - 2]), y = std::stoi(tok[i - 1]);
    if (tok[i] == "vl") v.push_back({px, py, x, y});
    px = x;
    py = y;
  }
  return v;
}

// The M and L commands of every path of an SVG plot file, turned back to
// page units.
std::vector<Stroke> svgStrokes(const std::string& svg) {
  std::vector<Stroke> v;
  int px = 0, py = 0;
  for (size_t p = svg.find(" d=\""); p != std::string::npos; p = svg.find(" d=\"", p + 1)) {
    const size_t e = svg.find('"', p + 4);
    std::string d = svg.substr(p + 4, e - p - 4);
    for (char& c : d)
      if (c == '\n') c = ' ';
    size_t i = 0;
    while (i < d.size()) {
      const char cmd = d[i++];
      if (cmd != 'M' && cmd != 'L') continue;
      size_t used = 0;
      const int x = std::stoi(d.substr(i), &used);
      i += used;
      const int y = 8500 - std::stoi(d.substr(i), &used);
      i += used;
      if (cmd == 'L') v.push_back({px, py, x, y});
      px = x;
      py = y;
    }
  }
  return v;
}

// 500 rays through the example triplet, at its X image plane.
const char* kSynth = "SYNTH/N triplet\n1\n500\nC\n10 10\n0 0\n0.3 0.3\n0 0\n0\n0 0\nQ\n";

}  // namespace

TEST_F(MapSvg, MapAndPlotDrawTheSameStrokesAsPostScript) {
  fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / "triplet.cof", "triplet.cof");
  Session s(std::string(kSynth) +
            "MAP/E S\nMAP/Q\nX\n\nMAP/V\nX\n\nPLOT/Q\nX\nT\nX\n\n\nPLOT/v\nX\nT\nX\n\n\nEXIT\n");
  EXPECT_TRUE(s.has(" Plot written to: plt01.svg")) << s.text();
  EXPECT_TRUE(s.has(" Plot going to: plt02.svg (open, complete at CLOSE)"));
  EXPECT_TRUE(s.has(" Plot output file plt02.svg closed."));  // EXIT ends the file
  EXPECT_EQ(kqtest::slurp("svgnum.run"), "    2\n");
  // Each map and plot is the same drawing on both devices, draw for draw.
  const std::pair<const char*, const char*> files[] = {{"plt01.ps", "plt01.svg"},
                                                        {"plt02.ps", "plt02.svg"}};
  for (const auto& [ps, svg] : files) {
    ASSERT_TRUE(fs::exists(svg)) << s.text();
    if (gxrender::have("python3")) {
      EXPECT_EQ(gxrender::xmlProblem(svg), "") << svg;
    }
    const auto a = psStrokes(kqtest::slurp(ps)), b = svgStrokes(kqtest::slurp(svg));
    EXPECT_GT(a.size(), 500u) << ps;  // at least a stroke per ray
    EXPECT_TRUE(a == b) << ps << " has " << a.size() << " draws, " << svg << " " << b.size();
  }
}

// The spot map with its box, caption line and scale bar, moved up 15 mm
// and shrunk to 0.9 on every device, as the demonstration does.
TEST_F(MapSvg, BrowserShowsTheMapWhereGhostscriptDoes) {
  const std::string why = gxrender::missingRenderers();
  if (!why.empty()) GTEST_FAIL() << why;
  fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / "triplet.cof", "triplet.cof");
  // A 10 micron box (half-width 5) round a spot of about 1.4 by 1 micron.
  Session s(std::string(kSynth) + "MAP/E S\nDEFINE/*\n0.9\n0 15\nMAP/Q\nX\n5\nMAP/V\nX\n5\nEXIT\n");
  ASSERT_TRUE(fs::exists("plt01.ps")) << s.text();
  ASSERT_TRUE(fs::exists("plt01.svg")) << s.text();
  std::string log;
  ASSERT_TRUE(gxrender::renderPs("plt01.ps", "ps.png", log)) << log;
  ASSERT_TRUE(gxrender::renderSvg("plt01.svg", "svg.png", log)) << log;
  const gxrender::Raster ps = gxrender::readPng("ps.png"), svg = gxrender::readPng("svg.png");
  ASSERT_EQ(ps.w, 1632);
  ASSERT_EQ(svg.w, 2112);
  const gxrender::View vp{&ps, true}, vs{&svg, false};
  const double tol = 30;  // page units: 3 pixels at 96 dpi

  // The plot keeps 0.15 w below the 2 w box for the caption: aspect
  // 2/2.15, the area 312.5..6849.1 by 0..7026.9 with the box's foot at
  // 0.15/2.15 of the height (490.2); at scale 0.9 and 15 mm (590.6 units)
  // up: the box at x 281.3 and 6164.2, y 1031.8 and 6914.7.
  for (const gxrender::View* v : {&vp, &vs}) {
    const char* which = v == &vp ? "PostScript" : "SVG";
    const auto xs = gxrender::lines(*v, true, 100, 8000, 1000, 6500);
    ASSERT_EQ(xs.size(), 2u) << which;
    EXPECT_NEAR(xs[0], 281.3, tol) << which;
    EXPECT_NEAR(xs[1], 6164.2, tol) << which;
    const auto ys = gxrender::lines(*v, false, 300, 8300, 1000, 6000);
    ASSERT_EQ(ys.size(), 2u) << which;
    EXPECT_NEAR(ys[0], 1031.8, tol) << which;
    EXPECT_NEAR(ys[1], 6914.7, tol) << which;
  }
  // The line above the box ("Box edge length = 10.0 um  Z = ..." and the
  // ray file's name) stands on y = w + 0.05 w, 2.2 w over the plot's foot:
  // page 7061.9, its capitals 0.75 text units of 0.045 w high (99.3 units).
  const gxrender::Box tp = gxrender::ink(vp, 150, 6800, 6960, 7500);
  const gxrender::Box ts = gxrender::ink(vs, 150, 6800, 6960, 7500);
  ASSERT_GT(tp.count, 100);
  ASSERT_GT(ts.count, 100);
  EXPECT_NEAR(tp.x0, 281.3, 60);
  EXPECT_NEAR(tp.x1, 6164.2, 60);  // the file name ends at the box's right edge
  EXPECT_NEAR(tp.y1, 7061.9 + 99.3, 40);
  for (auto [a, b] : {std::pair{tp.x0, ts.x0}, {tp.x1, ts.x1}, {tp.y0, ts.y0}, {tp.y1, ts.y1}})
    EXPECT_NEAR(b, a, tol);
  // The spot itself, centred in the box (page 3222.7, 3973.3), as large in both.
  const gxrender::Box sp = gxrender::ink(vp, 1500, 5400, 1800, 5700);
  const gxrender::Box ss = gxrender::ink(vs, 1500, 5400, 1800, 5700);
  ASSERT_GT(sp.count, 100);
  EXPECT_NEAR((sp.x0 + sp.x1) / 2, 3222.7, 300);
  EXPECT_NEAR((sp.y0 + sp.y1) / 2, 3973.3, 300);
  for (auto [a, b] : {std::pair{sp.x0, ss.x0}, {sp.x1, ss.x1}, {sp.y0, ss.y0}, {sp.y1, ss.y1}})
    EXPECT_NEAR(b, a, tol);
}
