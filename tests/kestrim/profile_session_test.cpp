// PROFIL, DIFF and DELTAE in whole sessions: channels and annuli that add
// up to the rays counted, their positions, and the energy histogram that
// adds up to 100 %.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "session.h"
#include "workdir.h"

namespace {

namespace fs = std::filesystem;
using kqtest::Ray;
using kqtest::Session;

class Profile : public kqtest::WorkDir {};

TEST_F(Profile, ChannelsRunFromTheMinimumToTheMaximumInChannelNPlusOne) {
  auto v = kqtest::imagePair();   // both at X = 0
  v.push_back({0.5e-6, 0, 1e-6, 0, 0});
  v.push_back({1e-6, 0, 0, 0, 0});
  v.push_back({2e-6, 0, -1e-6, 0, 0});
  kqtest::writeSet("p.bin", v);
  Session s("DATA p\nPROFIL/X\n20\nPROFIL/Y RUN\n\nEXIT\n");
  EXPECT_TRUE(s.has(" X-range from    0.0000     to   2.00000E-06")) << s.text();
  auto l = kqtest::lines("px.fit");
  ASSERT_EQ(l.size(), 7u + 21u);
  EXPECT_EQ(l[0], " X-profile for p.bin");
  EXPECT_EQ(l[1], " X - axis (difference from centre range) (^2l^cm)");
  EXPECT_EQ(l[3], " 12,0");
  long sum = 0;
  std::vector<long> counts;
  for (size_t i = 7; i < l.size(); ++i) {
    auto n = kqtest::numbers(l[i]);
    counts.push_back(std::lround(n[1]));
    sum += counts.back();
    // Channel k sits at (k - 1)/n of the range, measured from the centre.
    EXPECT_NEAR(n[0], -1.0 + 0.1 * static_cast<double>(i - 7), 1e-4);
    EXPECT_NEAR(n[2], std::sqrt(n[1]), 1e-4);
  }
  EXPECT_EQ(sum, 5);
  EXPECT_EQ(counts[0], 2);    // the pair at the minimum
  EXPECT_EQ(counts[5], 1);    // 0.5 micron: channel [20 * 0.25 + 1.5] = 6
  EXPECT_EQ(counts[10], 1);   // 1 micron: channel 11
  EXPECT_EQ(counts[20], 1);   // the maximum: channel 21
  // The name is lower-cased and the default of 20 channels taken.
  EXPECT_TRUE(fs::exists("runy.fit"));
  EXPECT_EQ(kqtest::lines("runy.fit").size(), 7u + 21u);
}

TEST_F(Profile, TooManyChannelsAndAZeroRange) {
  auto v = kqtest::imagePair();
  v.push_back({1e-6, 0, 0, 0, 0});
  kqtest::writeSet("p.bin", v);
  Session s("DATA p\nPROFIL/X\n5000\nPROFIL/E\nEXIT\n");
  EXPECT_TRUE(s.has("%KQPROFILE- At most 999 channels; 999 used."));
  auto l = kqtest::lines("px.fit");
  ASSERT_EQ(l.size(), 7u + 1000u);
  EXPECT_EQ(std::lround(kqtest::numbers(l.back())[1]), 1);   // channel 1000
  EXPECT_TRUE(s.has(" E-range from    0.0000     to    0.0000    \n  Zero range!\n"));
  EXPECT_FALSE(fs::exists("pe.fit"));
}

TEST_F(Profile, ARayWithANaNCoordinateIsABadIndexInChannelOne) {
  // A map that overflowed leaves NaN in a ray: it falls in no channel.
  auto v = kqtest::imagePair();
  v.push_back({1e-6, 0, 0, 0, 0});
  v.push_back({std::nan(""), 0, 0, 0, 0});
  kqtest::writeSet("p.bin", v);
  Session s("DATA p\nPROFIL/X\n10\nEXIT\n");
  EXPECT_TRUE(s.has("Bad index at 4 r = ")) << s.text();
  EXPECT_TRUE(s.has(" index = 0\n")) << s.text();
  auto l = kqtest::lines("px.fit");
  ASSERT_EQ(l.size(), 7u + 11u);
  EXPECT_EQ(std::lround(kqtest::numbers(l[7])[1]), 3);    // the pair and the NaN ray
  EXPECT_EQ(std::lround(kqtest::numbers(l.back())[1]), 1);

  // First in the set, it still takes no part in the range.
  v.insert(v.begin(), v.back());
  v.pop_back();
  kqtest::writeSet("q.bin", v);
  Session t("DATA q\nPROFIL/X\n10\nEXIT\n");
  EXPECT_TRUE(t.has(" X-range from    0.0000     to   1.00000E-06")) << t.text();
  EXPECT_TRUE(t.has("Bad index at 1 r = ")) << t.text();
  ASSERT_EQ(kqtest::lines("qx.fit").size(), 7u + 11u);
}

TEST_F(Profile, DiffUsesAFivePercentWiderRangeAndCountsEveryRayOnce) {
  auto v = kqtest::imagePair();
  v.push_back({1e-6, 0, 0, 0, 0});      // the largest radius, 1 micron
  v.push_back({0, 0, 0.5e-6, 0, 0});
  kqtest::writeSet("d.bin", v, "Diff set");
  Session s("DATA d\nDIFF\n\n\n\nEXIT\n");
  EXPECT_TRUE(s.has(" Using a maximum range of   1.0500     micron")) << s.text();
  EXPECT_TRUE(s.has(" Number of rays outside range =      0"));
  auto l = kqtest::lines("dbr.fit");
  ASSERT_EQ(l.size(), 7u + 20u);
  EXPECT_EQ(l[0], " Diff set");
  EXPECT_EQ(l[3], " 9,0");
  const double pi = static_cast<double>(3.1415927f);
  const double r = static_cast<double>(1.05f) * 1e-6;
  const double delta = r / 19.0;
  double total = 0;
  for (int k = 1; k <= 20; ++k) {
    auto n = kqtest::numbers(l[static_cast<size_t>(6 + k)]);
    const double rk = 1000.0 * (k - 0.5) * delta;
    const double area = 2000.0 * pi * rk * delta;
    EXPECT_NEAR(n[0], rk, 1e-4 * rk);
    total += n[1] * area;
  }
  EXPECT_NEAR(total, 4.0, 1e-3);   // all four rays, the pair included
  // Annulus 1 holds the pair, 10 the half-micron ray, 19 the outer one.
  auto a = [&](int k) {
    const double rk = 1000.0 * (k - 0.5) * delta;
    return kqtest::numbers(l[static_cast<size_t>(6 + k)])[1] * 2000.0 * pi * rk * delta;
  };
  EXPECT_NEAR(a(1), 2.0, 1e-3);
  EXPECT_NEAR(a(10), 1.0, 1e-3);
  EXPECT_NEAR(a(19), 1.0, 1e-3);

  // A smaller range leaves the outer ray outside.
  Session t("DATA d\nDIFF small\n\n\n0.6\nEXIT\n");
  EXPECT_EQ(t.count(" Ray outside range."), 1u);
  EXPECT_TRUE(t.has(" Number of rays outside range =      1"));
}

TEST_F(Profile, DiffMeasuresItsRangeWithoutANaNRayFirstInTheSet) {
  std::vector<Ray> v{{std::nan(""), 0, 0, 0, 0}};
  for (const Ray& r : kqtest::imagePair()) v.push_back(r);
  v.push_back({1e-6, 0, 0, 0, 0});
  kqtest::writeSet("d.bin", v);
  Session s("DATA d\nDIFF\n\n\n\nEXIT\n");
  EXPECT_TRUE(s.has(" Using a maximum range of   1.0500     micron")) << s.text();
  EXPECT_FALSE(s.has("Zero range"));
  // It has no radius either, so it lies outside the annuli.
  EXPECT_EQ(s.count(" Ray outside range."), 1u);
  EXPECT_TRUE(s.has(" Number of rays outside range =      1"));
  EXPECT_EQ(kqtest::lines("dbr.fit").size(), 7u + 20u);
}

TEST_F(Profile, DeltaeHistogramAddsUpToAHundredPercent) {
  auto v = kqtest::imagePair();
  v.push_back({0, 3e-3, 0, 4e-3, -1.0});
  v.push_back({0, 0, 0, 0, 1.0});
  v.push_back({0, 0, 0, 0, 0.5});
  kqtest::writeSet("e.bin", v, "Energy set");
  Session s("DATA e\nDELTAE spread\nNTOT\nEXIT\n");
  EXPECT_TRUE(s.has(" DE histogram file is: spread.fit"));
  EXPECT_TRUE(s.has(" Total number of ray vectors =       5"));
  auto l = kqtest::lines("spread.fit");
  ASSERT_EQ(l.size(), 7u + 100u);   // caption, six header lines, 100 bins
  EXPECT_EQ(l[0], "Energy set");
  EXPECT_EQ(l[1], " DE (  )");
  EXPECT_EQ(l[3], " 5,0");
  double sum = 0;
  for (size_t j = 7; j < l.size(); ++j) sum += kqtest::numbers(l[j])[1];
  EXPECT_NEAR(sum, 100.0, 1e-9);
  EXPECT_NEAR(kqtest::numbers(l[7])[1], 20.0, 1e-9);    // DE = -1: bin 1
  EXPECT_NEAR(kqtest::numbers(l[57])[1], 40.0, 1e-9);   // the pair's 0: bin 51
  EXPECT_NEAR(kqtest::numbers(l[81])[1], 20.0, 1e-9);   // 0.5: bin 75
  EXPECT_NEAR(kqtest::numbers(l[106])[1], 20.0, 1e-9);  // 1: bin 100
  EXPECT_NEAR(kqtest::numbers(l[106])[0], 2.0, 1e-9);
  // The rearranged set: total angle and energy deviation.
  auto r = kqtest::readSet("DEe.bin");
  ASSERT_EQ(r.size(), 5u);
  EXPECT_NEAR(r[2][0], 5e-3, 1e-15);
  EXPECT_EQ(r[2][2], -1.0);
  EXPECT_EQ(r[2][1], 0.0);
  EXPECT_EQ(r[2][4], 0.0);
}

TEST_F(Profile, DeltaeLeavesANaNEnergyOutOfTheRangeAndCountsItInBinOne) {
  std::vector<Ray> v{{0, 0, 0, 0, std::nan("")}};
  for (const Ray& r : kqtest::imagePair()) v.push_back(r);
  v.push_back({0, 0, 0, 0, 1.0});
  v.push_back({0, 0, 0, 0, -1.0});
  kqtest::writeSet("e.bin", v);
  Session s("DATA e\nDELTAE spread\nEXIT\n");
  EXPECT_TRUE(s.has("      Delta E range:   -1.0000     to    1.0000    ??")) << s.text();
  auto l = kqtest::lines("spread.fit");
  ASSERT_EQ(l.size(), 7u + 100u);
  EXPECT_NEAR(kqtest::numbers(l[7])[1], 40.0, 1e-9);    // -1 and the NaN
  EXPECT_NEAR(kqtest::numbers(l[57])[1], 40.0, 1e-9);   // the pair's 0: bin 51
  EXPECT_NEAR(kqtest::numbers(l[106])[1], 20.0, 1e-9);
}

TEST_F(Profile, DeltaeWithOneEnergyPutsEveryRayInTheFirstBin) {
  auto v = kqtest::imagePair();
  v.push_back({1e-6, 0, 0, 0, 0});
  kqtest::writeSet("f.bin", v);
  Session s("DATA f\nDELTAE flat\nEXIT\n");
  EXPECT_TRUE(s.has("%KQDELTAE- Every ray has the same DE: all are in the first bin."));
  auto l = kqtest::lines("flat.fit");
  ASSERT_EQ(l.size(), 107u);
  EXPECT_NEAR(kqtest::numbers(l[7])[1], 100.0, 1e-9);
  double sum = 0;
  for (size_t j = 7; j < l.size(); ++j) sum += kqtest::numbers(l[j])[1];
  EXPECT_NEAR(sum, 100.0, 1e-9);
}

}  // namespace
