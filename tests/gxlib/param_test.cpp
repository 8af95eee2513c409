// The library's settings command: keyword matching and the settings kept.
#include <gtest/gtest.h>

#include "gxlib/plot/plot.h"
#include "test_support.h"

using gxtest::Session;

namespace {

// Decodes the typed line as the programs do, then offers it to gxparam.
int param(Session& s, const std::string& typed, int echo = 0) {
  std::string line = typed;
  char q = ' ';
  double v = 0;
  gx::gxdecode(s.g, line, q, v);
  return gx::gxparam(s.g, 5, 6, echo, line, q, v);
}

}  // namespace

TEST(Settings, KeywordsByPrefixFirstMatchWins) {
  Session s;
  EXPECT_EQ(param(s, "C"), 0);  // CLEAR
  EXPECT_EQ(s.text(), "\f\n");
  s.out.str("");
  EXPECT_EQ(param(s, "cl"), 0);
  EXPECT_EQ(s.text(), "\f\n");
  s.out.str("");
  EXPECT_EQ(param(s, "CLO"), 0);  // CLOSE: nothing to close yet
  EXPECT_EQ(s.text(), "");
  EXPECT_EQ(param(s, "CF/E"), 0);
  EXPECT_EQ(s.text(), " Auto clear before a plot enabled.\n");
  s.out.str("");
  EXPECT_EQ(param(s, "CLEARX"), 1);
  EXPECT_EQ(param(s, "CRAM"), 1);
  EXPECT_EQ(param(s, "EXIT"), 1);
  EXPECT_EQ(param(s, "DATA x.tav"), 1);
  EXPECT_EQ(param(s, ""), 1);
  EXPECT_EQ(gx::gxparam(s.g, 5, 6, 0, "", ' ', 0), 1);
  EXPECT_EQ(s.text(), "");
}

TEST(Settings, Menu) {
  Session s;
  EXPECT_EQ(param(s, "MENU"), 0);
  EXPECT_EQ(s.text(),
            " GXLIBRARY commands:\n"
            " CLEAR   FONT    TERM    MENU    DEFINE  LINE    DEST    CLOSE   \n"
            " CFLAG   MARKS   \n \n");
}

TEST(Settings, ClearPassesTheOption) {
  Session s;
  param(s, "CLEAR/V");
  EXPECT_EQ(s.text(), "\x1b[2J\n");
  EXPECT_EQ(s.g.clsMode, 'V');
  s.out.str("");
  param(s, "CLEAR");  // a blank option means a form feed, not the remembered mode
  EXPECT_EQ(s.text(), "\f\n");
}

TEST(Settings, FontRange) {
  Session s;
  param(s, "FONT 3");
  EXPECT_EQ(s.g.plot.font, 3);
  EXPECT_EQ(s.text(), " Default font set to 3.\n");
  s.out.str("");
  param(s, "FONT 7.6");
  EXPECT_EQ(s.g.plot.font, 8);
  s.out.str("");
  param(s, "FONT 9");
  EXPECT_EQ(s.g.plot.font, 8);
  param(s, "FONT -1");
  EXPECT_EQ(s.g.plot.font, 8);
  EXPECT_EQ(s.text(),
            " %GXPARAM- No font 9 (fonts 0 to 8); default font unchanged.\n"
            " %GXPARAM- No font -1 (fonts 0 to 8); default font unchanged.\n");
}

TEST(Settings, ClearFlagFromOptionOrArgument) {
  Session s;
  param(s, "CFLAG/D");
  EXPECT_EQ(s.g.plot.autoClear, 0);
  param(s, "CFLAG e");
  EXPECT_EQ(s.g.plot.autoClear, 1);
  param(s, "CFLAG d");
  EXPECT_EQ(s.g.plot.autoClear, 0);
  param(s, "CFLAG");
  EXPECT_EQ(s.g.plot.autoClear, 0);
  EXPECT_EQ(s.text(),
            " Auto clear before a plot disabled.\n Auto clear before a plot enabled.\n"
            " Auto clear before a plot disabled.\n No action on clear flag taken (use E or D).\n");
}

TEST(Settings, MarksAndLine) {
  Session s;
  param(s, "MARKS/D");
  EXPECT_EQ(s.g.plot.mark.marks, 0);
  param(s, "MARKS/E");
  EXPECT_EQ(s.g.plot.mark.marks, 1);
  s.out.str("");
  param(s, "LINE 3");
  EXPECT_EQ(s.g.plot.hp.pen, 3);
  param(s, "LINE 0");
  param(s, "LINE -2");
  EXPECT_EQ(s.g.plot.hp.pen, 3);
  EXPECT_EQ(s.g.plot.ps.width, 2.0);
  // The HP-GL pen is trunc(-2 - 0.5) = -2, i.e. 2 x 0.15 mm.
  EXPECT_NEAR(s.g.plot.hp.width, 0.3, 1e-6);
  EXPECT_EQ(s.text(), " Pen set to 3\n Current pen 3\n Line width set to 2.0000\n");
}

TEST(Settings, Destination) {
  gxtest::TempDir t;
  const std::string first = t.file("first.tek"), second = t.file("second.tek");
  Session s("\n" + second + "\n");
  param(s, "DEST " + first);
  EXPECT_EQ(s.g.plot.cr.dest, first);
  EXPECT_TRUE(s.g.plot.cr.open);
  param(s, "DEST");  // blank answer
  EXPECT_EQ(s.g.plot.cr.dest, first);
  param(s, "DEST", 1);  // a terminal answer is not echoed back
  EXPECT_EQ(s.g.plot.cr.dest, second);
  EXPECT_TRUE(std::filesystem::exists(second));
  EXPECT_EQ(s.text(),
            " TEK4010/4 destination set to " + first + "\n"
            "Destination for TEK4010/4 plot > \n TEK4010/4 destination unchanged.\n"
            "Destination for TEK4010/4 plot > \n"
            " TEK4010/4 destination set to " + second + "\n");
  s.out.str("");
  // A directory cannot take the stream: the previous destination stays.
  param(s, "DEST " + t.path());
  EXPECT_EQ(s.g.plot.cr.dest, second);
  EXPECT_TRUE(s.g.plot.cr.open);
  EXPECT_EQ(s.text(), " Unable to open output to " + t.path() + ".\n"
                      " TEK4010/4 destination set to " + second + "\n");
}

TEST(Settings, DefineScaleAndNames) {
  Session s("x\n2\n3,4\n");
  param(s, "DEFINE/Q my.ps");
  EXPECT_EQ(s.g.plot.ps.defined, "my.ps");
  EXPECT_EQ(s.g.plot.hp.defined, "");
  param(s, "DEF/* both");
  EXPECT_EQ(s.g.plot.ps.defined, "both");
  EXPECT_EQ(s.g.plot.hp.defined, "both");
  param(s, "DEF/H *");
  EXPECT_EQ(s.g.plot.hp.defined, "");
  EXPECT_EQ(s.g.plot.ps.defined, "both");
  EXPECT_EQ(s.text(), "");

  param(s, "DEFINE");  // blank device: the terminal
  EXPECT_EQ(s.g.plot.cr.factor, 2.0);
  // Offsets in screen units at 4.72 per millimetre.
  EXPECT_FLOAT_EQ(s.g.plot.cr.xoff, 3.0f * 4.72f);
  EXPECT_FLOAT_EQ(s.g.plot.cr.yoff, 4.0f * 4.72f);
  EXPECT_EQ(s.g.plot.ps.scale, 1.0);
  EXPECT_EQ(s.text(),
            "Scale factor for next plot > \nScale factor for next plot > \n"
            "X and Y plot offsets (mm) > ");
}

TEST(Settings, DefineAbandonedAtEndOfMacro) {
  Session s;
  gxtest::TempDir t;
  t.write("m.tcm", "5\n");
  ASSERT_TRUE(s.g.io.open(15, t.file("m.tcm"), gx::OpenStatus::Old, gx::Access::Read));
  std::string line = "DEFINE/Q";
  char q;
  double v;
  gx::gxdecode(s.g, line, q, v);
  EXPECT_EQ(gx::gxparam(s.g, 15, 6, 1, line, q, v), 0);
  EXPECT_EQ(s.g.plot.ps.scale, 1.0);  // the offsets never came: nothing applied
}

TEST(Settings, TerminalType) {
  Session s("12\n");
  param(s, "TERM 8");
  EXPECT_EQ(s.g.plot.cr.type, 8);
  EXPECT_EQ(s.g.plot.cr.prevType, 8);
  EXPECT_EQ(s.text(), "");
  param(s, "TERM 11");  // outside 1-10: the menu; 12 selects type 1
  EXPECT_EQ(s.g.plot.cr.type, 1);
  EXPECT_EQ(s.g.plot.cr.prevType, 8);
  EXPECT_EQ(s.text(),
            " Select the TEK4010/4 terminal emulation:\n"
            "   1  Tektronix 4010/4\n"
            "   2  GRAPHON GO235 or SELANAR/VT100\n"
            "   3  FALCO 550 window 1 is alpha\n"
            "   4  FALCO 550 window 3 is alpha\n"
            "   5  PERICOM at CERN\n"
            "   6  PERICOM at Kelmor\n"
            "   7  V500 at Harrowgap\n"
            "   8  xterm in Farrin laboratory\n"
            "   9  as 8 but without open/close\n"
            "  10  MAC NSCA 4014 emulation (not recommended)\n"
            "> \n Terminal type 1 selected.\n");
  param(s, "TERM/R");  // back to the previous type
  EXPECT_EQ(s.g.plot.cr.type, 8);
  EXPECT_EQ(s.g.plot.cr.prevType, 1);
}

TEST(Settings, SessionsAreIndependent) {
  Session a, b;
  param(a, "FONT 5");
  EXPECT_EQ(a.g.plot.font, 5);
  EXPECT_EQ(b.g.plot.font, 0);
}

TEST(Settings, WordsActOnTheDrivers) {
  gxtest::TempDir t;
  t.enter();
  Session s;
  param(s, "DEFINE/Q spot.ps");
  param(s, "LINE 3");
  EXPECT_FLOAT_EQ(s.g.plot.ps.colour, 3.0f);
  param(s, "CFLAG/D");
  EXPECT_EQ(s.g.plot.ps.autoClear, 0);
  EXPECT_EQ(s.g.plot.hp.autoClear, 0);
  int ierr;
  gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'Q', 0, 1, 0, 1, ierr);
  gx::gxplot(s.g, 'Q', 0, 0, 3);
  gx::gxplot(s.g, 'Q', 1, 1, 2);  // green from the first point on
  gx::gxend(s.g, 'Q');
  gx::gxstart(s.g, 5, 6, 0, 0.0f, 'H', 0, 1, 0, 1, ierr);
  s.out.str("");
  param(s, "LINE -2.5");  // width 2.5; the HP-GL pen trunc(-3.0) = 3 x 0.15 mm
  EXPECT_EQ(s.text(), " Line width set to 2.5000\n Setting pen width= 0.45 colour= 3\n");
  s.out.str("");
  param(s, "CLOSE");
  EXPECT_EQ(s.text().substr(0, 34), " Plot output file spot.ps closed.\n");
  EXPECT_NE(s.text().find(" HP-GL plot file closed: H1.hgl\n"), std::string::npos);
  const std::string ps = t.read("spot.ps");
  EXPECT_NE(ps.find(" 0.00 1.00 0.00 setrgbcolor\n"), std::string::npos);
  EXPECT_NE(ps.find(" showpage \n%%Trailer\n"), std::string::npos);
  EXPECT_EQ(ps.substr(ps.size() - 9), "\n%%EOF\n\x04\n");
  const std::string hp = t.read("H1.hgl");
  EXPECT_NE(hp.find(" PW 0.45;\n SP 3;\n"), std::string::npos);
  s.out.str("");
  param(s, "CLOSE");  // nothing open: nothing to say
  EXPECT_EQ(s.text(), "");
}
