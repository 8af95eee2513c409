// SORT in whole sessions: the grid's rounding rule at the edges, a single
// cell, counts beyond 16 bits, the percentage table, the edge scan and the
// radial profile, and files that must not be replaced.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "session.h"
#include "workdir.h"

namespace {

namespace fs = std::filesystem;
using kqtest::Ray;
using kqtest::Session;

class Sort : public kqtest::WorkDir {};

// A sort square of 2^-18 m (typed as 3.814697265625 micron) centred on the
// axis: lo = -2^-19; with N = 3 the cells are 2^-19 wide and every position
// below is exact.
const double kR = std::ldexp(1.0, -18);
const double kLo = -kR / 2;
const double kCell = kR / 2;

std::vector<Ray> edgeSet() {
  auto v = kqtest::imagePair();
  v.push_back({kLo - 0.5 * kCell, 0, 0, 0, 0});   // exactly half a cell below: out
  v.push_back({kLo - 0.4 * kCell, 0, 0, 0, 0});   // less than half: first cell
  v.push_back({kLo + kR, 0, 0, 0, 0});            // on the top edge: last cell
  v.push_back({0, 0, 1e-7, 0, 0});                // middle cell
  v.push_back({0, 0, 5e-6, 0, 0});                // far above the square: out
  return v;
}

// Cell counts of an .agp file by (i, j), N x N.
std::vector<long> cells(const std::string& name) {
  auto l = kqtest::lines(name);
  std::vector<long> c;
  for (size_t i = 3; i < l.size(); ++i) c.push_back(std::lround(kqtest::numbers(l[i])[2]));
  return c;
}

TEST_F(Sort, GridCountsByNearestCellAndAddsUpToTheRaysInIt) {
  kqtest::writeSet("g.bin", edgeSet(), "Edge rays");
  Session s("DATA g\nSORT g\n3\n0\n3.814697265625\nEXIT\n");
  EXPECT_EQ(s.rc, 0);
  EXPECT_TRUE(s.has(" Using a maximum range of "));
  auto l = kqtest::lines("g.agp");
  ASSERT_EQ(l.size(), 3u + 9u) << s.text();
  EXPECT_EQ(l[0], " Edge rays");
  EXPECT_EQ(l[1], " X (^gg^rm)");
  EXPECT_EQ(l[2], " Y (^gg^rm)");
  auto c = cells("g.agp");
  // Row j = 2 (Y = 0) holds the three rays inside; the rest are empty.
  const std::vector<long> want = {0, 0, 0, 1, 1, 1, 0, 0, 0};
  EXPECT_EQ(c, want);
  // Outer cell centres lie on the square's edges (micron).
  auto first = kqtest::numbers(l[3]), last = kqtest::numbers(l[11]);
  EXPECT_NEAR(first[0], 1e6 * kLo, 1e-4);
  EXPECT_NEAR(first[1], 1e6 * kLo, 1e-4);
  EXPECT_NEAR(last[0], 1e6 * (kLo + kR), 1e-4);
  EXPECT_NEAR(last[1], 1e6 * (kLo + kR), 1e-4);
}

TEST_F(Sort, GridOfOneCellCountsTheRaysInsideTheSquare) {
  kqtest::writeSet("g.bin", edgeSet());
  Session s("DATA g\nSORT g\n1\n0\n3.814697265625\nEXIT\n");
  auto l = kqtest::lines("g.agp");
  ASSERT_EQ(l.size(), 4u) << s.text();
  auto v = kqtest::numbers(l[3]);
  // The top-edge ray and the middle one; the cell sits at the square's centre.
  EXPECT_EQ(std::lround(v[2]), 2);
  EXPECT_NEAR(v[0], 0.0, 1e-9);
  EXPECT_NEAR(v[1], 0.0, 1e-9);
}

TEST_F(Sort, ARayWithANaNCoordinateLiesInNoCell) {
  // A damaged file or an overflowed map: the ray has no place on the grid.
  auto v = edgeSet();
  v.push_back({std::nan(""), 0, 0, 0, 0});
  v.push_back({0, 0, std::nan(""), 0, 0});
  kqtest::writeSet("g.bin", v);
  Session s("DATA g\nSORT g\n3\n0\n3.814697265625\nEXIT\n");
  const std::vector<long> want = {0, 0, 0, 1, 1, 1, 0, 0, 0};
  EXPECT_EQ(cells("g.agp"), want) << s.text();

  fs::remove("g.agp");
  Session one("DATA g\nSORT g\n1\n0\n3.814697265625\nEXIT\n");
  auto l = kqtest::lines("g.agp");
  ASSERT_EQ(l.size(), 4u) << one.text();
  EXPECT_EQ(std::lround(kqtest::numbers(l[3])[2]), 2);
}

TEST_F(Sort, CountsBeyondSixteenBitsStayRightInGridAndEdgeScan) {
  auto v = kqtest::imagePair();
  for (int i = 0; i < 40000; ++i) v.push_back({0, 0, 0, 0, 0});
  v.push_back({1e-6, 0, 1e-6, 0, 0});
  kqtest::writeSet("w.bin", v);
  Session s("DATA w\nSORT/F w\n3\n0\n4\nEXIT\n");
  auto c = cells("w.agp");
  ASSERT_EQ(c.size(), 9u) << s.text();
  EXPECT_EQ(c[4], 40000);   // the centre cell
  long sum = 0;
  for (long n : c) sum += n;
  EXPECT_EQ(sum, 40001);
  auto e = kqtest::lines("w.FIT");
  ASSERT_EQ(e.size(), 7u + 3u);
  EXPECT_EQ(e[0], " Edge scan w");
  EXPECT_EQ(e[3], " 12,1");
  EXPECT_EQ(kqtest::numbers(e[8])[1], 40000.0);   // running sum after column 2
  EXPECT_EQ(kqtest::numbers(e[9])[1], 40001.0);
  EXPECT_NEAR(kqtest::numbers(e[9])[2], std::sqrt(40001.0), 0.01);   // 1PG13.5
}

TEST_F(Sort, PercentageTableOfTheTotalAndExistingFilesAreKept) {
  auto v = kqtest::imagePair();
  for (int i = 0; i < 3; ++i) v.push_back({0, 0, 0, 0, 0});
  v.push_back({1e-6, 0, 1e-6, 0, 0});
  kqtest::writeSet("t.bin", v);
  Session s("DATA t\nSORT/P t\n3\n0\n4\nT\nEXIT\n");
  auto l = kqtest::lines("t.lpt");
  ASSERT_GE(l.size(), 6u) << s.text();
  // NTOT = 6 rays: 3 in the centre (50 %), 1 in the corner (16.7 %).
  EXPECT_EQ(l[0], "   6-    1    2    3 ");
  EXPECT_EQ(l[2], "   2- 0.00 50.0 0.00 ");
  EXPECT_EQ(l[3], "   3- 0.00 0.00 16.7 ");
  EXPECT_EQ(l[5], "Data expressed as a percentage of          6 counts.");
  EXPECT_EQ(l[6], "This is the total number of counts.");

  // A second SORT/P must not replace the table.
  std::ofstream("t.lpt") << "keep me\n";
  Session again("DATA t\nSORT/P t\n3\n0\n4\nM\nEXIT\n");
  EXPECT_EQ(kqtest::slurp("t.lpt"), "keep me\n");
  EXPECT_TRUE(again.has("?KQSORT - Unable to open t.lpt"));
}

TEST_F(Sort, RadialProfileCountsThePairAndEveryAnnulus) {
  auto v = kqtest::imagePair();
  v.push_back({0.5e-6, 0, 0, 0, 0});    // annulus 1
  v.push_back({0, 0, 1.5e-6, 0, 0});    // annulus 2
  v.push_back({-1.2e-6, 0, 1.6e-6, 0, 0});   // r = 2 micron: annulus 3
  kqtest::writeSet("r.bin", v);
  Session s("DATA r\nSORT/C r\n0\n1\nC\nEXIT\n");
  auto l = kqtest::lines("r.fit");
  ASSERT_EQ(l.size(), 7u + 3u) << s.text();
  EXPECT_EQ(l[0], " Counts as a function of radius");
  auto a1 = kqtest::numbers(l[7]);
  ASSERT_EQ(a1.size(), 3u);
  EXPECT_EQ(a1[0], 0.5);
  EXPECT_EQ(a1[1], 3.0);
  EXPECT_NEAR(a1[2], std::sqrt(3.0), 1e-4);
  EXPECT_NEAR(kqtest::numbers(l[8])[0], 1.5, 1e-9);
  EXPECT_EQ(kqtest::numbers(l[8])[1], 1.0);
  EXPECT_EQ(kqtest::numbers(l[9])[1], 1.0);
  EXPECT_EQ(s.k.ireg[1], 3);   // the last ray's annulus
  EXPECT_FALSE(fs::exists("r.agp"));

  // Intensity: counts per square micron of each annulus.
  fs::remove("r.fit");
  Session t("DATA r\nSORT/C r\n0\n1\nI\nEXIT\n");
  auto m = kqtest::lines("r.fit");
  ASSERT_EQ(m.size(), 10u) << t.text();
  const double pi = static_cast<double>(3.1415927f);
  EXPECT_NEAR(kqtest::numbers(m[7])[1], 3.0 / pi, 1e-4);
  EXPECT_NEAR(kqtest::numbers(m[8])[1], 1.0 / (pi * 3.0), 1e-4);
}

TEST_F(Sort, ZeroExtentWritesNoGrid) {
  auto v = kqtest::imagePair();
  v.push_back({1e-6, 0, 0, 0, 0});
  kqtest::writeSet("z.bin", v);
  Session s("DATA z\nSORT z\n\n0\nEXIT\n");
  EXPECT_TRUE(s.has(" ?KQSORT - Zero range.\n"));
  EXPECT_FALSE(fs::exists("z.agp"));
}

}  // namespace
