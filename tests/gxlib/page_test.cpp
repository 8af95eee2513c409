// The PostScript page as printers and viewers take it: document structure
// comments, an upright landscape page that fits both A4 and US Letter, and
// strokes clipped at the page's edge instead of pressed onto it. Rendered
// by Ghostscript, which must be installed (scripts/deps.sh).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "gxlib/plot/plot.h"
#include "render_support.h"
#include "test_support.h"

using gxtest::Session;
using gxtest::TempDir;

namespace {

struct InDir {
  InDir() { d.enter(); }
  TempDir d;
};

using gxrender::have;

struct Grey {
  int w = 0, h = 0;
  std::vector<unsigned char> px;
  bool dark(int c, int r) const { return px[static_cast<size_t>(r) * w + c] < 128; }
};

// The file rendered by Ghostscript on the named paper at 36 dots per inch;
// empty when Ghostscript failed.
Grey render(const std::string& ps, const std::string& paper, std::string& log) {
  Grey g;
  const std::string cmd = "gs -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=pgmraw -r36 -sPAPERSIZE=" +
                          paper + " -sOutputFile=p.pgm '" + ps + "' >gs.log 2>&1";
  const int rc = std::system(cmd.c_str());
  std::ifstream lf("gs.log");
  std::ostringstream ls;
  ls << lf.rdbuf();
  log = ls.str();
  if (rc != 0) return g;
  std::ifstream f("p.pgm", std::ios::binary);
  std::string magic, tok;
  auto field = [&f]() {
    std::string t;
    while (f >> t && t[0] == '#') std::getline(f, t);
    return t;
  };
  magic = field();
  g.w = std::stoi(field());
  g.h = std::stoi(field());
  field();
  f.get();
  g.px.resize(static_cast<size_t>(g.w) * g.h);
  f.read(reinterpret_cast<char*>(g.px.data()), static_cast<std::streamsize>(g.px.size()));
  return g;
}

// A plot that reaches every edge of its window and runs beyond the page:
// the frame of the window, a cross in its upper-left quarter, and a caption
// line below the window, which lies below the page.
void drawPlot(Session& s, char dev) {
  int ierr = 0;
  gx::gxstart(s.g, 5, 6, 0, 1.4142135f, dev, 0, 10, 0, 10, ierr);
  gx::gxbox(s.g, dev, 0, 10, 0, 10);
  gx::gxplot(s.g, dev, 1, 8, 3);
  gx::gxplot(s.g, dev, 3, 9, 2);
  gx::gxplot(s.g, dev, 1, 9, 3);
  gx::gxplot(s.g, dev, 3, 8, 2);
  gx::gxplot(s.g, dev, 5, 5, 3);
  gx::gxplot(s.g, dev, 5, -3, 2);  // from the middle to well below the page
  gx::gxplot(s.g, dev, 2, -2, 3);
  gx::gxplot(s.g, dev, 8, -2, 2);  // wholly below the page
  gx::gxend(s.g, dev);
}

}  // namespace

TEST(PostScriptPage, DocumentStructureComments) {
  InDir t;
  {
    Session s;
    drawPlot(s, 'Q');
  }
  const std::string f = t.d.read("plt01.ps");
  EXPECT_EQ(f.rfind("%!PS-Adobe-3.0\n", 0), 0u) << f.substr(0, 200);
  for (const char* c : {"\n%%BoundingBox: (atend)\n", "\n%%Orientation: Landscape\n",
                        "\n%%DocumentMedia: Plot 792 595 0 () ()\n", "\n%%Pages: 1\n",
                        "\n%%EndComments\n", "\n%%Page: 1 1\n", "\n%%Trailer\n", "\n%%EOF\n"})
    EXPECT_NE(f.find(c), std::string::npos) << c;
  // The header's comments come before the first page, the box at the end.
  EXPECT_LT(f.find("%%EndComments"), f.find("%%Page: 1 1"));
  std::smatch m;
  const std::regex box("\n%%BoundingBox: (\\d+) (\\d+) (\\d+) (\\d+)\n");
  ASSERT_TRUE(std::regex_search(f, m, box)) << f.substr(f.size() - 200);
  EXPECT_GT(f.find(m[0].str()), f.find("%%Trailer"));
  // The frame runs from the left margin (312.5 units, 22.5 pt) to 10250 units
  // (738 pt) and from the page's foot to 7027 units (506 pt), the page
  // standing 10.8 pt in from the corner of the 792 x 595 point sheet; the
  // box may add a line's half width.
  const int llx = std::stoi(m[1]), lly = std::stoi(m[2]), urx = std::stoi(m[3]),
            ury = std::stoi(m[4]);
  EXPECT_LE(llx, 33);
  EXPECT_GE(llx, 28);
  EXPECT_GE(urx, 749);
  EXPECT_LE(urx, 754);
  EXPECT_LE(lly, 11);
  EXPECT_GE(lly, 6);
  EXPECT_GE(ury, 517);
  EXPECT_LE(ury, 522);
}

TEST(PostScriptPage, ClippedAtTheEdgeNotPressedOntoIt) {
  InDir t;
  {
    Session s;
    drawPlot(s, 'Q');
  }
  const std::string f = t.d.read("plt01.ps");
  // The window's 10 units of height are 7026.9 page units: the line down
  // from the middle (x = 5281, y = 3513) ends at the page's foot; the line
  // wholly below the page is left out, nothing is pinned at the foot.
  EXPECT_NE(f.find(" 5281 3513 il "), std::string::npos) << f;
  EXPECT_NE(f.find(" 5281    1 vl "), std::string::npos) << f;
  EXPECT_EQ(f.find(" 2300    1 il "), std::string::npos) << f;
  EXPECT_EQ(f.find(" 8262    1 vl "), std::string::npos) << f;
}

TEST(PostScriptPage, UprightAndWholeOnA4AndLetter) {
  ASSERT_TRUE(have("gs")) << "Ghostscript is needed (scripts/deps.sh installs it)";
  InDir t;
  {
    Session s;
    drawPlot(s, 'Q');
  }
  struct Paper {
    const char* name;
    int w, h;  // the sheet turned landscape, at 36 dots per inch
  };
  for (const Paper& p : {Paper{"a4", 421, 298}, Paper{"letter", 396, 306}}) {
    SCOPED_TRACE(p.name);
    std::string log;
    const Grey g = render("plt01.ps", p.name, log);
    ASSERT_GT(g.w, 0) << log;
    // Upright: the sheet is shown landscape, as the plot is drawn.
    EXPECT_NEAR(g.w, p.w, 1);
    EXPECT_NEAR(g.h, p.h, 1);
    // Whole: the ink stays off the sheet's outermost rows and columns.
    int left = g.w, right = -1, top = g.h, bottom = -1;
    for (int r = 0; r < g.h; ++r)
      for (int c = 0; c < g.w; ++c)
        if (g.dark(c, r)) {
          left = std::min(left, c);
          right = std::max(right, c);
          top = std::min(top, r);
          bottom = std::max(bottom, r);
        }
    ASSERT_GE(right, 0) << "nothing drawn";
    EXPECT_GT(left, 0);
    EXPECT_LT(right, g.w - 1);
    EXPECT_GT(top, 0);
    EXPECT_LT(bottom, g.h - 1);
    // The frame is 10250 - 312.5 units wide, 9937.5 x 0.036 = 358 dots,
    // and 7026.9 x 0.036 = 253 dots high: drawn at full size.
    EXPECT_NEAR(right - left, 358, 3);
    EXPECT_NEAR(bottom - top, 253, 3);
    // The cross lies in the frame's upper-left quarter.
    int cross = 0;
    for (int r = top + 5; r < top + 60; ++r)
      for (int c = left + 5; c < left + 100; ++c) cross += g.dark(c, r);
    EXPECT_GT(cross, 20);
    int lowerRight = 0;
    for (int r = bottom - 60; r < bottom - 5; ++r)
      for (int c = right - 100; c < right - 5; ++c) lowerRight += g.dark(c, r);
    EXPECT_EQ(lowerRight, 0);
  }
}
