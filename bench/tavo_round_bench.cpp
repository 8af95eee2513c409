// Round lenses from their axial fields: a three-lens electron column (an
// immersion lens, an einzel lens and a bell-shaped magnetic objective) to
// fifth order with the energy deviation, as EXACT and COFOUT/E use it, and
// the round-lens optics (image search and its fifth-order map). Goal: under
// 0.1 s for the map.
#include <benchmark/benchmark.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tavo/exact/exact.h"
#include "tavo/exact/round.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace {

tavo::Lattice column() {
  std::istringstream in;
  std::ostringstream out;
  tavo::Tavo s(in, out);
  s.bdata(1, 2) = 1.0;
  s.bdata(1, 3) = 510998.95 / 931494102.42;   // electron
  s.bdata(1, 4) = s.bdata(1, 12) = 0.005;     // 5 keV
  s.bdata(1, 5) = -1.0;
  s.bdata(2, 1) = 1.0;
  const std::vector<std::vector<double>> rows = {
      {3.0, 0.01, 0, 0},  {17.0, 0.004, 5.0, 0.001},  {3.0, 0.03, 0, 0},
      {15.0, 0.002, 0.3, 0.001}, {3.0, 0.05, 0, 0}, {19.0, 0.004, 0.3, 0.002},
      {3.0, 0.01, 0, 0}};
  int r = 3;
  for (const auto& v : rows) {
    for (int c = 0; c < 4; ++c) s.bdata(r, c + 1) = v[c];
    ++r;
  }
  s.bdata(r, 1) = 9.0;
  tavo::Mat4 a;
  tavo::stigmat(s, 1, a);
  tavo::Lattice lat;
  std::string why;
  if (!tavo::buildLattice(s, lat, why)) throw std::runtime_error(why);
  return lat;
}

void BM_RoundColumnMap5Chromatic(benchmark::State& st) {
  const tavo::Lattice lat = column();
  const tavo::da::Space sp(5, 5);
  tavo::MapSettings set;
  for (auto _ : st) {
    std::vector<tavo::da::Poly> map;
    std::string why;
    if (!tavo::systemMap(lat, set, sp, map, why)) st.SkipWithError(why.c_str());
    benchmark::DoNotOptimize(map);
  }
}

void BM_RoundColumnOptics(benchmark::State& st) {
  const tavo::Lattice lat = column();
  tavo::MapSettings set;
  for (auto _ : st) {
    tavo::RoundOptics o;
    std::string why;
    if (!tavo::roundOptics(lat, set, 0.0, lat.zend, o, why, true)) st.SkipWithError(why.c_str());
    benchmark::DoNotOptimize(o);
  }
}

}  // namespace

BENCHMARK(BM_RoundColumnMap5Chromatic)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundColumnOptics)->Unit(benchmark::kMillisecond);
