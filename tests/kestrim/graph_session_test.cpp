// GRAPH: SORT, PROFIL and DIFF draw their results when a device is chosen,
// and nothing changes when none is.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "session.h"
#include "workdir.h"

namespace {

namespace fs = std::filesystem;
using kqtest::Ray;
using kqtest::Session;

class Graph : public kqtest::WorkDir {};

// The points of the last pen-down run of an SVG path (the curve is drawn
// after the frame and its texts).
std::vector<std::pair<int, int>> lastRun(const std::string& svg) {
  const size_t d = svg.rfind(" d=\"");
  std::string path = svg.substr(d + 4, svg.find('"', d + 4) - d - 4);
  const size_t m = path.rfind('M');
  std::vector<std::pair<int, int>> pts;
  std::regex num("([ML])(\\d+) (\\d+)");
  std::string tail = path.substr(m);
  for (std::sregex_iterator it(tail.begin(), tail.end(), num), end; it != end; ++it)
    pts.emplace_back(std::stoi((*it)[2]), std::stoi((*it)[3]));
  return pts;
}

TEST_F(Graph, TheProfileCurveFollowsTheCounts) {
  // Five channels over 0..4 micron holding 3, 1, 0, 2, 1 rays (the pair
  // counts in the first).
  auto v = kqtest::imagePair();
  v.push_back({0, 0, 0, 0, 0});
  v.push_back({1e-6, 0, 0, 0, 0});
  v.push_back({3e-6, 0, 0, 0, 0});
  v.push_back({3e-6, 0, 0, 0, 0});
  v.push_back({4e-6, 0, 0, 0, 0});
  kqtest::writeSet("p.bin", v);
  Session s("DATA p\nGRAPH/V\nPROFIL/X\n4\nEXIT\n");
  EXPECT_TRUE(s.has("SORT, PROFIL and DIFF draw to SVG files (pltNN.svg).")) << s.text();
  ASSERT_TRUE(fs::exists("plt01.svg")) << s.text();
  auto pts = lastRun(kqtest::slurp("plt01.svg"));
  ASSERT_EQ(pts.size(), 5u);
  // Equal steps along X; higher counts higher on the page (smaller y).
  for (size_t i = 2; i < pts.size(); ++i)
    EXPECT_NEAR(pts[i].first - pts[i - 1].first, pts[1].first - pts[0].first, 2);
  const int counts[] = {3, 1, 0, 2, 1};
  // y is linear in the count: from the zero line, 3 is three times 1.
  const double zero = pts[2].second;
  const double one = zero - pts[1].second;
  ASSERT_GT(one, 0);
  for (size_t i = 0; i < 5; ++i) EXPECT_NEAR(zero - pts[i].second, counts[i] * one, 3) << i;
}

TEST_F(Graph, SortAndDiffDrawAndNoDeviceDrawsNothing) {
  auto v = kqtest::imagePair();
  for (int i = 0; i < 20; ++i) v.push_back({1e-7 * i, 0, -5e-8 * i, 0, 0});
  kqtest::writeSet("g.bin", v);
  // Without GRAPH: the files and no picture, as ever.
  Session none("DATA g\nSORT a\n5\n\n\nDIFF b\n\n\n\nEXIT\n");
  EXPECT_TRUE(fs::exists("a.agp"));
  EXPECT_FALSE(none.has("Run number"));
  EXPECT_FALSE(fs::exists("plt01.svg"));
  Session s("DATA g\nGRAPH/V\nSORT c\n5\n\n\nDIFF d\n\n\n\nGRAPH/D\nDIFF e\n\n\n\nEXIT\n");
  EXPECT_TRUE(fs::exists("plt01.svg")) << s.text();
  EXPECT_TRUE(fs::exists("plt02.svg"));
  EXPECT_FALSE(fs::exists("plt03.svg"));   // GRAPH/D: pictures off again
  EXPECT_TRUE(s.has("SORT, PROFIL and DIFF draw to no device."));
  // The grey map's last stroke is the top level of its scale: a
  // horizontal line across the bar.
  auto pts = lastRun(kqtest::slurp("plt01.svg"));
  ASSERT_GE(pts.size(), 2u);
  EXPECT_EQ(pts[0].second, pts[1].second);
}

}  // namespace
