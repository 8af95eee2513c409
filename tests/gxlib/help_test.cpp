// Help files: keyword matching, the keyword list and the pager.
#include <gtest/gtest.h>

#include "test_support.h"

using gxtest::Session;
using gxtest::TempDir;

namespace {

const char* kHelp =
    "#HELP\n"
    "Help on help.\n"
    "\n"
    "#QUAD,HELP\n"
    "Quadrupole help.\n"
    "#XHELP\n"
    "Not for HELP.\n"
    "#* STIG  SPEC\n"
    "Stigmation.\n"
    "#drift, d\n"
    "Drift text.   \n";

std::string lines(int from, int to) {
  std::string s;
  for (int i = from; i <= to; ++i) s += " line " + std::to_string(i) + "\n";
  return s;
}

}  // namespace

TEST(Help, KeyMatchesAtStartAndAfterCommaNotInsideAWord) {
  TempDir t;
  t.write("x.hlp", kHelp);
  Session s;
  gx::gxhelp(s.g, 5, 6, 0, t.file("x.hlp"), "help");
  EXPECT_EQ(s.text(), " Help on help.\n \n Quadrupole help.\n \n");
  EXPECT_FALSE(s.g.io.isOpen(15));
}

TEST(Help, BlankSeparatedKeywordsAndLowerCaseFiles) {
  TempDir t;
  t.write("x.hlp", kHelp);
  Session s;
  gx::gxhelp(s.g, 5, 6, 0, t.file("x.hlp"), "SPEC  ");
  EXPECT_EQ(s.text(), " Stigmation.\n \n");
  s.out.str("");
  gx::gxhelp(s.g, 5, 6, 0, t.file("x.hlp"), "D");
  EXPECT_EQ(s.text(), " Drift text.\n \n");
  s.out.str("");
  gx::gxhelp(s.g, 5, 6, 0, t.file("x.hlp"), "QU");  // a prefix is enough
  EXPECT_EQ(s.text(), " Quadrupole help.\n \n");
}

TEST(Help, NoMatchAndMissingFile) {
  TempDir t;
  t.write("x.hlp", kHelp);
  Session s;
  gx::gxhelp(s.g, 5, 6, 0, t.file("x.hlp"), "ZOOM");
  EXPECT_EQ(s.text(), " \n \n \n No help information available on ZOOM\n \n \n");
  s.out.str("");
  std::string missing = t.file("none.hlp");
  gx::gxhelp(s.g, 5, 6, 0, missing + "   ", "HELP");
  EXPECT_EQ(s.text(), " No help information available,\n " + missing + " does not exist.\n");
}

TEST(Help, KeywordListSixToALine) {
  TempDir t;
  std::string h = kHelp;
  h += "#VERYLONGKEYWORD\nx\n#SEVEN\n#EIGHT,X\n";
  t.write("x.hlp", h);
  Session s;
  gx::gxhelp(s.g, 5, 6, 1, t.file("x.hlp"), "");
  EXPECT_EQ(s.text(),
            " \n List of keywords for help information:\n \n"
            " HELP      QUAD      XHELP     STIG      drift     VERYLONGKE\n"
            " SEVEN     EIGHT     \n \n");
}

TEST(Help, PagerEveryTwentyLines) {
  TempDir t;
  // The help file holds the text without the leading blank.
  std::string body;
  for (int i = 1; i <= 45; ++i) body += "line " + std::to_string(i) + "\n";
  t.write("x.hlp", "#LONG\n" + body);
  Session s("\n\n");
  gx::gxhelp(s.g, 5, 6, 0, t.file("x.hlp"), "LONG");
  EXPECT_EQ(s.text(), lines(1, 20) + "Type RETURN for more...\n" + lines(21, 40) +
                          "Type RETURN for more...\n" + lines(41, 45) + " \n");
}

TEST(Help, PagerQuitAndEndOfInput) {
  TempDir t;
  std::string body;
  for (int i = 1; i <= 30; ++i) body += "line " + std::to_string(i) + "\n";
  t.write("x.hlp", "#LONG\n" + body);
  {
    Session s("q\n");
    gx::gxhelp(s.g, 5, 6, 0, t.file("x.hlp"), "LONG");
    EXPECT_EQ(s.text(), lines(1, 20) + "Type RETURN for more...");
    EXPECT_FALSE(s.g.io.isOpen(15));
  }
  {
    // End of terminal input ends the help (and the run) with the file closed.
    Session s("");
    EXPECT_THROW(gx::gxhelp(s.g, 5, 6, 0, t.file("x.hlp"), "LONG"), gx::EndOfInput);
    EXPECT_FALSE(s.g.io.isOpen(15));
  }
  {
    // From a macro the pager reads the macro; its end ends the help.
    t.write("m.tcm", "");
    Session s;
    ASSERT_TRUE(s.g.io.open(15, t.file("m.tcm"), gx::OpenStatus::Old, gx::Access::Read));
    gx::gxhelp(s.g, 15, 6, 0, t.file("x.hlp"), "LONG");
    EXPECT_EQ(s.text(), lines(1, 20) + "Type RETURN for more...");
    EXPECT_FALSE(s.g.io.isOpen(25));
    EXPECT_TRUE(s.g.io.isOpen(15));
  }
}

TEST(Help, DefaultPathFindsTheSourceTreeCopy) {
  std::string p = gx::helpPath("tavo.hlp");
  std::string installed = std::string(TK_SHARE_INSTALL) + "/tavo.hlp";
  if (gx::Io::exists(installed))
    EXPECT_EQ(p, installed);
  else
    EXPECT_EQ(p, std::string(TK_SOURCE_DIR) + "/share/tavo.hlp");
}
