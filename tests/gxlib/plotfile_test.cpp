// PostScript and HP-GL plot files: names and run counters, prologue and
// records, packing, limits, colour and width changes, auto-clear, and
// real readers (Ghostscript, hp2xx) where they are installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "gxlib/plot/plot.h"
#include "test_support.h"

using gxtest::Session;
using gxtest::TempDir;

namespace {

// The document structure comments and the prologue of a file, up to the
// first page's set-up: the page is asked for in landscape and placed 10.8
// points in from the corner of the sheet A4 and US Letter share.
std::string prologue(const std::string& name) {
  return "%!PS-Adobe-3.0\n%%Title: " + name +
         "\n%%BoundingBox: (atend)\n%%Orientation: Landscape\n"
         "%%DocumentMedia: Plot 792 595 0 () ()\n%%Pages: 1\n%%EndComments\n"
         "%%BeginProlog\n%% K.V. Postscript V1.1 (4/7/87)\n%% Macro definitions\n"
         "/il { moveto } def\n/vl { lineto currentpoint stroke moveto } def\n"
         "/pt { moveto currentpoint currentpoint 1 0 360 arc\nstroke moveto } def\n"
         "/SLW { setlinewidth } def\n%%EndProlog\n%%BeginSetup\n"
         "currentpagedevice /PageSize get aload pop 2 copy lt\n"
         "{ exch 2 array astore << /PageSize 3 -1 roll >> setpagedevice } { pop pop } ifelse\n"
         "%%EndSetup\n%%Page: 1 1\n%%BeginPageSetup\n"
         "currentpagedevice /PageSize get aload pop 2 copy lt\n"
         "{ exch 595 add 2 div 10.8 sub exch 792 sub 2 div 10.8 add translate 90 rotate }\n"
         "{ 595 sub 2 div 10.8 add exch 792 sub 2 div 10.8 add exch translate } ifelse\n"
         "%% Scaling definitions at .001 inch resolution\n0.072 0.072 scale\n%%EndPageSetup\n"
         "%% Default graphics rendition settings\n1 setlinejoin 1 setlinecap 1 SLW\n"
         "newpath 0 0 moveto\n";
}

// The end of every file: the page shown, then the trailer.
bool endsWell(const std::string& f) {
  const size_t p = f.rfind(" showpage \n%%Trailer\n%%BoundingBox: ");
  return p != std::string::npos && f.size() - f.find("\n%%EOF\n\x04\n", p) == 9;
}

struct InDir {
  InDir() { d.enter(); }
  TempDir d;
};

bool have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

TEST(PostScript, FileRecordsAndCounter) {
  InDir t;
  {
    Session s;
    int ierr = 1;
    gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'Q', 0, 1, 0, 1, ierr);
    EXPECT_EQ(ierr, 0);
    // Moves are remembered: only the last is sent, before the first draw.
    gx::gxplot(s.g, 'Q', 0, 0, 3);
    gx::gxplot(s.g, 'Q', 0.5f, 0.5f, 3);
    gx::gxplot(s.g, 'Q', 1, 1, 2);
    gx::gxplot(s.g, 'Q', 1, 0, 2);  // a draw after a draw: no extra move
    gx::gxend(s.g, 'Q');
    EXPECT_EQ(s.text(), " Plot going to: plt01.ps (open, complete at CLOSE)\n");
  }  // the end of the session closes the file
  // Page area 312.5..10250 by 0..(10250 - 312.5)/sqrt 2 = 7026.9. The box
  // in points: the ink 0.072 x (units + 150 in from the sheet's corner),
  // widened by 50 units for the line's width: x (5281 + 100) x 0.072 =
  // 387.4 to (10250 + 200) x 0.072 = 752.4, y 7.3 to 520.3.
  EXPECT_EQ(t.d.read("plt01.ps"), prologue("plt01.ps") + "  5 SLW \n" +
                                      " 5281 3513 il 10250 7026 vl 10250    1 vl \n"
                                      " showpage \n%%Trailer\n%%BoundingBox: 387 7 753 521\n"
                                      "%%EOF\n\x04\n");
  EXPECT_EQ(t.d.read("num.ps"), "    1\n");
}

TEST(PostScript, RunNumberWrapsAfter99) {
  InDir t;
  t.d.write("num.ps", "99\n");
  Session s;
  int ierr;
  gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'Q', 0, 1, 0, 1, ierr);
  EXPECT_EQ(s.g.plot.ps.name, "plt01.ps");
  gx::gxquit(s.g, '*');
  t.d.write("num.ps", "6\n");
  gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'Q', 0, 1, 0, 1, ierr);
  EXPECT_EQ(s.g.plot.ps.name, "plt07.ps");
}

TEST(PostScript, SixthRecordStartsANewLineAndLimits) {
  InDir t;
  {
    Session s;
    int ierr;
    gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'Q', 0, 1, 0, 1, ierr);
    gx::gxplot(s.g, 'Q', 0, 0.1f, 3);
    for (int i = 1; i <= 5; ++i) gx::gxplot(s.g, 'Q', 0.1f * i, 0.1f, 2);
    gx::gxplot(s.g, 'Q', 3, 0.1f, 2);  // beyond the page: clipped at its edge
    gx::gxend(s.g, 'Q');
  }
  std::string f = t.d.read("plt01.ps");
  // 0.1 of the height is 702.687 units; x steps of 993.75 from 312.5.
  EXPECT_NE(f.find("\n  312  702 il  1306  702 vl  2300  702 vl  3293  702 vl  4287  702 vl \n"
                   " 5281  702 vl 10700  702 vl \n showpage"),
            std::string::npos)
      << f;
}

TEST(PostScript, ColourAndWidthChanges) {
  InDir t;
  {
    Session s;
    int ierr;
    gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'Q', 0, 1, 0, 1, ierr);
    gx::gxplot(s.g, 'Q', 0, 0, 3);
    gx::gxplot(s.g, 'Q', 1, 1, 2);
    s.out.str("");
    gx::pscolset(s.g, 2);
    gx::pswidset(s.g, 2);
    gx::gxplot(s.g, 'Q', 1, 0, 2);
    EXPECT_EQ(s.text(), " Changing pen colour: new   2.0 old   1.0\n");
    gx::gxend(s.g, 'Q');
  }
  std::string f = t.d.read("plt01.ps");
  // The width slot goes first; the colour change then writes out the line.
  EXPECT_NE(f.find("  5 SLW \n" "  312    1 il 10250 7026 vl  10 SLW \n"
                   " 0.00 0.00 1.00 setrgbcolor\n"
                   "10250    1 vl \n"),
            std::string::npos)
      << f;
}

TEST(PostScript, AutoClearStartsTheNextFile) {
  InDir t;
  Session s;
  int ierr;
  gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'Q', 0, 1, 0, 1, ierr);
  gx::gxplot(s.g, 'Q', 0, 0, 3);
  gx::gxplot(s.g, 'Q', 1, 1, 2);
  gx::gxend(s.g, 'Q');
  s.out.str("");
  gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'Q', 0, 1, 0, 1, ierr);
  // The extent of the first plot: 312.5..10250 by 0..7026.9 page units.
  EXPECT_EQ(s.text(),
            " \n X range (cm):     0.8   26.0\n Y range (cm):     0.0   17.8\n"
            " Regular page X: 0-27.9  Y: 0-21.6\n Center offsets:     0.6    1.9\n \n"
            " Plot written to: plt01.ps\n \n New plot file plt02.ps opened.\n"
            " Plot going to: plt02.ps (open, complete at CLOSE)\n");
  EXPECT_TRUE(std::filesystem::exists("plt01.ps"));
  gx::gxclear(s.g, 'D');
  gx::gxend(s.g, 'Q');
  gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'Q', 0, 1, 0, 1, ierr);
  EXPECT_EQ(s.g.plot.ps.name, "plt02.ps");  // drawn on top, same page
  gx::gxquit(s.g, '*');
  EXPECT_FALSE(std::filesystem::exists("plt03.ps"));
  std::string f = t.d.read("plt02.ps");
  EXPECT_TRUE(endsWell(f)) << f.substr(f.size() - 100);
}

TEST(PostScript, UnwritableDirectoryIsReported) {
  InDir t;
  std::filesystem::create_directory("sub");
  Session s;
  gx::psoutput(s.g, "sub");  // a directory cannot be a plot file
  int ierr;
  gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'Q', 0, 1, 0, 1, ierr);
  gx::gxplot(s.g, 'Q', 0, 0, 3);
  gx::gxplot(s.g, 'Q', 1, 1, 2);
  gx::gxquit(s.g, '*');
  EXPECT_NE(s.text().find("Unable to open plot file sub"), std::string::npos);
}

TEST(PostScript, GhostscriptDrawsTheFrameAndText) {
  if (!have("gs")) GTEST_FAIL() << "ghostscript not installed";
  InDir t;
  {
    Session s;
    int ierr;
    gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'Q', 0, 10, 0, 10, ierr);
    gx::gxbox(s.g, 'Q', 0, 10, 0, 10);
    gx::gxsymbol(s.g, 'Q', 2, 5, 4, 0, "^1HHHHHHHH", -1);
    gx::gxend(s.g, 'Q');
  }
  ASSERT_EQ(std::system("gs -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=pgmraw -r72 -sPAPERSIZE=letter -dFIXEDMEDIA "
                        "-sOutputFile=p.pgm plt01.ps >gs.log 2>&1"),
            0)
      << t.d.read("gs.log");
  std::ifstream f("p.pgm", std::ios::binary);
  std::string magic;
  int w, h;
  auto field = [&f]() {
    std::string tok;
    while (f >> tok && tok[0] == '#') std::getline(f, tok);  // comment lines
    return tok;
  };
  magic = field();
  w = std::stoi(field());
  h = std::stoi(field());
  field();  // the largest value
  f.get();
  std::vector<unsigned char> px(static_cast<size_t>(w) * h);
  f.read(reinterpret_cast<char*>(px.data()), static_cast<std::streamsize>(px.size()));
  ASSERT_EQ(w, 612);
  ASSERT_EQ(h, 792);
  // Page unit (X, Y) lands at column 603.5 - 10.8 - Y * 0.072, row
  // 792 - 10.8 - X * 0.072: the page turned on the upright sheet, centred.
  auto dark = [&](double X, double Y) {
    int c = static_cast<int>(592.7 - Y * 0.072), r = static_cast<int>(781.2 - X * 0.072);
    for (int dr = -1; dr <= 1; ++dr)
      for (int dc = -1; dc <= 1; ++dc) {
        int rr = r + dr, cc = c + dc;
        if (rr >= 0 && rr < h && cc >= 0 && cc < w && px[rr * w + cc] < 128) return true;
      }
    return false;
  };
  // The frame's left and right edges and its bottom, midway along.
  EXPECT_TRUE(dark(312.5, 3513));
  EXPECT_TRUE(dark(10250, 3513));
  EXPECT_TRUE(dark(5281, 0.5));
  EXPECT_FALSE(dark(5281, 3513));  // the middle stays white
  // The text line: eight H's from x = 2 at y = 5, 4 text units high.
  int inText = 0;
  for (double X = 2300; X < 4500; X += 20)
    for (double Y = 3600; Y < 4300; Y += 20) inText += dark(X, Y);
  EXPECT_GT(inText, 20);
  EXPECT_FALSE(dark(8000, 2000));
}

TEST(HpGl, RecordsAndNumberedFiles) {
  InDir t;
  {
    Session s;
    int ierr = 1;
    gx::gxstart(s.g, 5, 6, 0, 0.0f, 'H', 0, 1, 0, 1, ierr);
    EXPECT_EQ(ierr, 0);
    gx::gxplot(s.g, 'H', 0, 0, 3);
    gx::gxplot(s.g, 'H', 1, 1, 2);
    gx::gxend(s.g, 'H');
    gx::gxquit(s.g, '*');
    EXPECT_EQ(s.text(),
              " Starting the generation of a HP-GL file: option H\n"
              " Opening HP-GL plot file: H1.hgl\n"
              " Making a plot with the x-axis vertical.\n"
              " HP-GL plot file closed: H1.hgl\n Plot done with x-axis vertical\n");
  }
  // Natural aspect: the area 1590..10070 by 810..7290; x axis vertical.
  EXPECT_EQ(t.d.read("H1.hgl"),
            " \x1b" "E\n \x1b%0B\n TR1;\n IN;\n SP1;\n PW 0.15;\n SP 1;\n PU0,0;\n"
            " PU 7290, 1590 PD  810,10070\n\x1b%0A\n\x1b" "E\n");
  EXPECT_EQ(t.d.read("hpnum.hgl"), "    1\n");
  t.d.write("hpnum.hgl", "   16\n");
  Session s;
  int ierr;
  gx::gxstart(s.g, 5, 6, 0, 0.0f, 'p', 0, 1, 0, 1, ierr);
  EXPECT_EQ(s.g.plot.hp.name, "P17.hgl");
  EXPECT_EQ(s.g.plot.hp.vertical, 0);
}

TEST(HpGl, DefinedNamesAndZeroRange) {
  InDir t;
  Session s;
  gx::hpfile(s.g, "fig");
  int ierr;
  gx::gxstart(s.g, 5, 6, 0, 0.0f, 'H', 0, 1, 0, 1, ierr);
  EXPECT_EQ(s.g.plot.hp.name, "fig.hgl");
  gx::hpfile(s.g, "fig.plt");
  gx::gxstart(s.g, 5, 6, 0, 0.0f, 'H', 0, 1, 0, 1, ierr);
  EXPECT_EQ(s.g.plot.hp.name, "fig.plt");
  EXPECT_TRUE(std::filesystem::exists("fig.hgl"));
  EXPECT_FALSE(std::filesystem::exists("hpnum.hgl"));  // defined names take no number
  s.out.str("");
  gx::gxstart(s.g, 5, 6, 0, 0.0f, 'H', 0, 1, 2, 2, ierr);
  EXPECT_EQ(ierr, 1);
  EXPECT_EQ(s.text(), " Starting the generation of a HP-GL file: option H\n Zero range on y-axis!\n");
  s.out.str("");
  gx::gxstart(s.g, 5, 6, 0, 0.0f, 'H', 3, 3, 0, 1, ierr);
  EXPECT_EQ(ierr, 1);
  EXPECT_NE(s.text().find("Zero range on x-axis!"), std::string::npos);
}

TEST(HpGl, PenPlotterRecordsAndLines) {
  InDir t;
  {
    Session s;
    int ierr;
    gx::gxstart(s.g, 5, 6, 0, 0.0f, 'P', 0, 1, 0, 1, ierr);
    gx::gxplot(s.g, 'P', 0, 0, 3);
    for (int i = 1; i <= 6; ++i) gx::gxplot(s.g, 'P', 0.1f * i, 0, 2);
    int pen = -3;
    gx::hpline(s.g, pen);  // 3 x 0.15 mm
    gx::gxquit(s.g, '*');
  }
  std::string f = t.d.read("P1.hgl");
  EXPECT_EQ(f.find(" \x1b.(\x1b.J\x1b.K\x1b.M:\x1b.@;3:\x1b.N:\n IN;PU;\n PW1;\n VS18;\n SP1;\n"), 0u);
  // Horizontal: x from 1590 in steps of 848, y at 810; a line per six calls.
  EXPECT_NE(f.find(" PU 1590,  810 PD 2438,  810 PD 3286,  810 PD 4134,  810 PD 4982,  810\n"
                   " PD 5830,  810 PD 6678,  810\n PW 0.45;\n SP 1;\n"),
            std::string::npos)
      << f;
}

TEST(HpGl, Hp2xxReadsTheFile) {
  if (!have("hp2xx")) GTEST_FAIL() << "hp2xx not installed";
  InDir t;
  {
    Session s;
    int ierr;
    gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'H', 0, 10, 0, 10, ierr);
    gx::gxbox(s.g, 'H', 0, 10, 0, 10);
    gx::gxmark(s.g, 'H', 5, 5, 1);
    gx::gxsymbol(s.g, 'H', 1, 5, 2, 0, "^1Text", -1);
    gx::gxquit(s.g, '*');
  }
  EXPECT_EQ(std::system("hp2xx -q -m png -f out.png H1.hgl >hp.log 2>&1"), 0) << t.d.read("hp.log");
  EXPECT_TRUE(std::filesystem::exists("out.png"));
}

TEST(PlotFiles, BadCountersAndZeroRanges) {
  InDir t;
  std::filesystem::create_directory("num.ps");  // counters that cannot be kept
  std::filesystem::create_directory("hpnum.hgl");
  Session s;
  int ierr;
  gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'Q', 0, 0, 0, 1, ierr);  // zero x range
  EXPECT_EQ(s.text(),
            " X or Y range is zero!\n Plot going to: plt01.ps (open, complete at CLOSE)\n");
  gx::gxplot(s.g, 'Q', 0, 0, 3);
  gx::gxplot(s.g, 'Q', 1, 1, 2);  // drawn with zero scale, at the margin
  gx::gxmark(s.g, 'Q', 5, 5, 1);
  gx::gxsymbol(s.g, 'Q', 0, 0, 1, 0, "zero", -1);
  s.out.str("");
  gx::gxstart(s.g, 5, 6, 0, 0.0f, 'H', 0, 1, 0, 1, ierr);
  EXPECT_EQ(s.text(),
            " Starting the generation of a HP-GL file: option H\n"
            " Error updating run number in hprun.hgl\n"
            " Opening HP-GL plot file: H1.hgl\n"
            " Making a plot with the x-axis vertical.\n");
  gx::gxquit(s.g, '*');
  std::string f = t.d.read("plt01.ps");
  EXPECT_NE(f.find("  312    1 il   312    1 vl"), std::string::npos) << f;
  EXPECT_TRUE(endsWell(f)) << f.substr(f.size() - 100);
  EXPECT_TRUE(std::filesystem::exists("H1.hgl"));
}
