// Prompted updates: one or two values from a reply that may be empty.
#include <gtest/gtest.h>

#include "test_support.h"

using gxtest::Session;
using gxtest::TempDir;

TEST(Update, CommaBlankAndTabSeparatedPairs) {
  Session s("0.3,0.4\n  7  -2.5e3\n\t1.5\t, 2\n,,8,9\n");
  double a = 1, b = 2;
  EXPECT_EQ(gx::gxupdate(s.g, 5, 6, 0, a, b), gx::Reply::Ok);
  EXPECT_EQ(a, 0.3);
  EXPECT_EQ(b, 0.4);
  EXPECT_EQ(gx::gxupdate(s.g, 5, 6, 0, a, b), gx::Reply::Ok);
  EXPECT_EQ(a, 7.0);
  EXPECT_EQ(b, -2500.0);
  EXPECT_EQ(gx::gxupdate(s.g, 5, 6, 0, a, b), gx::Reply::Ok);
  EXPECT_EQ(a, 1.5);
  EXPECT_EQ(b, 2.0);
  EXPECT_EQ(gx::gxupdate(s.g, 5, 6, 0, a, b), gx::Reply::Ok);
  EXPECT_EQ(a, 8.0);
  EXPECT_EQ(b, 9.0);
}

TEST(Update, EmptyReplyKeepsAndOneFieldChangesOnlyTheFirst) {
  Session s("\n   \n5\n" + std::string(40, ' ') + "9\n");
  double a = 1, b = 2;
  EXPECT_EQ(gx::gxupdate(s.g, 5, 6, 0, a, b), gx::Reply::Ok);
  EXPECT_EQ(a, 1.0);
  EXPECT_EQ(b, 2.0);
  EXPECT_EQ(gx::gxupdate(s.g, 5, 6, 0, a, b), gx::Reply::Ok);
  EXPECT_EQ(a, 1.0);
  EXPECT_EQ(gx::gxupdate(s.g, 5, 6, 0, a, b), gx::Reply::Ok);
  EXPECT_EQ(a, 5.0);
  EXPECT_EQ(b, 2.0);
  // Only the first 40 columns decide whether the reply is empty.
  EXPECT_EQ(gx::gxupdate(s.g, 5, 6, 0, a, b), gx::Reply::Ok);
  EXPECT_EQ(a, 5.0);
}

TEST(Update, BadFieldsRestoreBothValues) {
  Session s("abc\n1.5 abc\n1.2.3\n--4\n3 4\n");
  double a = 1, b = 2;
  EXPECT_EQ(gx::gxupdate(s.g, 5, 6, 0, a, b), gx::Reply::Error);
  EXPECT_EQ(a, 1.0);
  EXPECT_EQ(b, 2.0);
  EXPECT_EQ(gx::gxupdate(s.g, 5, 6, 0, a, b), gx::Reply::Error);
  EXPECT_EQ(a, 1.0);
  EXPECT_EQ(b, 2.0);
  EXPECT_EQ(gx::gxupdate(s.g, 5, 6, 0, a, b), gx::Reply::Error);
  EXPECT_EQ(gx::gxupdate(s.g, 5, 6, 0, a, b), gx::Reply::Error);
  EXPECT_EQ(a, 1.0);
  EXPECT_EQ(gx::gxupdate(s.g, 5, 6, 0, a, b), gx::Reply::Ok);
  EXPECT_EQ(a, 3.0);
  EXPECT_EQ(b, 4.0);
}

TEST(Update, FortranRealForms) {
  // F20.0 input: no point means a whole number; D and a bare exponent sign.
  Session s("15\n1.5D3\n1.5+3\n.5\n12.\n-1e-3\n");
  double a = 0, b = 0;
  const double want[] = {15.0, 1500.0, 1500.0, 0.5, 12.0, -1e-3};
  for (double w : want) {
    EXPECT_EQ(gx::gxupdate(s.g, 5, 6, 0, a, b), gx::Reply::Ok);
    EXPECT_EQ(a, w);
  }
}

TEST(Update, ColumnEightyRule) {
  // A second field that starts in column 80 is not read; one in 79 is.
  std::string at80 = "1" + std::string(78, ' ') + "2";
  std::string at79 = "1" + std::string(77, ' ') + "3";
  std::string past = "1" + std::string(76, ' ') + "4567";  // cut at column 80
  Session s(at80 + "\n" + at79 + "\n" + past + "\n");
  double a = 0, b = 0;
  EXPECT_EQ(gx::gxupdate(s.g, 5, 6, 0, a, b), gx::Reply::Ok);
  EXPECT_EQ(a, 1.0);
  EXPECT_EQ(b, 0.0);
  EXPECT_EQ(gx::gxupdate(s.g, 5, 6, 0, a, b), gx::Reply::Ok);
  EXPECT_EQ(b, 3.0);
  EXPECT_EQ(gx::gxupdate(s.g, 5, 6, 0, a, b), gx::Reply::Ok);
  EXPECT_EQ(b, 456.0);
}

TEST(Update, MacroReplyIsEchoedOnThePromptLine) {
  TempDir t;
  t.write("m.tcm", "  0.25  \n\n");
  Session s;
  ASSERT_TRUE(s.g.io.open(15, t.file("m.tcm"), gx::OpenStatus::Old, gx::Access::Read));
  double a = 1;
  s.g.io.prompt("Value > ");
  EXPECT_EQ(gx::gxupdate(s.g, 15, 6, 1, a), gx::Reply::Ok);
  EXPECT_EQ(a, 0.25);
  s.g.io.prompt("Again > ");
  EXPECT_EQ(gx::gxupdate(s.g, 15, 6, 1, a), gx::Reply::Ok);
  s.g.io.write(6, " next");
  EXPECT_EQ(s.text(), "Value >   0.25\nAgain > \n next\n");
  // The macro has ended: the prompt is abandoned, not repeated.
  EXPECT_EQ(gx::gxupdate(s.g, 15, 6, 1, a), gx::Reply::End);
  EXPECT_EQ(a, 0.25);
}

TEST(Update, EndOfInputNeverLoops) {
  Session s("");
  double a = 1, b = 2;
  EXPECT_THROW(gx::gxupdate(s.g, 5, 6, 0, a, b), gx::EndOfInput);
  EXPECT_EQ(a, 1.0);
  // A unit that is not open cannot be read: give up as well.
  EXPECT_EQ(gx::gxupdate(s.g, 35, 6, 0, a, b), gx::Reply::End);
}

TEST(Update, GivenReply) {
  Session s;
  double a = 1, b = 2;
  EXPECT_EQ(gx::gxupdatec(s.g, 5, 6, 0, a, b, "0.3,0.4"), gx::Reply::Ok);
  EXPECT_EQ(a, 0.3);
  EXPECT_EQ(b, 0.4);
  EXPECT_EQ(gx::gxupdatec(s.g, 5, 6, 0, a, b, ""), gx::Reply::Ok);
  EXPECT_EQ(a, 0.3);
  EXPECT_EQ(gx::gxupdatec(s.g, 5, 6, 0, a, b, "x"), gx::Reply::Error);
  EXPECT_EQ(b, 0.4);
  // Only 32 characters of the reply are seen.
  EXPECT_EQ(gx::gxupdatec(s.g, 5, 6, 0, a, b, std::string(31, ' ') + "123"), gx::Reply::Ok);
  EXPECT_EQ(a, 1.0);
  EXPECT_EQ(s.text(), "");
  EXPECT_EQ(gx::gxupdatec(s.g, 5, 6, 1, a, b, "6"), gx::Reply::Ok);
  EXPECT_EQ(s.text(), "6\n");
}
