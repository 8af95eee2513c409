// TRACE in whole sessions: steps, stop points at apertures and slits,
// trace.dat and the plot file.
#include <sys/stat.h>

#include <cmath>
#include <filesystem>

#include "session.h"

using abertest::numbersAfter;

namespace {

class TraceSession : public abertest::SessionDir {
 protected:
  // 2 m of drift-like system: a field-free quadrupole of bore 1 mm over
  // z = 1.0 .. 1.1, or a 1 mm wide x slit at z = 1.0. The edge ray leaves
  // the axis at 2 mrad in both planes.
  void writeLine(const std::string& name, bool slit, double slitPlane = 0) {
    std::vector<std::vector<double>> rows = {{0, 1, 1.007276, 3.0, -1}, {1, 0, 2e-3, 0, 2e-3, 0},
                                             {3, 1.0, 0, 0}};
    if (slit) {
      rows.push_back({5 + slitPlane, 0, 0, 1e-3});
      rows.push_back({3, 1.0, 0, 0});
    } else {
      rows.push_back({4, 0.1, 0, 1e-3});
      rows.push_back({3, 0.9, 0, 0});
    }
    rows.push_back({9, 0, 0, 0});
    writeSystem(name, "Aperture test", rows);
  }
  static std::vector<double> stops(const std::string& out) {
    auto n = numbersAfter(out, "nstep:", 1), x = numbersAfter(out, "icollx:", 1),
         y = numbersAfter(out, "icolly:", 1);
    return {n[0], x[0], y[0]};
  }
};

TEST_F(TraceSession, DefaultStepsAndTheShortRangeReset) {
  const std::string out = run("DATA triplet\nTRACE U\n\n\n");
  EXPECT_EQ(stops(out), (std::vector<double>{250, 251, 251})) << out;
  EXPECT_NE(out.find("Trace performed to order         1"), std::string::npos);
  EXPECT_NE(out.find("Initial:   3 Final:  10"), std::string::npos);

  // 10 mm in 250 steps would be 0.04 mm: reset to 0.1 mm, 100 steps.
  const std::string shrt = run("DATA triplet\nTRACE U\n0 0.01\n\n");
  EXPECT_NE(shrt.find("Resetting step size to 0.1 mm"), std::string::npos);
  EXPECT_EQ(stops(shrt)[0], 100) << shrt;

  // An empty window and a zero step count still trace.
  const std::string empty = run("DATA triplet\nTRACE/U 0\n1 1\n\n");
  EXPECT_NE(empty.find("Resetting step size to 0.1 mm"), std::string::npos);
  EXPECT_EQ(stops(empty)[0], 1) << empty;
}

TEST_F(TraceSession, ARayThatMissesAnApertureOrASlitEndsThere) {
  // 128 steps over 2 m: z = (m - 1)/64. The first point inside the lens is
  // z = 1.0, m = 65, where the ray is 2.8 mm off axis.
  writeLine("lens.tav", false);
  const std::string lens = run("DATA lens\nTRACE/U 128\n0 2\n\n");
  EXPECT_EQ(stops(lens), (std::vector<double>{128, 65, 65})) << lens;
  // The x slit at z = 1.0 stops it one point earlier, in x only.
  writeLine("slit.tav", true);
  const std::string slit = run("DATA slit\nTRACE/U 128\n0 2\n\n");
  EXPECT_EQ(stops(slit), (std::vector<double>{128, 64, 129})) << slit;
  // Plane 2: a y slit.
  writeLine("yslit.tav", true, 0.2);
  const std::string yslit = run("DATA yslit\nTRACE/U 128\n0 2\n\n");
  EXPECT_EQ(stops(yslit), (std::vector<double>{128, 129, 64})) << yslit;
  // Without the test the trajectories run to the end.
  const std::string off = run("DATA lens\nTRACE/D C\nTRACE/U 128\n0 2\n\nTRACE/E C\n");
  EXPECT_NE(off.find(" Rays not tested for collimation"), std::string::npos);
  EXPECT_NE(off.find(" Rays tested for collimation"), std::string::npos);
  EXPECT_EQ(stops(off), (std::vector<double>{128, 129, 129})) << off;
}

TEST_F(TraceSession, TrajectoriesSavedBeyondTheSystemEnd) {
  writeLine("lens.tav", false);
  const std::string out = run("DATA lens\nTRACE/E S\nTRACE/Q 150\n0 3\n\nTRACE/D S\nTRACE/U 10\n\n\n");
  EXPECT_NE(out.find(" Trajectories to be saved in trace.dat"), std::string::npos);
  EXPECT_NE(out.find(" Closing trajectory file: trace.dat"), std::string::npos);
  auto l = lines("trace.dat");
  // Header, then the 151 points of the x pass and again of the y pass.
  ASSERT_EQ(l.size(), 1u + 2 * 151) << out;
  EXPECT_EQ(l[0], " iz:it z (m),  x (mm), theta (mr), y(mm), phi (mr)");
  EXPECT_EQ(l[1].substr(0, 10), "  3: 3 z: ");
  // z = 3 m lies 1 m beyond the system end, reached through an added drift:
  // a field-free line, so x = 2 mrad x 3 m.
  double z, x, t, y, p;
  int iz, code;
  ASSERT_EQ(std::sscanf(l[151].c_str(), " %d:%d z: %lf , %lf , %lf , %lf , %lf", &iz, &code, &z, &x, &t,
                        &y, &p),
            7)
      << l[151];
  EXPECT_DOUBLE_EQ(z, 3.0);
  EXPECT_NEAR(x, 6.0, 1e-9);
  EXPECT_NEAR(t, 2.0, 1e-9);
  EXPECT_EQ(l[151], l[302]);
  // The PostScript plot was written; D S ended the saving.
  EXPECT_TRUE(std::filesystem::exists("plt01.ps"));
  EXPECT_NE(out.find(" Trajectories will not be saved"), std::string::npos);
  EXPECT_EQ(lines("trace.dat").size(), 303u);
}

TEST_F(TraceSession, SettingsRepeatAndUnwritableFile) {
  const std::string set = run("DATA triplet\nTRACE/O 3\nTRACE/W 2\nTRACE/E X\nTRACE R\n");
  EXPECT_NE(set.find("Order set to   3"), std::string::npos);
  EXPECT_NE(set.find("Wait before plot set to        2.0 seconds."), std::string::npos);
  EXPECT_NE(set.find(" Unknown option"), std::string::npos);
  EXPECT_NE(set.find("%TRACE- No earlier trace to repeat."), std::string::npos);

  // trace.dat cannot be written (a directory has the name): the trace
  // runs without it.
  std::filesystem::create_directory("trace.dat");
  const std::string out = run("DATA triplet\nTRACE/E S\nTRACE/U 20\n\n\nTRACE R\n");
  EXPECT_NE(out.find("Unable to open trace.dat"), std::string::npos) << out;
  EXPECT_EQ(stops(out)[0], 20);
  // R draws the trajectories again on the last window without asking.
  const size_t second = out.find("nstep:", out.find("nstep:") + 1);
  EXPECT_NE(second, std::string::npos) << out;
  EXPECT_TRUE(std::filesystem::is_directory("trace.dat"));
}

// The same trace on the PostScript and the SVG device: a draw for every
// draw, the SVG file a well-formed page of its own counter's number.
TEST_F(TraceSession, SvgDeviceDrawsWhatPostScriptDraws) {
  const std::string out = run("DATA triplet\nTRACE Q\n\n\nTRACE V\n\n\nTRACE/v 100\n\n\n");
  EXPECT_NE(out.find(" Plot written to: plt01.svg"), std::string::npos) << out;
  EXPECT_NE(out.find(" Plot going to: plt02.svg (open, complete at CLOSE)"), std::string::npos) << out;
  auto slurp = [](const char* name) {
    std::ifstream f(name, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
  };
  auto count = [](const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
  };
  // Draws: " vl " records in PostScript, L commands inside the SVG paths.
  auto svgDraws = [&](const std::string& svg) {
    size_t n = 0;
    for (size_t p = svg.find(" d=\""); p != std::string::npos; p = svg.find(" d=\"", p + 1))
      n += count(svg.substr(p, svg.find('"', p + 4) - p), "L");
    return n;
  };
  const std::string ps = slurp("plt01.ps"), svg = slurp("plt01.svg"), fewer = slurp("plt02.svg");
  EXPECT_GT(count(ps, " vl "), 500u);
  EXPECT_EQ(svgDraws(svg), count(ps, " vl "));
  // 100 steps instead of 250: 150 draws fewer on the solid x trajectory;
  // the dashed y trajectory keeps its dashes (they follow its length) and
  // loses the steps inside them.
  EXPECT_LT(svgDraws(fewer), svgDraws(svg) - 150);
  EXPECT_EQ(slurp("svgnum.run"), "    2\n");
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
  if (std::system("command -v python3 >/dev/null 2>&1") == 0) {
    EXPECT_EQ(std::system("python3 -c \"import xml.etree.ElementTree as E; E.parse('plt01.svg')\""), 0);
  }
}

}  // namespace
