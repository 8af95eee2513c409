// The lens-system model: type-code decoding, field coupling and the
// variable mask of the coefficient fit.
#include <gtest/gtest.h>

#include <cmath>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>

#include "tavo/model/model.h"

namespace {

struct Model {
  std::istringstream in;
  std::ostringstream out;
  tavo::Tavo s{in, out};
  explicit Model(const std::string& input = "") : in(input) {}
  // Particle, beam, then the given rows (code, length, field, radius) and
  // the system end.
  void rows(std::initializer_list<std::array<double, 4>> els) {
    s.bdata(1, 1) = 0.0;
    s.bdata(2, 1) = 1.0;
    int r = 3;
    for (const auto& e : els) {
      for (int c = 1; c <= 4; ++c) s.bdata(r, c) = e[c - 1];
      ++r;
    }
    s.bdata(r, 1) = 9.0;
    s.syspa = r;
  }
};

TEST(ModelTypeCode, DecodesKindFieldSuperpositionAndCoupling) {
  Model m;
  struct Case {
    double code;
    int kind, field, sup, coupling;
  };
  const Case cases[] = {
      {0.0, 0, 0, 0, 0},   {1.0, 1, 0, 0, 0},   {2.0, 2, 1, 0, 0},   {3.0, 3, 0, 0, 0},
      {4.0, 4, 1, 0, 0},   {4.1, 4, 1, 0, 1},   {4.01, 4, 1, 0, -1}, {4.9, 4, 1, 0, 9},
      {4.09, 4, 1, 0, -9}, {5.0, 5, 0, 0, 0},   {6.0, 6, 1, 0, 0},   {7.0, 7, -1, 0, 0},
      {8.0, 8, 1, 0, 0},   {9.0, 9, 0, 0, 0},   {10.0, 10, -1, 0, 0}, {11.0, 11, 1, 0, 0},
      {12.0, 12, -1, 0, 0}, {13.0, 13, -1, 0, 0}, {14.0, 4, -1, 0, 0}, {14.2, 4, -1, 0, 2},
      {15.0, 15, -1, 0, 0}, {16.0, 6, -1, 0, 0},  {17.0, 17, -1, 0, 0}, {18.0, 8, -1, 0, 0},
      {26.0, 6, 1, 1, 0},  {28.0, 8, 1, 1, 0},   {38.0, 8, -1, 1, 0},  {34.03, 4, -1, 1, -3},
      {23.0, 3, 0, 1, 0},
  };
  for (const Case& c : cases) {
    tavo::TypeCode t = tavo::decodeType(m.s, c.code);
    EXPECT_EQ(t.kind, c.kind) << c.code;
    EXPECT_EQ(t.field, c.field) << c.code;
    EXPECT_EQ(t.superposed, c.sup) << c.code;
    EXPECT_EQ(t.coupling, c.coupling) << c.code;
  }
  EXPECT_EQ(m.out.str(), "") << "legal codes print nothing";
}

TEST(ModelTypeCode, BothCouplingDigitsWarnAndTakeTheNegativeCode) {
  Model m;
  tavo::TypeCode t = tavo::decodeType(m.s, 4.12);
  EXPECT_EQ(t.coupling, -2);
  EXPECT_EQ(t.kind, 4);
  EXPECT_EQ(m.out.str(), " %GXPACK - Illegal coupling codes. DTYPE =    4.12\n");
}

TEST(ModelTypeCode, AbsurdCodesDecodeWithoutHarm) {
  Model m;
  for (double v : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity(), 1e300, -1e300, -4.0, 123456.78}) {
    tavo::TypeCode t = tavo::decodeType(m.s, v);
    EXPECT_GE(t.kind, -9);
    EXPECT_LE(t.kind, 19);
    EXPECT_GE(t.coupling, -9);
    EXPECT_LE(t.coupling, 9);
    EXPECT_EQ(tavo::kindName(t.kind).size(), 10u);
  }
  // Only the last two digits before the point count.
  EXPECT_EQ(tavo::decodeType(m.s, 104.1).kind, 4);
}

TEST(ModelCouple, OppositeSignCouplingSharesOneVariableAndReloads) {
  Model m;
  m.rows({{3.0, 0.5, 0, 0}, {4.1, 0.1, 0.3, 0.01}, {3.0, 0.1, 0, 0}, {4.01, 0.1, -0.3, 0.01}});
  tavo::couple(m.s);
  EXPECT_EQ(m.s.blk1.nv, 1);
  EXPECT_DOUBLE_EQ(m.s.blk1.x[1], 0.3);
  EXPECT_EQ(m.s.coupl[4], 1);
  EXPECT_EQ(m.s.coupl[6], -1);
  EXPECT_EQ(m.s.coupl[3], 0);
  m.s.blk1.x[1] = 0.4;
  tavo::reload(m.s);
  EXPECT_DOUBLE_EQ(m.s.bdata(4, 3), 0.4);
  EXPECT_DOUBLE_EQ(m.s.bdata(6, 3), -0.4);
  EXPECT_EQ(m.out.str(), "");
}

TEST(ModelCouple, VariablesNumberedByFirstAppearanceNotByDigit) {
  Model m;
  // Codes 3, 1, 3 (negative), uncoupled, 1: two variables, code 3 first.
  m.rows({{4.3, 0.1, 0.5, 0.01}, {4.1, 0.1, 0.2, 0.01}, {4.03, 0.1, -0.5, 0.01},
          {4.0, 0.1, 0.7, 0.01}, {14.1, 0.1, 900.0, 0.01}});
  tavo::couple(m.s);
  EXPECT_EQ(m.s.blk1.nv, 2);
  EXPECT_DOUBLE_EQ(m.s.blk1.x[1], 0.5);
  EXPECT_DOUBLE_EQ(m.s.blk1.x[2], 0.2);
  EXPECT_EQ(m.s.coupl[3], 1);
  EXPECT_EQ(m.s.coupl[4], 2);
  EXPECT_EQ(m.s.coupl[5], -1);
  EXPECT_EQ(m.s.coupl[6], 0);
  EXPECT_EQ(m.s.coupl[7], 2);  // an electric lens tied to the same code
  // Reload writes every linked field, leaves the uncoupled one alone.
  m.s.blk1.x[1] = 0.6;
  m.s.blk1.x[2] = 0.25;
  tavo::reload(m.s);
  EXPECT_DOUBLE_EQ(m.s.bdata(3, 3), 0.6);
  EXPECT_DOUBLE_EQ(m.s.bdata(4, 3), 0.25);
  EXPECT_DOUBLE_EQ(m.s.bdata(5, 3), -0.6);
  EXPECT_DOUBLE_EQ(m.s.bdata(6, 3), 0.7);
  EXPECT_DOUBLE_EQ(m.s.bdata(7, 3), 0.25);
}

TEST(ModelCouple, ElementsWithoutFieldAreNeverLinked) {
  Model m;
  // A drift and a collimator carrying coupling digits are not field elements.
  m.rows({{3.1, 0.5, 0.3, 0}, {5.2, 0.0, 0.001, 0.002}, {4.0, 0.1, 0.3, 0.01}});
  tavo::couple(m.s);
  EXPECT_EQ(m.s.blk1.nv, 0);
  for (int r = 1; r <= tavo::kRows; ++r) EXPECT_EQ(m.s.coupl[r], 0);
}

TEST(ModelCouple, WrongSignOfACoupledFieldIsReported) {
  Model m;
  m.rows({{4.1, 0.1, -0.3, 0.01}});
  tavo::couple(m.s);
  EXPECT_EQ(m.out.str(), " ?COUPLE- Incorrect sign coupling at IZ =  3\n");
  EXPECT_EQ(m.s.blk1.nv, 1);
  EXPECT_DOUBLE_EQ(m.s.blk1.x[1], 0.3);
}

// Variable mask rows: kind, element row, column, group.
tavo::Mask mask(std::initializer_list<std::array<int, 4>> rows) {
  tavo::Mask m;
  int r = 1;
  for (const auto& row : rows) {
    for (int k = 1; k <= 4; ++k) m(r, k) = row[k - 1];
    ++r;
  }
  return m;
}

TEST(ModelMask, TiedRowBeforeAnUntiedOneKeepsVariablesInStep) {
  Model m;
  m.rows({{4.0, 0.1, 0.3, 0.01}, {3.0, 0.5, 0, 0}, {4.0, 0.1, -0.2, 0.01}, {8.0, 0.05, 0.01, 0.01}});
  // Rows 1 and 2 of the mask are one group, row 3 another: two variables,
  // X(1) from the group's first row and X(2) from the untied row.
  tavo::Mask v = mask({{1, 3, 3, 1}, {1, 5, 3, -1}, {1, 6, 2, 4}});
  int nv = -1;
  tavo::loadMasked(m.s, v, nv);
  EXPECT_EQ(nv, 2);
  EXPECT_DOUBLE_EQ(m.s.blk1.x[1], 0.3);
  EXPECT_DOUBLE_EQ(m.s.blk1.x[2], 0.05);
  EXPECT_DOUBLE_EQ(m.s.blk1.x[3], 0.0) << "nothing beyond the minimiser's variables";

  m.s.blk1.x[1] = 0.35;
  m.s.blk1.x[2] = 0.07;
  tavo::storeMasked(m.s, v, nv);
  EXPECT_DOUBLE_EQ(m.s.bdata(3, 3), 0.35);
  // The tied row follows by the same change with the opposite sign.
  EXPECT_NEAR(m.s.bdata(5, 3), -0.25, 1e-15);
  EXPECT_DOUBLE_EQ(m.s.bdata(6, 2), 0.07);
}

TEST(ModelMask, SameSignTieAndRotationVariables) {
  Model m;
  m.rows({{4.0, 0.1, 0.3, 0.01}, {4.0, 0.1, 0.1, 0.01}});
  m.s.rotat[3] = 0.01;
  m.s.rotat[4] = 0.02;
  tavo::Mask v = mask({{2, 3, 1, -2}, {1, 3, 3, 5}, {2, 4, 1, -2}, {1, 4, 3, 5}});
  int nv = 0;
  tavo::loadMasked(m.s, v, nv);
  EXPECT_EQ(nv, 2);
  EXPECT_DOUBLE_EQ(m.s.blk1.x[1], 0.01);  // taken from the rotation
  EXPECT_DOUBLE_EQ(m.s.blk1.x[2], 0.3);
  m.s.blk1.x[1] = 0.04;
  m.s.blk1.x[2] = 0.5;
  tavo::storeMasked(m.s, v, nv);
  // Rotations go back where they came from; ties of equal sign move alike.
  EXPECT_DOUBLE_EQ(m.s.rotat[3], 0.04);
  EXPECT_NEAR(m.s.rotat[4], 0.05, 1e-15);
  EXPECT_DOUBLE_EQ(m.s.bdata(3, 3), 0.5);
  EXPECT_NEAR(m.s.bdata(4, 3), 0.3, 1e-15);
}

TEST(ModelMask, UnloadedKindsAndBadAddressesChangeNothing) {
  Model m;
  m.rows({{4.0, 0.1, 0.3, 0.01}});
  const tavo::tavo_bdata before = m.s.bdata;
  // Kinds 3 and 4, kind 2 with another column, rows and columns outside
  // the table: each is a variable of its own that loads and writes nothing.
  tavo::Mask v = mask({{3, 3, 3, 1}, {4, 3, 2, 2}, {2, 3, 4, 3}, {1, 41, 3, 4}, {1, 3, 13, 5},
                       {1, -1, 3, 6}});
  int nv = 0;
  tavo::loadMasked(m.s, v, nv);
  EXPECT_EQ(nv, 6);
  for (int i = 1; i <= 6; ++i) {
    EXPECT_DOUBLE_EQ(m.s.blk1.x[i], 0.0) << i;
    m.s.blk1.x[i] = 1.0;
  }
  tavo::storeMasked(m.s, v, nv);
  EXPECT_EQ(m.s.bdata.b, before.b);
  EXPECT_DOUBLE_EQ(m.s.rotat[3], 0.0);
}

TEST(ModelMask, NoVariablesWritesNothingAndEmptyMaskLoadsNone) {
  Model m;
  m.rows({{4.0, 0.1, 0.3, 0.01}});
  tavo::Mask v = mask({{1, 3, 3, 1}});
  m.s.blk1.x[1] = 9.0;
  tavo::storeMasked(m.s, v, 0);
  EXPECT_DOUBLE_EQ(m.s.bdata(3, 3), 0.3);
  int nv = 7;
  tavo::loadMasked(m.s, tavo::Mask{}, nv);
  EXPECT_EQ(nv, 0);
}

TEST(ModelMinput, EditsRowsListsThemAndCountsDistinctGroups) {
  // Row 1 typed whole, row 2 tied to it by the group's absolute value,
  // row 3's absolute values add up to 1: the mask ends there.
  Model m("1 3 3 2\n1,5,3,-2\n0 0 0 -1\n");
  tavo::Mask v;
  int n = -1;
  ASSERT_TRUE(tavo::editMask(m.s, v, n));
  EXPECT_EQ(n, 1);
  EXPECT_EQ(v(1, 1), 1);
  EXPECT_EQ(v(2, 4), -2);
  EXPECT_EQ(v(3, 1), 0);
  const std::string out = m.out.str();
  EXPECT_NE(out.find("    0   0   0   0     > "), std::string::npos) << out;
  // Format (1H ,20X,4(3X,I2)): 25 blanks before the first value.
  const std::string lead(25, ' ');
  EXPECT_NE(out.find("\n" + lead + "1    3    3    2\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\n" + lead + "1    5    3   -2\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("\n" + lead + "0"), std::string::npos) << "the ended row is not listed";
}

TEST(ModelMinput, ZeroKeepsAnEntryAndABadRowIsAskedAgain) {
  Model m("0 0 5 0\nx y\n0 0 0 4\n1\n");
  tavo::Mask v = mask({{1, 3, 3, 1}, {1, 4, 3, 2}, {1, 6, 3, 3}});
  int n = 0;
  ASSERT_TRUE(tavo::editMask(m.s, v, n));
  EXPECT_EQ(v(1, 3), 5);
  EXPECT_EQ(v(1, 1), 1);
  EXPECT_EQ(v(2, 4), 4);
  EXPECT_EQ(v(3, 1), 0) << "the typed 1 ended the mask at row 3";
  EXPECT_EQ(n, 2);
  // Row 2's prompt appears twice: once before the bad reply, once after.
  const std::string out = m.out.str();
  const std::string row2 = "    1   4   3   2     > ";
  size_t first = out.find(row2);
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(out.find(row2, first + 1), std::string::npos);
}

TEST(ModelMinput, EndOfAMacroAbandonsTheEditUnchanged) {
  char dir[] = "/tmp/tavo_minputXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/m.tcm";
  {
    std::ofstream f(file);
    f << "2 2 2 2\n";
  }
  Model m;
  ASSERT_TRUE(m.s.gx.io.open(15, file, gx::OpenStatus::Old, gx::Access::Read));
  m.s.inout.cmd = 15;
  m.s.imacr = 1;
  tavo::Mask v = mask({{1, 3, 3, 1}});
  int n = 42;
  EXPECT_FALSE(tavo::editMask(m.s, v, n));
  EXPECT_EQ(v(1, 1), 1);
  EXPECT_EQ(v(2, 1), 0);
  EXPECT_EQ(n, 42);
  // The answer read from the macro was echoed after its prompt.
  EXPECT_NE(m.out.str().find("    1   3   3   1     > 2 2 2 2\n"), std::string::npos) << m.out.str();
  m.s.gx.io.closeAll();
  std::remove(file.c_str());
  rmdir(dir);
}

}  // namespace
