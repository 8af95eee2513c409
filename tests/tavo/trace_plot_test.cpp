// What a trace plot shows a reader: the x edge ray solid and the y edge ray
// dashed, a key that says which is which, and the marks on the axis named.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "session.h"

namespace {

class TracePlot : public abertest::SessionDir {
 protected:
  static std::string slurp(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  struct Rec {
    double x, y;
    bool draw;
  };
  // The point records of the page, in order (comments left out).
  static std::vector<Rec> records(const std::string& ps) {
    std::vector<Rec> r;
    std::istringstream in(ps.substr(ps.find("newpath 0 0 moveto")));
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind('%', 0) == 0) continue;
      std::istringstream t(line);
      std::vector<std::string> tok;
      for (std::string w; t >> w;) tok.push_back(w);
      for (size_t i = 2; i < tok.size(); ++i)
        if (tok[i] == "vl" || tok[i] == "il")
          r.push_back({std::stod(tok[i - 2]), std::stod(tok[i - 1]), tok[i] == "vl"});
    }
    return r;
  }
};

// One text unit on the trace's page: 0.0225 of the frame's width. The
// window (frame and margins of 4 and 1 twentieths) maps onto 9937.5 page
// units, the frame onto 9937.5 / 1.25; the aspect is the page's, so the
// unit is the same along both axes: 178.9 page units. Dashes are 0.6
// units (107 page units) with gaps of 0.4 (72).
constexpr double kUnit = 0.0225 * 9937.5 / 1.25;

TEST_F(TracePlot, TheYRayIsDashedTheXRaySolidAndTheMarksNamed) {
  const std::string out = run("DATA triplet\nTRACE Q\n\n\nCLOSE\n");
  ASSERT_NE(out.find("nstep:         250"), std::string::npos) << out;
  const std::string ps = slurp("plt01.ps");
  // The key and the names of the marks: x and y, the object- and
  // image-side principal planes of both planes of motion, the system end.
  // The axes name their quantities and units.
  for (const char* t : {"x", "y", "Hx", "H'x", "Hy", "H'y", "system end", "z-axis (m)",
                        "x- and y-axes (mm)"})
    EXPECT_NE(ps.find(std::string("\n% text: ") + t + "\n"), std::string::npos) << t;
  const std::vector<Rec> r = records(ps);
  // The x trajectory: one move and 250 draws without a break.
  size_t best = 0, bestEnd = 0, run = 0;
  for (size_t i = 0; i < r.size(); ++i) {
    run = r[i].draw ? run + 1 : 0;
    if (run > best) best = run, bestEnd = i;
  }
  EXPECT_EQ(best, 250u);
  // The y trajectory follows it: dashes of 0.6 units along the curve, each
  // a move and its draws, 0.4 units apart.
  std::vector<double> dash, gap;
  double len = 0;
  for (size_t i = bestEnd + 1; i < r.size(); ++i) {
    const double d = std::hypot(r[i].x - r[i - 1].x, r[i].y - r[i - 1].y);
    if (r[i].draw) {
      len += d;
      continue;
    }
    if (len > 0) dash.push_back(len);
    if (i > bestEnd + 1) gap.push_back(d);
    len = 0;
  }
  ASSERT_GT(dash.size(), 30u);
  // The last dash is cut where the trajectory ends; records are whole
  // page units, so a dash measures within a few units.
  int whole = 0;
  for (size_t k = 0; k + 1 < dash.size(); ++k) whole += std::fabs(dash[k] - 0.6 * kUnit) < 4;
  EXPECT_GE(whole, static_cast<int>(dash.size()) - 2);
  int gaps = 0;
  for (double d : gap) gaps += d <= 0.4 * kUnit + 2 && d > 0.4 * kUnit * 0.5;
  EXPECT_GE(gaps, static_cast<int>(gap.size()) - 2);
}

// The repeat draws the trajectories again on the open plot, y dashed too,
// and a trace that reaches no further than its first step still ends.
TEST_F(TracePlot, RepeatsAndTinyRangesEnd) {
  const std::string out =
      run("DATA triplet\nTRACE/V 3\n\n\nTRACE/R\nTRACE/V 1\n1 1\n\nTRACE/E S\nTRACE/Q\n0 1e-9\n-1e-9 1e-9\n");
  EXPECT_EQ(std::count(out.begin(), out.end(), ':') > 0, true);
  size_t n = 0;
  for (size_t p = out.find("nstep:"); p != std::string::npos; p = out.find("nstep:", p + 1)) ++n;
  EXPECT_EQ(n, 4u) << out;
}

}  // namespace
