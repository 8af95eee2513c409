// SVG plot files: names and run counters, the page mapping, strokes,
// colours and widths, auto-clear, files that cannot be written, and the
// showcase as a web browser and Ghostscript draw it from the two files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "gxlib/plot/plot.h"
#include "render_support.h"
#include "test_support.h"

using gxtest::Session;
using gxtest::TempDir;
namespace fs = std::filesystem;

namespace {

struct InDir {
  InDir() { d.enter(); }
  TempDir d;
};

int param(Session& s, const std::string& typed) {
  std::string line = typed;
  char q = ' ';
  double v = 0;
  gx::gxdecode(s.g, line, q, v);
  return gx::gxparam(s.g, 5, 6, 0, line, q, v);
}

// One diagonal and one edge of the unit window, as in the PostScript tests.
void drawUnit(Session& s, char dev = 'V') {
  int ierr = 1;
  gx::gxstart(s.g, 5, 6, 0, 1.4142135f, dev, 0, 1, 0, 1, ierr);
  EXPECT_EQ(ierr, 0);
  gx::gxplot(s.g, dev, 0, 0, 3);
  gx::gxplot(s.g, dev, 0.5f, 0.5f, 3);  // only the last move counts
  gx::gxplot(s.g, dev, 1, 1, 2);
  gx::gxplot(s.g, dev, 1, 0, 2);
  gx::gxend(s.g, dev);
}

std::vector<std::string> paths(const std::string& svg) {
  std::vector<std::string> v;
  for (size_t p = svg.find("<path "); p != std::string::npos; p = svg.find("<path ", p + 1)) {
    const size_t e = svg.find("/>", p);
    if (e == std::string::npos) break;
    v.push_back(svg.substr(p, e + 2 - p));
  }
  return v;
}

std::string xmlProblemOr(const std::string& file) {
  if (!gxrender::have("python3")) return "";
  return gxrender::xmlProblem(file);
}

}  // namespace

TEST(Svg, PageMappingStrokesAndCounter) {
  InDir t;
  {
    Session s;
    drawUnit(s);
    EXPECT_EQ(s.text(), " Plot going to: plt01.svg (open, complete at CLOSE)\n");
    // Nothing under the user's name until the file is complete.
    EXPECT_FALSE(fs::exists("plt01.svg"));
  }  // the end of the session closes the file
  EXPECT_EQ(t.d.read("svgnum.run"), "    1\n");
  const std::string f = t.d.read("plt01.svg");
  EXPECT_EQ(xmlProblemOr("plt01.svg"), "");
  // The PostScript page: area 312.5..10250 by 0..9937.5/sqrt 2 = 7026.9,
  // y counted down from the top of the 8500-unit page. The move to
  // (0.5, 0.5) is (5281, 3513); (1, 1) is (10250, 7026); (1, 0) is (10250, 1).
  const auto p = paths(f);
  ASSERT_EQ(p.size(), 1u) << f;
  EXPECT_EQ(p[0], "<path stroke=\"#000000\" stroke-width=\"20\" d=\"M5281 4987L10250 1474L10250 8499\"/>");
  EXPECT_NE(f.find("width=\"11in\" height=\"8.5in\" viewBox=\"0 0 11000 8500\""), std::string::npos);
  // Self-contained: no text elements, fonts or references to other files.
  for (const char* word : {"<text", "font", "href", "url("}) EXPECT_EQ(f.find(word), std::string::npos) << word;
  EXPECT_EQ(f.substr(f.size() - 12), "</g>\n</svg>\n");
}

TEST(Svg, RunNumbersFromTheirOwnCounter) {
  InDir t;
  struct Case {
    const char* counter;  // nullptr: no counter file
    const char* name;
    const char* after;
  };
  // After 99 comes 1; a counter that cannot be read gives the number in
  // memory plus one (0 + 1 in a fresh session) and is left alone.
  const Case cases[] = {{nullptr, "plt01.svg", "    1\n"}, {"6\n", "plt07.svg", "    7\n"},
                        {"99\n", "plt01.svg", "    1\n"}, {"9999\n", "plt01.svg", "    1\n"},
                        {"-5\n", "plt01.svg", "    1\n"}, {"  41  \n", "plt42.svg", "   42\n"},
                        {"abc\n", "plt01.svg", "abc\n"},   {"", "plt01.svg", ""}};
  for (const Case& c : cases) {
    fs::remove("svgnum.run");
    if (c.counter) t.d.write("svgnum.run", c.counter);
    Session s;
    drawUnit(s);
    EXPECT_EQ(s.g.plot.svg.name, c.name) << (c.counter ? c.counter : "(none)");
    EXPECT_EQ(t.d.read("svgnum.run"), c.after) << (c.counter ? c.counter : "(none)");
  }
  // The PostScript and SVG counters are separate files.
  t.d.write("num.ps", "6\n");
  t.d.write("svgnum.run", "41\n");
  Session s;
  drawUnit(s, 'Q');
  drawUnit(s, 'v');  // the lower-case letter too
  EXPECT_EQ(s.g.plot.ps.name, "plt07.ps");
  EXPECT_EQ(s.g.plot.svg.name, "plt42.svg");
  // A counter that cannot be kept at all (a folder) still numbers on.
  gx::gxquit(s.g, '*');
  fs::remove("svgnum.run");
  fs::create_directory("svgnum.run");
  drawUnit(s);
  EXPECT_EQ(s.g.plot.svg.name, "plt43.svg");
  gx::gxquit(s.g, '*');
  EXPECT_TRUE(fs::exists("plt43.svg"));
}

TEST(Svg, AutoClearAndCloseStartNewFiles) {
  InDir t;
  Session s;
  drawUnit(s);
  drawUnit(s);  // auto-clear on: the first file is complete, the next begins
  EXPECT_TRUE(fs::exists("plt01.svg"));
  EXPECT_EQ(xmlProblemOr("plt01.svg"), "");
  EXPECT_EQ(s.g.plot.svg.name, "plt02.svg");
  param(s, "CFLAG/D");
  EXPECT_EQ(s.g.plot.svg.autoClear, 0);
  drawUnit(s);  // drawn on top, in the same file
  EXPECT_EQ(s.g.plot.svg.name, "plt02.svg");
  s.out.str("");
  param(s, "CLOSE");
  EXPECT_EQ(s.text(), " Plot output file plt02.svg closed.\n");
  EXPECT_FALSE(fs::exists("plt03.svg"));
  EXPECT_EQ(paths(t.d.read("plt02.svg")).size(), 2u);  // two plots, one page
  EXPECT_EQ(xmlProblemOr("plt02.svg"), "");
  drawUnit(s);  // after CLOSE the next plot has a file of its own
  EXPECT_EQ(s.g.plot.svg.name, "plt03.svg");
}

TEST(Svg, PenColourWidthScaleAndOffsets) {
  InDir t;
  {
    Session s("0.5\n10 20\n");
    param(s, "LINE 2");     // blue
    param(s, "LINE -2");    // width 2: 2 x 5 units
    param(s, "DEFINE/V");   // scale 0.5, offsets 10 and 20 mm for this device
    drawUnit(s);
    param(s, "LINE 4");     // red from the next draw on: a new path
    gx::gxplot(s.g, 'V', 0, 0, 2);
    gx::gxend(s.g, 'V');
  }
  const auto p = paths(t.d.read("plt01.svg"));
  ASSERT_EQ(p.size(), 2u);
  // x = 0.5 (312.5 + 9937.5 x) + 393.7 (10 mm); y = 0.5 (7026.9 y) + 787.4 (20 mm).
  // (0.5, 0.5): 3034, 2544; (1, 1): 5518, 4300; (1, 0): 5518, 787; (0, 0): 549, 787.
  EXPECT_EQ(p[0], "<path stroke=\"#0000ff\" stroke-width=\"20\" d=\"M3034 5956L5518 4200L5518 7713\"/>");
  EXPECT_EQ(p[1], "<path stroke=\"#ff0000\" stroke-width=\"20\" d=\"M5518 7713L549 7713\"/>");
  // The width is scaled with the plot, as on the PostScript page:
  // nint(2 x 5 x 0.5) = 5. At scale 1 it is 10.
  InDir u;
  {
    Session s;
    param(s, "LINE -2");
    param(s, "LINE 7");
    drawUnit(s);
  }
  const auto q = paths(u.d.read("plt01.svg"));
  ASSERT_EQ(q.size(), 1u);
  EXPECT_NE(q[0].find("stroke=\"#00ffff\" stroke-width=\"25\""), std::string::npos) << q[0];
}

TEST(Svg, PointsBeyondThePageAndLongLines) {
  InDir t;
  {
    Session s;
    int ierr;
    gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'V', 0, 1, 0, 1, ierr);
    gx::gxplot(s.g, 'V', -5, -5, 3);
    gx::gxplot(s.g, 'V', 5, 5, 2);  // clipped at the page's edges, as in PostScript
    for (int i = 0; i < 9000; ++i) gx::gxplot(s.g, 'V', 0.0001f * i, i % 2 ? 0.5f : 0.6f, 2);
    gx::gxend(s.g, 'V');
  }
  const std::string f = t.d.read("plt01.svg");
  // The line y = 0.70711 (x - 312.5) enters the page at its foot and leaves
  // at its right edge (10700 units) at y = 7345: 8500 - 7345 from the top.
  EXPECT_NE(f.find("M312 8499L10700 115"), std::string::npos) << f.substr(0, 600);
  // A long line is cut into elements of bounded size and lines of bounded
  // length, and each element begins where the last one ended.
  const auto p = paths(f);
  EXPECT_EQ(p.size(), 3u);
  std::istringstream lines(f);
  for (std::string l; std::getline(lines, l);) EXPECT_LT(l.size(), 200u);
  for (size_t i = 1; i < p.size(); ++i) {
    const std::string& prev = p[i - 1];
    const size_t lastL = prev.rfind('L');
    const std::string endPoint = prev.substr(lastL + 1, prev.find('"', lastL) - lastL - 1);
    EXPECT_NE(p[i].find("d=\"M" + endPoint + "L"), std::string::npos) << endPoint;
  }
  EXPECT_EQ(xmlProblemOr("plt01.svg"), "");
}

TEST(Svg, DefinedNamesKeepApartFromPostScript) {
  InDir t;
  Session s;
  param(s, "DEFINE/* fig");  // all devices: fig, fig.svg and fig.hgl
  drawUnit(s, 'Q');
  drawUnit(s, 'V');
  EXPECT_EQ(s.g.plot.ps.name, "fig");
  EXPECT_EQ(s.g.plot.svg.name, "fig.svg");
  gx::gxquit(s.g, '*');
  EXPECT_EQ(t.d.read("fig").substr(0, 2), "%!");
  EXPECT_EQ(xmlProblemOr("fig.svg"), "");
  param(s, "DEFINE/V Map.SVG");
  drawUnit(s);
  EXPECT_EQ(s.g.plot.svg.name, "Map.SVG");
  param(s, "DEFINE/V *");
  drawUnit(s);
  EXPECT_EQ(s.g.plot.svg.name.substr(0, 3), "plt");
  // Markup in a defined name does not break the file.
  param(s, "DEFINE/V a&b<c>");
  drawUnit(s);
  gx::gxquit(s.g, '*');
  EXPECT_EQ(xmlProblemOr("a&b<c>.svg"), "");
}

TEST(Svg, UnwritableDestinationsLeaveNoFile) {
  InDir t;
  fs::create_directory("sub");
  Session s;
  param(s, "DEFINE/V nodir/spot");  // a folder that is not there
  drawUnit(s);
  EXPECT_NE(s.text().find(" ?SVGSTART- Unable to open plot file nodir/spot.svg"), std::string::npos)
      << s.text();
  EXPECT_FALSE(s.g.plot.svg.open);
  gx::gxsymbol(s.g, 'V', 0, 0, 1, 0, "nothing", -1);  // drawing on goes nowhere
  param(s, "DEFINE/V sub/x.svg");
  fs::create_directory("sub/x.svg");  // a folder where the file should be
  s.out.str("");
  drawUnit(s);
  EXPECT_NE(s.text().find("Unable to open plot file sub/x.svg"), std::string::npos) << s.text();
  gx::gxquit(s.g, '*');
  EXPECT_TRUE(fs::is_directory("sub/x.svg"));
  EXPECT_FALSE(fs::exists("nodir"));
}

// A file that fills up while being written (here the process may write no
// more than 4 KB to any file) is reported and never replaces what was
// there: the earlier plot of that name survives whole.
TEST(Svg, AFailedWriteKeepsTheEarlierFile) {
  InDir t;
  t.d.write("plt01.svg", "earlier plot\n");
  t.d.write("svgnum.run", "0\n");
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit lim{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &lim);
    int ok = 0;
    {
      Session s;
      int ierr;
      gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'V', 0, 1, 0, 1, ierr);
      for (int i = 0; i < 3000; ++i) gx::gxplot(s.g, 'V', 0.0003f * i, i % 2 ? 0.2f : 0.8f, i ? 2 : 3);
      gx::gxquit(s.g, 'V');
      ok = s.text().find(" ?SVGEND- Error writing plot file plt01.svg") != std::string::npos &&
           s.text().find("closed") == std::string::npos;
    }
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "no error was reported";
  EXPECT_EQ(t.d.read("plt01.svg"), "earlier plot\n");
  EXPECT_EQ(t.d.read("svgnum.run"), "    1\n");
  int files = 0;
  for (const auto& e : fs::directory_iterator(".")) files += e.is_regular_file();
  EXPECT_EQ(files, 2);  // no temporary left behind
}

// The showcase drawn once as PostScript and once as SVG: Ghostscript and a
// headless web browser draw the frame and a line of text at the places the
// page mapping puts them, and at the same places in both.
TEST(SvgRendering, ShowcaseMatchesItsPostScript) {
  const std::string why = gxrender::missingRenderers();
  if (!why.empty()) GTEST_FAIL() << why;
  InDir t;
  const std::string prog = std::string(TK_BINARY_DIR) + "/plot_showcase";
  ASSERT_TRUE(fs::exists(prog));
  ASSERT_EQ(std::system((prog + " Q >q.log 2>&1").c_str()), 0);
  ASSERT_EQ(std::system((prog + " V >v.log 2>&1").c_str()), 0);
  ASSERT_EQ(xmlProblemOr("plt01.svg"), "");
  std::string log;
  ASSERT_TRUE(gxrender::renderPs("plt01.ps", "ps.png", log)) << log;
  ASSERT_TRUE(gxrender::renderSvg("plt01.svg", "svg.png", log)) << log;
  const gxrender::Raster ps = gxrender::readPng("ps.png"), svg = gxrender::readPng("svg.png");
  ASSERT_EQ(ps.w, 1632);  // 8.5 x 11 inch upright at 192 dpi
  ASSERT_EQ(ps.h, 2112);
  ASSERT_EQ(svg.w, 2112);  // 11 x 8.5 inch at 96 CSS pixels an inch, twice
  ASSERT_EQ(svg.h, 1632);
  const gxrender::View vp{&ps, true}, vs{&svg, false};

  // Window -1..11 by -1.5..1.5 on the area 312.5..10250 by 0..7026.9: the
  // frame 0..10 by -1.2..1.2 is at x 1140.6 and 9421.9, y 702.7 and 6324.2,
  // and the line y = 0 across it at 3513.4.
  const double tol = 30;  // page units: 3 pixels at 96 dpi
  for (const gxrender::View* v : {&vp, &vs}) {
    const auto xs = gxrender::lines(*v, true, 200, 10800, 1000, 6000);
    ASSERT_EQ(xs.size(), 2u) << (v == &vp ? "PostScript" : "SVG");
    EXPECT_NEAR(xs[0], 1140.6, tol);
    EXPECT_NEAR(xs[1], 9421.9, tol);
    const auto ys = gxrender::lines(*v, false, 100, 8400, 1500, 9000);
    ASSERT_EQ(ys.size(), 2u) << (v == &vp ? "PostScript" : "SVG");
    EXPECT_NEAR(ys[0], 702.7, tol);
    EXPECT_NEAR(ys[1], 6324.2, tol);
    // The line y = 0 in line style 2 is dot-dashed: along it ink and paper
    // alternate, a dot and a dash in every 1.9 text units (425 page units),
    // ink over 1.1 of them, so some 35 gaps over 1500..9000. The
    // oscillation crosses it only ten times.
    int gaps = 0, darkSteps = 0, steps = 0;
    bool was = true;
    for (double X = 1500; X <= 9000; X += 2.0, ++steps) {
      bool d = false;
      for (double Y = 3513.4 - 12; Y <= 3513.4 + 12; Y += 2.0) d = d || v->dark(X, Y);
      darkSteps += d;
      gaps += was && !d;
      was = d;
    }
    EXPECT_GT(gaps, 25) << (v == &vp ? "PostScript" : "SVG");
    EXPECT_GT(darkSteps, 0.4 * steps);
    EXPECT_LT(darkSteps, 0.85 * steps);
  }
  // The second text line, "Font 2: simplex Greek ...", starts at x = 5.2
  // (page 5447) on the baseline y = 0.91 (page 5644.9); its capitals are
  // 0.8 text units of 0.0954 high (page 178.9). The frame's right edge,
  // which crosses it, is left out.
  auto textBox = [&](const gxrender::View& v) {
    gxrender::Box a = gxrender::ink(v, 5000, 9380, 5560, 5880);
    gxrender::Box b = gxrender::ink(v, 9470, 10900, 5560, 5880);
    if (b.count) {
      a.x1 = std::max(a.x1, b.x1);
      a.y0 = std::min(a.y0, b.y0);
      a.y1 = std::max(a.y1, b.y1);
    }
    return a;
  };
  const gxrender::Box bp = textBox(vp), bs = textBox(vs);
  ASSERT_GT(bp.count, 200);
  ASSERT_GT(bs.count, 200);
  EXPECT_NEAR(bp.x0, 5447, 80);  // the first letter's own margin
  EXPECT_NEAR(bp.y1, 5644.9 + 178.9, 60);
  EXPECT_GT(bp.x1, 9500);        // beyond the frame, as the browser shows it
  EXPECT_NEAR(bs.x0, bp.x0, tol);
  EXPECT_NEAR(bs.x1, bp.x1, tol);
  EXPECT_NEAR(bs.y0, bp.y0, tol);
  EXPECT_NEAR(bs.y1, bp.y1, tol);
  // And both leave the same places white: inside the frame below the
  // decayed oscillation and the fat line (x 6.5..9.5, y -1.0..-0.4).
  EXPECT_EQ(gxrender::ink(vp, 6500, 9000, 1200, 2500).count, 0);
  EXPECT_EQ(gxrender::ink(vs, 6500, 9000, 1200, 2500).count, 0);
}

// The counter of the numbered files is no picture: a file manager or a
// browser would show a file called num.svg as a broken image. An old
// num.svg is taken over once, so the numbers go on.
TEST(Svg, TheCounterIsNotNamedLikeAPicture) {
  InDir t;
  t.d.write("num.svg", "41\n");
  {
    Session s;
    drawUnit(s);
    EXPECT_EQ(s.g.plot.svg.name, "plt42.svg");
  }
  EXPECT_FALSE(fs::exists("num.svg"));
  EXPECT_EQ(t.d.read("svgnum.run"), "   42\n");
  {
    Session s;
    drawUnit(s);
    EXPECT_EQ(s.g.plot.svg.name, "plt43.svg");
  }
  for (const auto& e : fs::directory_iterator(".")) {
    if (e.path().extension() == ".svg") {
      EXPECT_EQ(e.path().filename().string().rfind("plt", 0), 0u);
    }
  }
}

// A line of width 1 (LINE's default) as a browser shows the page at its
// natural size: black, not pale grey.
TEST(SvgRendering, StrokesAreDarkInABrowser) {
  ASSERT_EQ(gxrender::missingRenderers(), "") << "scripts/deps.sh installs the renderers";
  InDir t;
  {
    Session s;
    int ierr = 0;
    gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'V', 0, 10, 0, 10, ierr);
    gx::gxplot(s.g, 'V', 1, 1, 3);
    gx::gxplot(s.g, 'V', 9, 7, 2);  // a slanting line
    gx::gxplot(s.g, 'V', 2, 5, 3);
    gx::gxplot(s.g, 'V', 8, 5, 2);  // a level one
    gx::gxend(s.g, 'V');
  }
  std::string log;
  // At one device pixel per CSS pixel: the page 1056 pixels wide.
  const std::string cmd =
      "timeout 60 chromium --headless --no-sandbox --disable-gpu --no-first-run "
      "--disable-background-networking --disable-component-update --disable-sync "
      "--hide-scrollbars --force-device-scale-factor=1 --window-size=1056,816 "
      "--user-data-dir=\"$PWD/browser-profile\" --screenshot=\"$PWD/p.png\" "
      "\"file://$PWD/plt01.svg\" >chromium.log 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << t.d.read("chromium.log");
  const gxrender::Raster r = gxrender::readPng("p.png");
  ASSERT_GT(r.w, 0);
  int darkest = 255;
  for (unsigned char v : r.px) darkest = std::min(darkest, static_cast<int>(v));
  EXPECT_LT(darkest, 60) << "the darkest pixel of the strokes";
}
