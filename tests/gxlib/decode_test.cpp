// Command-line decoding: word, qualifier, value and the rewritten argument.
#include <gtest/gtest.h>

#include "gxlib/fortran/fortio.h"
#include "test_support.h"

using gxtest::Session;

namespace {

struct Decoded {
  std::string line;
  char qual;
  double value;
};

Decoded decode(Session& s, const std::string& typed) {
  Decoded d{typed, '?', -99.0};
  gx::gxdecode(s.g, d.line, d.qual, d.value);
  return d;
}

// The line a decoded command must have: word, blank, 33 characters.
std::string expectLine(const std::string& word, const std::string& arg) {
  return gx::pad(word, 6) + " " + gx::pad(arg, 33);
}

}  // namespace

TEST(Decode, WordAndNumberFromTheListedExamples) {
  Session s;
  Decoded d = decode(s, "elemen 5");
  EXPECT_EQ(d.line, expectLine("ELEMEN", "   5.0000"));
  EXPECT_EQ(d.line.size(), 40u);
  EXPECT_EQ(d.qual, ' ');
  EXPECT_EQ(d.value, 5.0);

  d = decode(s, "trace/x 2.5e-3");
  EXPECT_EQ(d.line, expectLine("TRACE", "  2.50000E-03"));
  EXPECT_EQ(d.qual, 'X');
  EXPECT_NEAR(d.value, 2.5e-3, 2.5e-3 * 1e-6);

  d = decode(s, "p -1.5");
  EXPECT_NEAR(d.value, -1.5, 1e-6);
  EXPECT_EQ(d.line, expectLine("P", "  -1.5000"));

  d = decode(s, "p 12.");
  EXPECT_EQ(d.value, 12.0);
  d = decode(s, "p .5");
  EXPECT_NEAR(d.value, 0.5, 1e-7);
  d = decode(s, "p +7");
  EXPECT_EQ(d.value, 7.0);
  EXPECT_EQ(d.line, expectLine("P", "   7.0000"));
}

TEST(Decode, PowersOfTenAreSinglePrecision) {
  Session s;
  // 0.3 is 3 x 10^-1 with 10^-1 formed as a float.
  Decoded d = decode(s, "p 0.3");
  EXPECT_EQ(d.value, 3.0 * static_cast<double>(0.1f));
  d = decode(s, "p 1.5d3");
  EXPECT_EQ(d.value, 15.0 * static_cast<double>(0.1f) * 1000.0);
  d = decode(s, "p 4E2");
  EXPECT_EQ(d.value, 400.0);
  d = decode(s, "p 25e");  // a blank exponent field means none
  EXPECT_EQ(d.value, 25.0);
  // Beyond the float range the powers stay finite.
  d = decode(s, "p 1e-300");
  EXPECT_NEAR(d.value, 1e-300, 1e-306);
  EXPECT_EQ(d.line, expectLine("P", "  1.00000-300"));
}

TEST(Decode, QualifierOnlyFromTheFirstWord) {
  Session s;
  Decoded d = decode(s, "p 1/2");
  EXPECT_EQ(d.qual, ' ');
  EXPECT_EQ(d.line, expectLine("P", "1/2"));
  EXPECT_EQ(d.value, 0.0);

  d = decode(s, "map/r");
  EXPECT_EQ(d.qual, 'R');
  EXPECT_EQ(d.line, expectLine("MAP", ""));

  d = decode(s, "help/s /usr/share/x.hlp");
  EXPECT_EQ(d.qual, 'S');
  EXPECT_EQ(d.line, expectLine("HELP", "/usr/share/x.hlp"));

  d = decode(s, "reg/3 1.5");  // digits are register qualifiers
  EXPECT_EQ(d.qual, '3');
  EXPECT_NEAR(d.value, 1.5, 1e-7);

  d = decode(s, "tr/x/y 5");  // the rest of the word after the letter goes
  EXPECT_EQ(d.qual, 'X');
  EXPECT_EQ(d.line, expectLine("TR", "   5.0000"));
}

TEST(Decode, BlanksTabsAndLongWords) {
  Session s;
  Decoded d = decode(s, " \t  trace/y\t 3");
  EXPECT_EQ(d.line, expectLine("TRACE", "   3.0000"));
  EXPECT_EQ(d.qual, 'Y');
  EXPECT_EQ(d.value, 3.0);

  d = decode(s, "element 5");  // a long word is cut to six characters
  EXPECT_EQ(d.line, expectLine("ELEMEN", "   5.0000"));

  d = decode(s, "");
  EXPECT_EQ(d.line, std::string(40, ' '));
  EXPECT_EQ(d.value, 0.0);
  EXPECT_EQ(d.qual, ' ');

  // The 40-character line: text beyond column 40 is not seen.
  d = decode(s, "data " + std::string(35, 'a') + "zzzz");
  EXPECT_EQ(d.line, expectLine("DATA", std::string(33, 'a')));
}

TEST(Decode, TextArgumentsAreKeptAsTyped) {
  Session s;
  Decoded d = decode(s, "data 2quad.tav");
  EXPECT_EQ(d.line, expectLine("DATA", "2quad.tav"));
  EXPECT_EQ(d.value, 0.0);

  d = decode(s, "data -old.tav");
  EXPECT_EQ(d.line, expectLine("DATA", "-old.tav"));
  EXPECT_EQ(d.value, 0.0);

  d = decode(s, "data 1.2.3");
  EXPECT_EQ(d.line, expectLine("DATA", "1.2.3"));

  d = decode(s, "map/i A3");
  EXPECT_EQ(d.line, expectLine("MAP", "A3"));
  EXPECT_EQ(d.value, 0.0);

  d = decode(s, "p 1e999");  // overflows: not a number
  EXPECT_EQ(d.line, expectLine("P", "1e999"));
  EXPECT_EQ(d.value, 0.0);

  d = decode(s, "p .");
  EXPECT_EQ(d.line, expectLine("P", "."));
  EXPECT_EQ(d.value, 0.0);
}

TEST(Decode, NumberFieldIsThirteenColumns) {
  Session s;
  // The value overwrites the first 13 columns of the argument.
  Decoded d = decode(s, "p 5 abc");
  EXPECT_EQ(d.line, expectLine("P", "   5.0000"));
  d = decode(s, "p 5            xyz");
  EXPECT_EQ(d.line, expectLine("P", "   5.0000    xyz"));
  // A number longer than the field leaves no digits behind.
  d = decode(s, "p 0.000000000012345 k");
  EXPECT_NEAR(d.value, 1.2345e-11, 1e-17);
  EXPECT_EQ(d.line, expectLine("P", "  1.23450E-11     k"));
}

TEST(Decode, JunkBytesDoNotHurt) {
  Session s;
  std::string junk = "p\x01\xff\x80 \x7f\x00zz";
  junk.push_back('\0');
  Decoded d = decode(s, junk);
  EXPECT_EQ(d.line.size(), 40u);
  EXPECT_EQ(d.line.substr(0, 4), std::string("P\x01\xff\x80"));
  d = decode(s, std::string(200, '/'));
  EXPECT_EQ(d.line.size(), 40u);
}

TEST(Decode, HashTogglesTheEcho) {
  Session s;
  EXPECT_FALSE(s.g.becho);
  decode(s, "p 1");
  EXPECT_EQ(s.text(), "");
  decode(s, "#");
  EXPECT_TRUE(s.g.becho);
  s.out.str("");
  decode(s, "trace/x 2");
  EXPECT_EQ(s.text(), " TRACE  /X    2.0000" + std::string(24, ' ') + "    2.0000    \n \n");
  decode(s, "# off");
  EXPECT_FALSE(s.g.becho);
  s.out.str("");
  decode(s, "p 1");
  EXPECT_EQ(s.text(), "");
}

TEST(Decode, TwoSessionsKeepTheirOwnEchoFlag) {
  Session a, b;
  decode(a, "#");
  EXPECT_TRUE(a.g.becho);
  EXPECT_FALSE(b.g.becho);
}
