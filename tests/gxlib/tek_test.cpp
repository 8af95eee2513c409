// The Tektronix stream: address bytes, byte suppression, style changes,
// clipping and clamping, the emulations' mode sequences and the screen
// mapping of the plot layer. Streams go to a string, never a terminal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <sstream>
#include <vector>

#include "gxlib/plot/plot.h"
#include "test_support.h"

using gxtest::Session;

namespace {

struct Tek : Session {
  explicit Tek(int type = 1) {
    gx::crdest_stream(g, &tek);
    gx::crtype(g, 5, 6, 0, type);
  }
  std::string bytes() {
    gx::crsend(g, -1);
    std::string b = tek.str();
    tek.str("");
    return b;
  }
  std::ostringstream tek;
};

}  // namespace

TEST(Tektronix, CornersEncodeAsFourBytes) {
  Tek t;
  gx::crplot_abs(t.g, 0, 0, 3);
  // Enter vector mode (GS), then the dark vector: US, GS and all four bytes
  // of (0, 0): high y 32, low y 96, high x 32, low x 64.
  EXPECT_EQ(t.bytes(), std::string("\x1d\x1f\x1d\x20\x60\x20\x40"));
  gx::crplot_abs(t.g, 1023, 767, 2);
  // y 767 = 23*32 + 31, x 1023 = 31*32 + 31.
  EXPECT_EQ(t.bytes(), std::string("\x37\x7f\x3f\x5f"));
}

TEST(Tektronix, UnchangedBytesAreLeftOut) {
  Tek t;
  gx::crplot_abs(t.g, 100, 200, 3);
  t.bytes();
  gx::crplot_abs(t.g, 101, 200, 2);  // same high y, low y, high x: low x only
  EXPECT_EQ(t.bytes(), "E");
  gx::crplot_abs(t.g, 101, 201, 2);  // low y changed
  EXPECT_EQ(t.bytes(), "iE");
  gx::crplot_abs(t.g, 140, 201, 2);  // high x changed: low y goes with it
  EXPECT_EQ(t.bytes(), "i$L");
  gx::crplot_abs(t.g, 140, 232, 2);  // high y changed (7), low y 8
  EXPECT_EQ(t.bytes(), "'hL");
}

TEST(Tektronix, StyleChangeResendsTheLastPoint) {
  Tek t;
  gx::crplot_abs(t.g, 100, 200, 3);
  gx::crplot_abs(t.g, 101, 200, 2);
  t.bytes();
  gx::crplot_abs(t.g, 300, 300, 22);  // style 2 (dot-dash) in mid-line
  EXPECT_EQ(t.bytes(), std::string("\x1b" "b" "\x1d" "&h#E" ")l)L"));
  gx::crplot_abs(t.g, 301, 300, 22);  // same style: nothing extra
  EXPECT_EQ(t.bytes(), "M");
  gx::crplot_abs(t.g, 302, 300, 102);  // intensity 1, back to solid
  EXPECT_EQ(t.bytes(), std::string("\x1b`\x1b/1d\x1d") + ")l)M" + "N");
}

TEST(Tektronix, ClipAndClamp) {
  Tek t;
  gx::crplot_abs(t.g, 10, 10, 3);
  t.bytes();
  gx::crplot_abs(t.g, 1030, 10, 2);  // outside the clip rectangle: dropped
  EXPECT_EQ(t.bytes(), "");
  gx::crscreen(t.g, 0, 1100, 0, 767);
  gx::crplot_abs(t.g, 1030, 10, 2);  // inside the enlarged one: clamped to 1023
  EXPECT_EQ(t.bytes(), "j?_");  // high x changed, so low y goes too
}

TEST(Tektronix, EmulationSequences) {
  Tek t(2);
  gx::crgmode(t.g, 1);
  EXPECT_EQ(t.bytes(), "\x1b" "1\x1b*\x1d");
  gx::crgmode(t.g, 2);
  EXPECT_EQ(t.bytes(), "\x1f");
  gx::crgmode(t.g, 1);
  EXPECT_EQ(t.bytes(), "\x1d");
  gx::crreset(t.g);
  EXPECT_EQ(t.bytes(), "\x1f\x1bO\x1b" "2");
  Tek v(7);
  gx::crclear(v.g);  // V500: US before the erase; leaving sends CAN LF ETB
  EXPECT_EQ(v.bytes(), "\r\x1d\x1f\x1b\f\x1f\x18\n\x17");
  Tek x(8);
  gx::crgmode(x.g, 2);
  EXPECT_EQ(x.bytes(), "\x1b[?38h");
  gx::crreset(x.g);
  EXPECT_EQ(x.bytes(), "\x1b\x03");
}

TEST(Tektronix, OutputIsBufferedIn120Characters) {
  Tek t;
  for (int i = 0; i < 119; ++i) gx::crsend(t.g, 'a');
  EXPECT_EQ(t.tek.str(), "");
  gx::crsend(t.g, -2);  // 40 or more queued: flushed
  EXPECT_EQ(t.tek.str().size(), 119u);
  for (int i = 0; i < 39; ++i) gx::crsend(t.g, 'b');
  gx::crsend(t.g, -2);  // fewer than 40: kept
  EXPECT_EQ(t.tek.str().size(), 119u);
  for (int i = 0; i < 81; ++i) gx::crsend(t.g, 'c');
  EXPECT_EQ(t.tek.str().size(), 239u);  // 120 queued: written at once
}

TEST(Tektronix, ScreenAreaFollowsTheAspectRatio) {
  Tek t;
  int ierr = 1;
  gx::gxstart(t.g, 5, 6, 0, 1.4142135f, 'S', 0, 10, 0, 10, ierr);
  EXPECT_EQ(ierr, 0);
  // Aspect exactly sqrt 2: right edge 990, top (990 - 36.25)/sqrt 2.
  EXPECT_FLOAT_EQ(t.g.plot.cr.right, 990.0f);
  EXPECT_NEAR(t.g.plot.cr.top, 674.41, 0.01);
  gx::gxplot(t.g, 'S', 10, 10, 3);
  gx::gxplot(t.g, 'S', 0, 0, 2);
  EXPECT_EQ(t.g.plot.cr.lastX, 36);  // left margin 36.25, truncated
  EXPECT_EQ(t.g.plot.cr.lastY, 0);
  gx::gxplot(t.g, 'S', 10, 10, 2);
  EXPECT_EQ(t.g.plot.cr.lastX, 990);
  EXPECT_EQ(t.g.plot.cr.lastY, 674);

  // Aspect 0.5: height as for sqrt 2, width half of it, centred.
  gx::gxstart(t.g, 5, 6, 0, 0.5f, 'S', 0, 10, 0, 10, ierr);
  const float T = 953.75f / 1.4142135f, R = 0.5f * T + 36.25f;
  const float f = (1023.0f - (R - 36.25f)) / 2.0f;
  EXPECT_NEAR(t.g.plot.cr.left, 36.25f + 0.5f * f, 1e-3);
  EXPECT_NEAR(t.g.plot.cr.right, R + 0.5f * f, 1e-3);
  // Aspect 3: full width, lifted by three quarters of the spare height.
  gx::gxstart(t.g, 5, 6, 0, 3.0f, 'S', 0, 10, 0, 10, ierr);
  const float T3 = 953.75f / 3.0f;
  EXPECT_NEAR(t.g.plot.cr.bottom, 0.75f * (724.0f - T3) / 2.0f, 1e-3);
  gx::gxend(t.g, 'S');
  EXPECT_EQ(t.g.plot.cr.mode, 0);
}

TEST(Tektronix, AutoClearErasesAtTheStartOfAPlot) {
  Tek t;
  int ierr;
  gx::gxstart(t.g, 5, 6, 0, 1.4142135f, 'S', 0, 1, 0, 1, ierr);
  std::string b = t.bytes();
  EXPECT_NE(b.find("\x1b\f"), std::string::npos);
  gx::gxclear(t.g, 'D');
  gx::gxend(t.g, 'S');
  t.bytes();
  gx::gxstart(t.g, 5, 6, 0, 1.4142135f, 'S', 0, 1, 0, 1, ierr);
  EXPECT_EQ(t.bytes().find("\x1b\f"), std::string::npos);
}

TEST(Tektronix, UnusableDestinationKeepsThePrevious) {
  gxtest::TempDir d;
  Session s;
  std::string good = d.file("plot.tek");
  gx::crdest(s.g, good);
  std::string bad = d.file("no/such/dir");
  gx::crdest(s.g, bad);
  EXPECT_EQ(s.text(), " Unable to open output to " + d.file("no/such/dir") + ".\n");
  std::string cur;
  gx::crdest(s.g, cur);
  EXPECT_EQ(cur, good);
  gx::crtype(s.g, 5, 6, 0, 1);
  gx::crplot_abs(s.g, 0, 0, 3);
  gx::crreset(s.g);
  EXPECT_EQ(d.read("plot.tek"), std::string("\x1d\x1f\x1d\x20\x60\x20\x40\x1f"));
}

TEST(Tektronix, Tek2plotDrawsTheFrameAndText) {
  if (std::system("command -v tek2plot >/dev/null 2>&1") != 0)
    GTEST_FAIL() << "tek2plot (plotutils) not installed";
  gxtest::TempDir d;
  {
    Session s;
    std::string dest = d.file("plot.tek");
    gx::crdest(s.g, dest);
    gx::crtype(s.g, 5, 6, 0, 1);
    int ierr;
    gx::gxstart(s.g, 5, 6, 0, 1.4142135f, 'S', 0, 10, 0, 10, ierr);
    gx::gxbox(s.g, 'S', 0, 10, 0, 10);
    gx::gxsymbol(s.g, 'S', 2, 5, 4, 0, "^1HHHHHHHH", -1);
    gx::gxend(s.g, 'S');
  }
  std::string cmd = "tek2plot -T pnm --bitmap-size 1024x1024 " + d.file("plot.tek") + " > " +
                    d.file("plot.pnm") + " 2>" + d.file("err");
  ASSERT_EQ(std::system(cmd.c_str()), 0) << d.read("err");
  std::istringstream in(d.read("plot.pnm"));
  std::string tok;
  std::vector<std::string> head;
  while (head.size() < 3 && in >> tok) {
    if (tok[0] == '#') {
      std::getline(in, tok);
      continue;
    }
    head.push_back(tok);
  }
  in.get();
  ASSERT_EQ(head[0], "P4");
  const int w = std::stoi(head[1]), h = std::stoi(head[2]);
  ASSERT_EQ(w, 1024);
  std::string bits((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const int rowBytes = (w + 7) / 8;
  ASSERT_GE(static_cast<int>(bits.size()), rowBytes * h);
  // The 4014 screen sits in the middle of the square: column x, row 901 - y.
  auto dark = [&](int x, int y) {
    for (int dr = -1; dr <= 1; ++dr)
      for (int dc = -1; dc <= 1; ++dc) {
        int r = 901 - y + dr, c = x + dc;
        if (r < 0 || r >= h || c < 0 || c >= w) continue;
        if ((static_cast<unsigned char>(bits[r * rowBytes + c / 8]) >> (7 - c % 8)) & 1) return true;
      }
    return false;
  };
  // The frame: screen 36..990 by 0..674 (see the mapping test above).
  EXPECT_TRUE(dark(36, 337));
  EXPECT_TRUE(dark(990, 337));
  EXPECT_TRUE(dark(500, 674));
  EXPECT_FALSE(dark(500, 200));
  // Eight H's from data (2, 5), 4 text units high: about x 227..700, y 337..420.
  int inText = 0;
  for (int x = 230; x < 600; x += 3)
    for (int y = 340; y < 400; y += 3) inText += dark(x, y);
  EXPECT_GT(inText, 20);
}
