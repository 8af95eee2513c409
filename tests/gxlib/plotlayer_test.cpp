// The device-independent layer, axes and stroke text, seen through the
// PostScript records they produce and through the text measure.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <sstream>
#include <vector>

#include "gxlib/plot/plot.h"
#include "test_support.h"

using gxtest::Session;
using gxtest::TempDir;

namespace {

struct Rec {
  double x, y;
  std::string op;  // "il" or "vl"
};

// The point records of a PostScript file, in order.
std::vector<Rec> records(const std::string& file) {
  std::vector<Rec> out;
  std::istringstream in(file);
  std::string line;
  bool body = false;
  while (std::getline(in, line)) {
    if (line.find("SLW") != std::string::npos && !body) {
      body = true;
      continue;
    }
    if (!body || line.rfind('%', 0) == 0) continue;  // comments carry the texts
    for (size_t i = 0; i + 14 <= line.size(); i += 14) {
      std::string slot = line.substr(i, 14);
      if (slot.find("il") == std::string::npos && slot.find("vl") == std::string::npos) continue;
      out.push_back({std::stod(slot.substr(0, 5)), std::stod(slot.substr(6, 4)), slot.substr(11, 2)});
    }
  }
  return out;
}

int count(const std::vector<Rec>& r, const std::string& op) {
  int n = 0;
  for (const Rec& x : r) n += x.op == op;
  return n;
}

// A PostScript plot of the window 0..10 x 0..10 at aspect sqrt 2: data x
// maps to 312.5 + 993.75 x, data y to 702.687 y page units.
struct PsPlot {
  PsPlot() {
    d.enter();
    int ierr;
    gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'Q', 0, 10, 0, 10, ierr);
  }
  std::vector<Rec> finish() {
    gx::gxend(s.g, 'Q');
    gx::gxquit(s.g, '*');
    return records(d.read("plt01.ps"));
  }
  TempDir d;
  Session s;
};

}  // namespace

TEST(PlotLayer, TextUnitFollowsTheAspectRatio) {
  Session s;
  int ierr;
  gx::gxstart(s.g, 5, 6, 0, 0.5f, 'U', 0, 10, 0, 4, ierr);
  float ux, uy;
  gx::gxunit(s.g, ux, uy);
  EXPECT_FLOAT_EQ(ux, 0.45f);   // 0.045 x span
  EXPECT_FLOAT_EQ(uy, 0.09f);   // 0.0225 x span
  gx::gxstart(s.g, 5, 6, 0, 2.0f, 'U', 0, 10, 0, 4, ierr);
  gx::gxunit(s.g, ux, uy);
  EXPECT_FLOAT_EQ(ux, 0.225f);
  EXPECT_FLOAT_EQ(uy, 0.18f);
  gx::gxunit_set(s.g, 1, 0.5f, 0.25f);
  gx::gxunit(s.g, ux, uy);
  EXPECT_FLOAT_EQ(ux, 0.5f);
  EXPECT_FLOAT_EQ(uy, 0.25f);
  gx::gxbox_load(s.g, 2, 12, -1, 1);
  EXPECT_FLOAT_EQ(s.g.plot.xsym, 1.5f);  // left text margin: 5 % of the span
  gx::gxfont(s.g, 4);
  gx::gxfont(s.g, 9);
  EXPECT_EQ(s.g.plot.font, 4);
  s.g.plot.aspect = 1;
  gx::gxstart(s.g, 5, 6, 0, 0.0f, 'O', 0, 1, 0, 1, ierr);
  EXPECT_EQ(s.text(), " Not implemented at Kelmor.\n");
}

TEST(PlotLayer, MovesAreRememberedAndBadPointsBreakTheLine) {
  PsPlot p;
  gx::gxplot(p.s.g, 'Q', 0, 0, 3);
  gx::gxplot(p.s.g, 'Q', 1, 1, 2);
  gx::gxplot(p.s.g, 'Q', NAN, 0, 2);       // cannot be drawn: the line breaks
  gx::gxplot(p.s.g, 'Q', 1, 0, 2);         // starts afresh here
  gx::gxplot(p.s.g, 'Q', 0, INFINITY, 2);
  gx::gxplot(p.s.g, 'Q', 2, 0, 2);
  gx::gxplot(p.s.g, 'Q', 0, 0, 2);
  auto r = p.finish();
  // (1, 0) only became the start of a line that the infinite point broke
  // again; (2, 0) starts the last one.
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].op, "il");
  EXPECT_EQ(r[1].op, "vl");
  EXPECT_EQ(r[2].op, "il");
  EXPECT_EQ(r[2].x, 2300);  // 312.5 + 2 x 993.75
  EXPECT_EQ(r[3].x, 312);
  EXPECT_EQ(r[3].op, "vl");
}

TEST(PlotLayer, FrameAndFatLines) {
  PsPlot p;
  gx::gxbox(p.s.g, 'Q', 0, 10, 0, 10);
  gx::gxfatset(p.s.g, 1.0f, 1);
  gx::gxplot(p.s.g, 'Q', 2, 5, 3);
  gx::gxplot(p.s.g, 'Q', 8, 5, 2);  // horizontal: strokes above and below
  gx::gxfatset(p.s.g, 0, 0);
  auto r = p.finish();
  ASSERT_EQ(r.size(), 5u + 2 + 4 + 1);
  EXPECT_EQ(count(std::vector<Rec>(r.begin(), r.begin() + 5), "vl"), 4);
  // ux = 0.225, uy = 0.0225 x 10 x sqrt 2 = 0.3182 data units.
  const Rec& a = r[7];   // first stroke: from x1 - ux at y1 - uy
  const Rec& b = r[8];   // to x2 + ux
  EXPECT_EQ(a.op, "il");
  EXPECT_NEAR(a.x, 312.5 + 993.75 * 1.775, 1);
  EXPECT_NEAR(a.y, 702.687 * (5 - 0.31820), 1);
  EXPECT_NEAR(b.x, 312.5 + 993.75 * 8.225, 1);
  EXPECT_NEAR(r[10].y, 702.687 * (5 + 0.31820), 1);
  EXPECT_EQ(r[11].op, "il");  // back to the end of the segment
  EXPECT_NEAR(r[11].x, 312.5 + 993.75 * 8, 1);
}

TEST(Axes, TickSteps) {
  bool five;
  EXPECT_DOUBLE_EQ(gx::gxmark_step(10, 5, five), 2);
  EXPECT_FALSE(five);
  EXPECT_NEAR(gx::gxmark_step(1, 10, five), 0.1, 1e-12);
  EXPECT_DOUBLE_EQ(gx::gxmark_step(-10, 5, five), -2);
  EXPECT_DOUBLE_EQ(gx::gxmark_step(100, 5, five), 20);
  EXPECT_DOUBLE_EQ(gx::gxmark_step(9, 1, five), 5);  // 1 -> 2 -> 5
  EXPECT_TRUE(five);
  EXPECT_DOUBLE_EQ(gx::gxmark_step(0, 5, five), 0);  // no span: no axis
}

TEST(Axes, LabelForms) {
  Session s;
  EXPECT_EQ(gx::gxmark_label(s.g, -4, 0, false), "^0-4");
  EXPECT_EQ(gx::gxmark_label(s.g, 1e-31, 1, false), "^00");
  EXPECT_EQ(gx::gxmark_label(s.g, 2.5, 1, false), "^02.5");
  EXPECT_EQ(gx::gxmark_label(s.g, -0.25, 2, false), "^0-0.25");
  EXPECT_EQ(gx::gxmark_label(s.g, 1.5e8, 1, false), "^01.5E+08");
  EXPECT_EQ(gx::gxmark_label(s.g, 0.001, 4, false), "^01.0E-03");
  EXPECT_EQ(gx::gxmark_label(s.g, -3, 0, true), "^010^U-3");
  gx::gxfont(s.g, 7);
  EXPECT_EQ(gx::gxmark_label(s.g, 3, 0, false), "^33");
  gx::gxfont(s.g, 2);
  EXPECT_EQ(gx::gxmark_label(s.g, 3, 0, false), "^13");
  gx::gxfont(s.g, 5);
  EXPECT_EQ(gx::gxmark_label(s.g, 3, 0, false), "^53");
}

TEST(Axes, TickCounts) {
  {
    PsPlot p;
    gx::gxmark_setup(p.s.g, 'V', 0, 0);  // no labels: ticks only
    gx::gxmark(p.s.g, 'Q', 5, 0, 1);
    // Majors at 0, 2, ..., 10 and one minor in each of the 5 intervals,
    // along the bottom and again along the top.
    EXPECT_EQ(count(p.finish(), "vl"), 2 * (6 + 5));
  }
  {
    PsPlot p;
    gx::gxmark_setup(p.s.g, 'V', 0, 0);
    gx::gxmark_setup(p.s.g, 'U', 0, 0);
    gx::gxbox_load(p.s.g, 0, 9, 0, 10);
    gx::gxmark(p.s.g, 'Q', 1, 0, 1);  // a five-step: majors 0, 5; minors 1-4, 6-9
    EXPECT_EQ(count(p.finish(), "vl"), 2 + 8);
  }
  {
    PsPlot p;
    gx::gxmark_setup(p.s.g, 'V', 0, 0);
    gx::gxmark_setup(p.s.g, 'U', 0, 0);
    gx::gxmark_setup(p.s.g, '5', 0, 0);
    gx::gxbox_load(p.s.g, 0, 9, 0, 10);
    gx::gxmark(p.s.g, 'Q', 1, 0, 1);  // no minor ticks after a five-step
    EXPECT_EQ(count(p.finish(), "vl"), 2);
  }
  {
    PsPlot p;
    gx::gxmark_setup(p.s.g, 'W', 0, 0);
    gx::gxbox_load(p.s.g, 0, 10, 1, 4);
    gx::gxmark_log(p.s.g, 'Q', 0, 3, 1);  // decades 1..4 and 2..9 in each of three
    EXPECT_EQ(count(p.finish(), "vl"), 2 * (4 + 3 * 8));
  }
  {
    PsPlot p;
    gx::gxmark_setup(p.s.g, 'L', 1, 0);  // a grid: majors run across
    gx::gxmark_setup(p.s.g, 'V', 0, 0);
    gx::gxmark_setup(p.s.g, 'G', 0, 0);
    gx::gxmark(p.s.g, 'Q', 5, 0, 1);
    auto r = p.finish();
    ASSERT_EQ(count(r, "vl"), 6);
    EXPECT_EQ(r[1].y, 7026);  // to the top edge
  }
  {
    PsPlot p;
    p.s.g.plot.mark.marks = 0;  // MARKS D
    gx::gxmark(p.s.g, 'Q', 5, 5, 1);
    EXPECT_EQ(count(p.finish(), "vl"), 0);
  }
}

TEST(Axes, LabelsAndTheTitleMargin) {
  PsPlot p;
  gx::gxbox_load(p.s.g, 0, 10, -5, 5);
  float ux, uy;
  gx::gxunit(p.s.g, ux, uy);
  float m = gx::gxmark(p.s.g, 'Q', 0, 5, 1);
  // The widest y labels are "-4.0" and "-2.0", drawn at 0.75 text units
  // ending half a unit left of the frame; the title starts a unit further.
  float w = gx::gxsymlen(p.s.g, 0.75f, "^0-4.0", -1);
  EXPECT_NEAR(m, 0 - 0.5f * ux - w - ux, 1e-5);
  EXPECT_GT(w, gx::gxsymlen(p.s.g, 0.75f, "^00", -1));
  p.finish();
}

TEST(Text, EscapesAndMeasures) {
  Session s;
  int ierr;
  gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'U', 0, 10, 0, 10, ierr);
  EXPECT_EQ(gx::gxsymlen(s.g, 0, "ABC", -1), 0.0f);
  // Font 1's A advances 18 of its 21 grid units: 6 x 18/21 cell units, at
  // height 5 one cell unit is one text unit, 0.0225 x 10.
  EXPECT_NEAR(gx::gxsymlen(s.g, 5, "^1A", -1), 6.0 * 18 / 21 * 0.225, 1e-5);
  float a = gx::gxsymlen(s.g, 1, "A", -1);
  EXPECT_NEAR(gx::gxsymlen(s.g, 1, "^UA", -1), 0.75f * a, 1e-6);
  EXPECT_NEAR(gx::gxsymlen(s.g, 1, "^IA", -1), a / 0.75f, 1e-6);
  EXPECT_NEAR(gx::gxsymlen(s.g, 1, "AA", -1), 2 * a, 1e-6);
  EXPECT_NEAR(gx::gxsymlen(s.g, 1, "A^HA", -1), a + a - 6 * 0.045f, 1e-5);
  EXPECT_NEAR(gx::gxsymlen(s.g, 1, "AB^", -1), gx::gxsymlen(s.g, 1, "AB", -1), 1e-6);
  float caret = gx::gxsymlen(s.g, 1, "^^", -1);
  EXPECT_GT(caret, 0);
  EXPECT_NEAR(gx::gxsymlen(s.g, 1, "A^^", -1), a + caret, 1e-6);
  EXPECT_NEAR(gx::gxsymlen(s.g, 1, "^^^^", -1), 2 * caret, 1e-6);
  EXPECT_NEAR(gx::gxsymlen(s.g, 1, "ABCD", 1), a, 1e-6);  // length counts
  // Greek and the special symbols come from font 0; an unknown code resets.
  EXPECT_GT(gx::gxsymlen(s.g, 1, "^Ga", -1), 0);
  EXPECT_GT(gx::gxsymlen(s.g, 1, "^VP", -1), 0);
  EXPECT_NEAR(gx::gxsymlen(s.g, 1, "^U^RA", -1), a, 1e-6);
  std::string longText(10000, 'A');
  EXPECT_NEAR(gx::gxsymlen(s.g, 1, longText, -1), 10000 * a, 10000 * a * 1e-4);
}

TEST(Text, DrawnTextIsWellFormed) {
  PsPlot p;
  gx::gxsymbol(p.s.g, 'Q', 1, 1, 0, 0, "nothing", -1);  // height 0
  gx::gxsymbol(p.s.g, 'Q', 1, 1, 1, 30, std::string(10000, 'W') + "^E^Zx^Z^E^9^", -1);
  auto r = p.finish();
  // The line runs far beyond the page: what is on it is drawn, and every
  // record lies on the page (10700 by 7963 units inside the sheet's margin).
  EXPECT_GT(r.size(), 200u);
  EXPECT_EQ(r.front().op, "il");
  for (const Rec& x : r) {
    EXPECT_LE(x.x, 10700);
    EXPECT_LE(x.y, 7963);
  }
  std::string f = p.d.read("plt01.ps");
  EXPECT_NE(f.find(" showpage \n%%Trailer\n"), std::string::npos);
  EXPECT_EQ(f.substr(f.size() - 9), "\n%%EOF\n\x04\n");
}

// Line styles on the plot files: the layer breaks each draw into dashes of
// the style's pattern, measured in text units on the page. In the PsPlot
// window one text unit is 0.225 data units in x (223.6 page units) and
// 0.3182 in y (223.6 page units too). Style 1 is 0.6 drawn, 0.4 left out.
namespace {

constexpr double kUnitPage = 0.0225 * 10 * 993.75;  // 223.6

// The dashes of a PostScript file: each move and the draws after it.
struct Dash {
  double x0, x1;
};
std::vector<Dash> dashes(const std::vector<Rec>& r) {
  std::vector<Dash> d;
  for (const Rec& x : r) {
    if (x.op == "il") d.push_back({x.x, x.x});
    else if (!d.empty()) d.back().x1 = x.x;
  }
  return d;
}

}  // namespace

TEST(LineStyles, DashesRunOnAcrossDrawsAndRestartAfterAMove) {
  // Ten text units drawn at once, then the same ten units as a polyline of
  // 1000 draws: the same ten dashes, starting every text unit.
  for (int pieces : {1, 1000}) {
    PsPlot p;
    gx::gxline(p.s.g, 1);
    gx::gxplot(p.s.g, 'Q', 1, 5, 3);
    for (int i = 1; i <= pieces; ++i) gx::gxplot(p.s.g, 'Q', 1 + 2.25f * i / pieces, 5, 2);
    // A move starts the pattern again: a dash begins where the pen lands.
    gx::gxplot(p.s.g, 'Q', 5, 5, 3);
    gx::gxplot(p.s.g, 'Q', 5.1f, 5, 2);
    gx::gxline(p.s.g, 0);
    const std::vector<Dash> d = dashes(p.finish());
    ASSERT_EQ(d.size(), 11u) << pieces;
    const double start = 312.5 + 993.75;
    for (int k = 0; k < 10; ++k) {
      EXPECT_NEAR(d[k].x0, start + k * kUnitPage, 2) << pieces << " dash " << k;
      EXPECT_NEAR(d[k].x1 - d[k].x0, 0.6 * kUnitPage, 2) << pieces << " dash " << k;
    }
    EXPECT_NEAR(d[10].x0, 312.5 + 5 * 993.75, 1);
    EXPECT_NEAR(d[10].x1, 312.5 + 5.1 * 993.75, 1);  // 0.44 units, inside one dash
  }
}

TEST(LineStyles, DegenerateDrawsEndAndHugeOnesAreDrawnWhole) {
  PsPlot p;
  gx::gxline(p.s.g, 4);
  gx::gxplot(p.s.g, 'Q', 1, 1, 3);
  for (int i = 0; i < 100000; ++i) gx::gxplot(p.s.g, 'Q', 1, 1, 2);  // no length
  gx::gxplot(p.s.g, 'Q', 1e30f, 1, 2);   // far beyond the page: one line, clipped
  gx::gxplot(p.s.g, 'Q', 1e-30f, 1, 2);
  gx::gxplot(p.s.g, 'Q', FLT_MAX, FLT_MAX, 2);
  gx::gxline(p.s.g, 0);
  const auto r = p.finish();
  EXPECT_LT(r.size(), 20u);
  for (const Rec& x : r) EXPECT_LE(x.x, 10700);
}

// The terminal dashes its lines itself: the layer sends it the line whole,
// with the style's escape (ESC and 96 + 3, short dashes), not in pieces.
TEST(LineStyles, TheTerminalDashesInHardware) {
  auto stream = [](int style) {
    Session s("1\n");
    std::ostringstream tek;
    gx::crdest_stream(s.g, &tek);
    gx::crtype(s.g, 5, 6, 0, 1);
    int ierr;
    gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'S', 0, 10, 0, 10, ierr);
    gx::gxline(s.g, style);
    gx::gxplot(s.g, 'S', 1, 5, 3);
    gx::gxplot(s.g, 'S', 9, 5, 2);
    gx::gxend(s.g, 'S');
    gx::crsend(s.g, -1);
    gx::crdest_stream(s.g, nullptr);
    return tek.str();
  };
  const std::string solid = stream(0), dashed = stream(1);
  EXPECT_NE(dashed.find("\x1b" "c"), std::string::npos);
  EXPECT_LT(dashed.size(), solid.size() + 12);
}

// Every text keeps its plain words beside its strokes: a comment in the
// PostScript file, a titled group in the SVG file.
TEST(Text, TheFilesKeepTheTextsTheyDraw) {
  EXPECT_EQ(gx::gxplaintext("H'^Dx^^2 ^GabC\x01", -1), "H'x^2 abC?");
  EXPECT_EQ(gx::gxplaintext("^3Box", 2), "");
  PsPlot p;
  gx::gxsymbol(p.s.g, 'Q', 1, 1, 1, 0, "^1E (^Gl^Cm)", -1);
  gx::gxsymbol(p.s.g, 'Q', 1, 1, 0, 0, "nothing", -1);  // height 0: nothing
  p.finish();
  const std::string f = p.d.read("plt01.ps");
  EXPECT_NE(f.find("\n% text: E (lm)\n"), std::string::npos);
  EXPECT_EQ(f.find("nothing"), std::string::npos);
  int ierr;
  gx::gxstart(p.s.g, 5, 6, 0, 1.4142135f, 'V', 0, 10, 0, 10, ierr);
  gx::gxsymbol(p.s.g, 'V', 1, 1, 1, 0, "a<b", -1);
  gx::gxquit(p.s.g, '*');
  const std::string v = p.d.read("plt01.svg");
  const size_t at = v.find("<g><title>a&lt;b</title>\n<path");
  ASSERT_NE(at, std::string::npos) << v;
  EXPECT_NE(v.find("\"/>\n</g>\n", at), std::string::npos);
}
