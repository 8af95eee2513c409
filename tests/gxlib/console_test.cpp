// Small console services: lengths, leading blanks, upper case, screen
// clearing, the shell and the clock.
#include <gtest/gtest.h>

#include <ctime>

#include "gxlib/plot/plot.h"
#include "test_support.h"

using gxtest::Session;
using gxtest::TempDir;

TEST(Strings, LengthLeadAndUpcase) {
  EXPECT_EQ(gx::gxlen("ab \t  "), 2);
  EXPECT_EQ(gx::gxlen("   "), 0);
  EXPECT_EQ(gx::gxlen(""), 0);
  EXPECT_EQ(gx::gxlen(" a\tb"), 4);

  Session s;
  std::string a = " \t x y  ";
  gx::gxlead(s.g, a);
  EXPECT_EQ(a, "x y     ");
  std::string one = " ";
  gx::gxlead(s.g, one);
  EXPECT_EQ(one, " ");
  std::string two = " x";
  gx::gxlead(s.g, two);
  EXPECT_EQ(two, "x ");
  std::string none = "abc ";
  gx::gxlead(s.g, none);
  EXPECT_EQ(none, "abc ");
  EXPECT_EQ(s.text(), "");

  std::string longLine = std::string(250, ' ') + "z";
  gx::gxlead(s.g, longLine);
  EXPECT_EQ(s.text(), " Line too long in GXLEAD.\n \n");
  EXPECT_EQ(longLine.size(), 251u);
  EXPECT_EQ(longLine.substr(0, 51), std::string(51, ' ') + "");
  EXPECT_EQ(longLine[51], 'z');  // at most 199 shifts

  std::string u = "aBz{ \xe4" "q";
  gx::gxupcase(u);
  EXPECT_EQ(u, "ABZ{ \xe4" "Q");
}

TEST(ClearScreen, ModesAndRememberedMode) {
  Session s;
  gx::gxcls(s.g, 6, ' ');  // no mode yet: nothing
  EXPECT_EQ(s.text(), "");
  gx::gxcls(s.g, 6, 'h');
  EXPECT_EQ(s.text(), "\x1b[2J\n\x1b[1;1H\n");
  EXPECT_EQ(s.g.clsMode, 'H');
  s.out.str("");
  gx::gxcls(s.g, 6, '\0');  // remembered
  EXPECT_EQ(s.text(), "\x1b[2J\n\x1b[1;1H\n");
  s.out.str("");
  gx::gxcls(s.g, 6, 'V');
  gx::gxcls(s.g, 6, 'A');
  gx::gxcls(s.g, 6, 'F');
  std::ostringstream tek;
  gx::crdest_stream(s.g, &tek);
  gx::gxcls(s.g, 6, 'G');  // through the graphics terminal: GS, ESC FF, US
  EXPECT_EQ(s.text(), "\x1b[2J\n\f\n\x1b" "1\x1b\f\x1b" "2\n");
  EXPECT_EQ(tek.str(), "\x1d\x1b\f\x1f");
  EXPECT_EQ(s.g.clsMode, 'G');
  s.out.str("");
  gx::gxcls(s.g, 6, 'c');
  EXPECT_EQ(s.g.clsMode, ' ');
  gx::gxcls(s.g, 6, ' ');
  gx::gxcls(s.g, 6, 'Z');  // not a mode: nothing, nothing remembered
  gx::gxcls(s.g, 6, ' ');
  EXPECT_EQ(s.text(), "");
}

TEST(Shell, StatusIsAlwaysZero) {
  TempDir t;
  Session s;
  EXPECT_EQ(gx::gxsystem(s.g, "echo made > " + t.file("o.txt") + "   "), 0);
  EXPECT_EQ(t.read("o.txt"), "made\n");
  EXPECT_EQ(gx::gxsystem(s.g, "exit 3"), 0);
  EXPECT_EQ(gx::gxsystem(s.g, "   "), 0);
}

TEST(Clock, InjectedAndReal) {
  Session s;
  s.g.clock = [] { return std::string("12:34:56"); };
  EXPECT_EQ(gx::gxtime(s.g), "12:34:56");

  TempDir t;
  t.enter();
  t.write("gxdate.tmp", "user data");
  Session r;
  std::time_t before = std::time(nullptr);
  std::string now = gx::gxtime(r.g);
  std::time_t after = std::time(nullptr);
  ASSERT_EQ(now.size(), 8u);
  EXPECT_EQ(now[2], ':');
  EXPECT_EQ(now[5], ':');
  int h = std::stoi(now.substr(0, 2)), m = std::stoi(now.substr(3, 2)),
      sec = std::stoi(now.substr(6, 2));
  std::tm b{}, a{};
  localtime_r(&before, &b);
  localtime_r(&after, &a);
  int got = h * 3600 + m * 60 + sec;
  int lo = b.tm_hour * 3600 + b.tm_min * 60 + b.tm_sec;
  int hi = a.tm_hour * 3600 + a.tm_min * 60 + a.tm_sec;
  EXPECT_TRUE(got == lo || got == hi) << now;
  // The user's file of that name is left alone.
  EXPECT_EQ(t.read("gxdate.tmp"), "user data");
}
