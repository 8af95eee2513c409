// A ray set's extent at the system's end is found while the set is counted
// on opening, so a SORT at that plane reads the rays once, not twice. The
// extent must be the one a pass over the rays gives: ray 2 (the paraxial
// pair's angled ray) left out, NaN places and infinite angles passed over,
// longer records and rays past the counting block included.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "session.h"
#include "workdir.h"

namespace {

class SetExtent : public kqtest::WorkDir {};

constexpr int kRays = 30000;

// Ray i of the crafted set: x, th, y, ph (m, rad) and the energy.
void ray(int i, bool infiniteAngle, double v[5]) {
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  v[0] = 1e-9 * (i % 1000) + 1e-7;   // 1e-7 .. 1.099e-6
  v[1] = 1e-6;
  v[2] = -1e-9 * (i % 700) - 1e-7;   // -1e-7 .. -7.99e-7
  v[3] = -1e-6;
  v[4] = 0.0;
  if (i == 1) v[0] = 5e-8, v[2] = 2e-6;          // least x, greatest y
  if (i == 2) v[0] = 9e-3, v[2] = -9e-3;         // far out, and left out
  if (i == 7) v[0] = nan, v[2] = 1e-6;           // no place in x, an ordinary y
  if (i == 8 && infiniteAngle) v[0] = 7e-3, v[1] = inf;   // x + 0 th has no value
  if (i == 25000) v[0] = 4e-6;                   // greatest x, a longer record past the first megabyte
  if (i == 29999) v[2] = -3e-6;                  // least y
}

void writeSet(const std::string& name, bool infiniteAngle) {
  std::ofstream f(name, std::ios::binary);
  auto marker = [&](std::uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
  marker(100);
  f << std::string(100, ' ');
  marker(100);
  for (int i = 1; i <= kRays; ++i) {
    double v[6] = {0, 0, 0, 0, 0, 3.0};
    ray(i, infiniteAngle, v);
    const std::uint32_t len = i == 25000 ? 48 : 40;
    marker(len);
    f.write(reinterpret_cast<const char*>(v), len);
    marker(len);
  }
}

struct Outcome {
  std::string out;
  long long reads;   // records read on the read channel
};

Outcome session(const std::string& input) {
  std::istringstream in(input);
  std::ostringstream out;
  kestrim::Kestrim k(in, out);
  kestrim::kqsession(k);
  return {out.str(), k.rays.reads};
}

TEST_F(SetExtent, SortAtTheEndReadsTheSetOnceAndFindsThePassExtent) {
  writeSet("crafted.bin", true);
  writeSet("finite.bin", false);
  const Outcome opened = session("DATA crafted\nEXIT\n");
  ASSERT_NE(opened.out.find("30000 rays in file."), std::string::npos) << opened.out.substr(0, 2000);

  const Outcome sorted = session("DATA crafted\nSORT\n5\n0\n\nEXIT\n");
  EXPECT_NE(sorted.out.find("Xmax =   4.00000E-06 X min =   5.00000E-08"), std::string::npos)
      << sorted.out.substr(0, 4000);
  EXPECT_NE(sorted.out.find("Ymax =   2.00000E-06 Y min =  -3.00000E-06"), std::string::npos);
  // One pass for the counts, none for the extent.
  EXPECT_LE(sorted.reads - opened.reads, kRays + 2);

  // Elsewhere the extent needs its own pass: 0.1 m on, x grows by 0.1 um
  // (th = 1 urad) and y falls by as much. (An infinite angle would put a
  // ray at infinity there.)
  const Outcome beyond = session("DATA finite\nSORT\n5\n1e5\n\nEXIT\n");
  EXPECT_NE(beyond.out.find("Xmax =   4.10000E-06 X min =   1.50000E-07"), std::string::npos)
      << beyond.out.substr(0, 4000);
  EXPECT_NE(beyond.out.find("Ymax =   1.90000E-06 Y min =  -3.10000E-06"), std::string::npos);
  EXPECT_GE(beyond.reads - opened.reads, 2LL * kRays);
}

}  // namespace
